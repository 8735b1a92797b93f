// Every documented section and key of zentrope.ini with its default.
#include <cstdio>
#include <cstring>

#include "shell/settings.h"

namespace zentrope {

namespace {

std::vector<SettingDefault> BuildDefaults() {
  std::vector<SettingDefault> d = {
      {"RENDER", "Filename", "Anim:preview.avi"},
      {"RENDER", "RenderMode", "WIREFRAME"},
      {"RENDER", "ZBufferMode", "GOURAUD"},
      {"RENDER", "Shadows", "OFF"},
      {"RENDER", "Reflections", "OFF"},
      {"RENDER", "AlphaBuffer", "OFF"},
      {"RENDER", "AntiAliasMode", "NONE"},
      {"RENDER", "ShowDecals", "ON"},
      {"RENDER", "ShowFrameNumber", "OFF"},
      {"RENDER", "OutputSizePreset", "LORES"},
      {"RENDER", "OutputWidth", "0"},
      {"RENDER", "OutputHeight", "0"},
      {"RENDER", "OutputAspectRatio", "0"},
      {"RENDER", "OutputMode", "SPECIFIC"},
      {"RENDER", "FrameRate", "30"},
      {"RENDER", "Step", "1"},
      {"RENDER", "RenderFormat", "AVI"},
      {"RENDER", "StereoMode", "MONO"},
      {"QUICKRENDER", "RenderMode", "ZBUFFER"},
      {"QUICKRENDER", "ZBufferMode", "GOURAUD"},
      {"QUICKRENDER", "Shadows", "OFF"},
      {"QUICKRENDER", "Reflections", "OFF"},
      {"QUICKRENDER", "AntiAliasMode", "NONE"},
      {"QUICKRENDER", "ShowDecals", "ON"},
      {"QUICKRENDER", "DefaultLightSource", "CENTER"},
      {"NETWORK", "TempPath", "Temp:"},
      {"GLOBAL", "PerspectiveBirdsEye", "OFF"},
      {"GLOBAL", "ErrorLog", "OFF"},
      {"GLOBAL", "VariableSubDivision", "OFF"},
      {"GLOBAL", "SubDivisionMultiplier", "0"},
      {"GLOBAL", "SubDivisions", "4"},
      {"GLOBAL", "ShowPreviewFiles", "ON"},
      {"MEMORY", "MaxMemory", "-1"},
      {"STATE", "ToolPanel", "1 0 0"},
      {"STATE", "InfoPanel", "0 0 0"},
      {"STATE", "AttributesPanel", "0 0 0"},
      {"STATE", "ConstraintsPanel", "0 0 0"},
      {"STATE", "WindowPosition", "Bogus"},
      {"CHANNEL", "UnlimitedUndo", "ON"},
      {"CHANNEL", "UndoLevels", "5"},
      {"CHANNEL", "Grid", "ON"},
      {"CHANNEL", "Interface", "ON"},
      {"CHANNEL", "Rulers", "ON"},
      {"CHANNEL", "CrossHairs", "ON"},
      {"CHANNEL", "ShowTools", "ON"},
      {"SKELETAL", "EnforceConstraints", "ON"},
      {"SKELETAL", "RealTime", "ON"},
      {"SKELETAL", "DisplayModel", "ON"},
      {"SKELETAL", "CaptureRate", "1"},
      {"DIRECTION", "DefaultFrames", "30"},
      {"DIRECTION", "RotoScope", "ON"},
      {"DIRECTION", "LightCones", "ON"},
      {"DIRECTION", "FogCones", "ON"},
      {"DIRECTION", "TVSafe", "ON"},
      {"DIRECTION", "TitleSafe", "OFF"},
      {"DIRECTION", "CameraCone", "ON"},
      {"DIRECTION", "Grid", "ON"},
      {"DIRECTION", "GridSpacing", "200"},
      {"SCULPTURE", "ShowDecalPreview", "ON"},
      {"FONT", "Height", "-13"},
      {"FONT", "Width", "0"},
      {"FONT", "Escapement", "0"},
      {"FONT", "Orientation", "0"},
      {"FONT", "Weight", "400"},
      {"FONT", "Italic", "0"},
      {"FONT", "Underline", "0"},
      {"FONT", "Strikeout", "0"},
      {"FONT", "Charset", "0"},
      {"FONT", "Outprecision", "3"},
      {"FONT", "Clipprecision", "2"},
      {"FONT", "Quality", "1"},
      {"FONT", "Pitchandfamily", "18"},
      {"FONT", "Facename", "Arial"},
      {"FONT", "Style", "Regular"},
      {"AVI", "Handler", "0"},
      {"AVI", "Key", "15"},
      {"AVI", "Quality", "7500"},
      {"AVI", "Bytes", "0"},
      {"AVI", "Flags", "0"},
  };
  for (int i = 0; i < 16; ++i) {
    const std::string grey = std::to_string(16 * i);
    for (const char* channel : {"red", "green", "blue"}) {
      d.push_back({"CUSTOMCOLORS", channel + std::to_string(i), grey});
    }
  }
  return d;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

const std::vector<SettingDefault>& SettingDefaults() {
  static const std::vector<SettingDefault> defaults = BuildDefaults();
  return defaults;
}

std::optional<std::string> DefaultFor(std::string_view section, std::string_view key) {
  for (const SettingDefault& d : SettingDefaults()) {
    if (EqualNoCase(d.section, section) && EqualNoCase(d.key, key)) {
      return d.defaultValue;
    }
  }
  // FILES: "Last" + extension + "Name", default "*." + the extension.
  if (EqualNoCase(section, "FILES") && key.size() > 8 && EqualNoCase(key.substr(0, 4), "Last") &&
      EqualNoCase(key.substr(key.size() - 4), "Name")) {
    std::string ext(key.substr(4, key.size() - 8));
    for (char& c : ext) {
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return "*." + ext;
  }
  return std::nullopt;
}

}  // namespace zentrope
