// Render settings to and from the settings file.
#include "render/render_settings.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "shell/startup.h"

namespace zentrope {

namespace {

struct Preset {
  const char* name;
  std::int16_t width, height;
  float aspect;
};

constexpr Preset kPresets[] = {
    {"CUSTOM", 0, 0, 0.0f},      {"MINI", 80, 60, 1.0f},    {"LORES", 320, 240, 1.0f},
    {"TARGA", 512, 486, 1.266f}, {"HIRES", 640, 480, 1.0f}, {"D1", 720, 486, 0.909f},
    {"FILM", 1440, 972, 0.909f},
};

constexpr const char* kLightNames[] = {"TOPLEFT", "TOP",        "TOPRIGHT", "LEFT",       "CENTER",
                                       "RIGHT",   "BOTTOMLEFT", "BOTTOM",   "BOTTOMRIGHT"};
constexpr Vector3 kLightDirections[] = {
    {-0.577f, 0.577f, -0.577f},  {0.0f, 0.707f, -0.707f},  {0.577f, 0.577f, -0.577f},
    {-0.707f, 0.0f, -0.707f},    {0.0f, 0.0f, -1.0f},      {0.707f, 0.0f, -0.707f},
    {-0.577f, -0.577f, -0.577f}, {0.0f, -0.707f, -0.707f}, {0.577f, -0.577f, -0.577f},
};

Shading ReadShading(const std::string& s) {
  if (s == "FLAT") {
    return Shading::kFlat;
  }
  return s == "PHONG" ? Shading::kPhong : Shading::kGouraud;
}

const char* ShadingName(Shading s) {
  return s == Shading::kFlat ? "FLAT" : (s == Shading::kPhong ? "PHONG" : "GOURAUD");
}

AntiAlias ReadAntiAlias(const std::string& s) {
  if (s == "LOW") {
    return AntiAlias::kLow;
  }
  return s == "HIGH" ? AntiAlias::kHigh : AntiAlias::kNone;
}

const char* AntiAliasName(AntiAlias a) {
  return a == AntiAlias::kLow ? "LOW" : (a == AntiAlias::kHigh ? "HIGH" : "NONE");
}

const char* ModeName(RenderMode m) {
  return m == RenderMode::kRaytrace ? "RAYTRACE"
                                    : (m == RenderMode::kZBuffer ? "ZBUFFER" : "WIREFRAME");
}

const char* OnOff(bool on) {
  return on ? "ON" : "OFF";
}

std::uint16_t CommonFlags(RenderMode mode, Shading shading, bool shadows, bool reflections,
                          AntiAlias aa, bool decals) {
  using namespace render_flags;
  std::uint16_t f = 0;
  f |= mode == RenderMode::kRaytrace ? kRaytrace
                                     : (mode == RenderMode::kZBuffer ? kZBuffer : kWireframe);
  if (shading == Shading::kGouraud) {
    f |= kSmooth;
  } else if (shading == Shading::kFlat) {
    f |= kSmooth | kFlat;
  } else {
    f |= kPhong;
  }
  f |= shadows ? kShadows : 0;
  f |= reflections ? kReflections : 0;
  f |= aa == AntiAlias::kLow ? kAntiAliasLow : (aa == AntiAlias::kHigh ? kAntiAliasHigh : 0);
  f |= decals ? kShowDecals : 0;
  return f;
}

std::string Format(const char* format, double v) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, v);
  return buffer;
}

std::string FormatShort(std::int16_t v) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%hd", v);
  return buffer;
}

}  // namespace

std::uint16_t RenderSettings::ModeFlags() const {
  std::uint16_t f = CommonFlags(mode, shading, shadows, reflections, antiAlias, showDecals);
  return showFrameNumber ? static_cast<std::uint16_t>(f | render_flags::kFrameNumber) : f;
}

bool PresetSize(std::int16_t index, std::int16_t& width, std::int16_t& height) {
  if (index < 1 || index >= static_cast<std::int16_t>(std::size(kPresets))) {
    return false;
  }
  width = kPresets[index].width;
  height = kPresets[index].height;
  return true;
}

std::int16_t PresetIndexNamed(const std::string& name) {
  std::string upper = name;
  for (char& c : upper) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  for (std::int16_t i = 0; i < static_cast<std::int16_t>(std::size(kPresets)); ++i) {
    if (upper == kPresets[i].name) {
      return i;
    }
  }
  return -1;
}

std::int16_t RenderSettings::OutputWidth() const {
  return sizePreset == kPresetCustom ? customWidth : kPresets[sizePreset].width;
}

std::int16_t RenderSettings::OutputHeight() const {
  return sizePreset == kPresetCustom ? customHeight : kPresets[sizePreset].height;
}

float RenderSettings::OutputAspect() const {
  return sizePreset == kPresetCustom ? customAspect : kPresets[sizePreset].aspect;
}

std::uint16_t RenderSettings::StereoFlags() const {
  return stereo == Stereo::kRightEye ? kStereoRightEye
                                     : (stereo == Stereo::kLeftEye ? kStereoLeftEye : 0);
}

int RenderSettings::AntiAliasLevel() const {
  return antiAlias == AntiAlias::kLow ? 1 : (antiAlias == AntiAlias::kHigh ? 2 : 0);
}

std::uint16_t QuickRenderSettings::ModeFlags() const {
  return CommonFlags(mode, shading, shadows, reflections, antiAlias, showDecals);
}

Vector3 QuickRenderSettings::LightDirection() const {
  return kLightDirections[static_cast<int>(light)];
}

SessionRenderSettings& RenderSettingsOfSession() {
  static SessionRenderSettings settings;
  return settings;
}

void RegisterRenderSettingsStartUp() {
  RegisterStartUpStep(StartUpStage::kSettings, [] {
    RenderSettingsOfSession().full = load_render_settings(Settings());
    RenderSettingsOfSession().quick = load_quick_render_settings(Settings());
    return true;
  });
}

RenderSettings load_render_settings(const SettingsFile& file) {
  RenderSettings s;
  auto text = [&](const char* key, const char* fallback) {
    return file.read_setting_text("RENDER", key, fallback);
  };
  s.outputName = text("Filename", "Anim:preview.avi");
  const std::string mode = text("RenderMode", "WIREFRAME");
  s.mode = mode == "RAYTRACE" ? RenderMode::kRaytrace
                              : (mode == "ZBUFFER" ? RenderMode::kZBuffer : RenderMode::kWireframe);
  s.shading = ReadShading(text("ZBufferMode", "GOURAUD"));
  s.shadows = file.read_setting_switch("RENDER", "Shadows", false);
  s.reflections = file.read_setting_switch("RENDER", "Reflections", false);
  s.alphaBuffer = file.read_setting_switch("RENDER", "AlphaBuffer", false);
  s.antiAlias = ReadAntiAlias(text("AntiAliasMode", "NONE"));
  s.showDecals = file.read_setting_switch("RENDER", "ShowDecals", true);
  s.showFrameNumber = file.read_setting_switch("RENDER", "ShowFrameNumber", false);
  const std::string preset = text("OutputSizePreset", "LORES");
  s.sizePreset = kPresetLores;  // any unknown text
  for (std::int16_t i = 0; i < static_cast<std::int16_t>(std::size(kPresets)); ++i) {
    if (preset == kPresets[i].name) {
      s.sizePreset = i;
    }
  }
  s.customWidth = file.read_setting_short("RENDER", "OutputWidth", 0);
  s.customHeight = file.read_setting_short("RENDER", "OutputHeight", 0);
  s.customAspect = file.read_setting_float("RENDER", "OutputAspectRatio", 0.0f);
  if (s.customWidth < 2) {
    s.customWidth = 1;
  }
  if (s.customHeight < 2) {
    s.customHeight = 1;
  }
  if (!(s.customAspect >= 0.001f)) {
    s.customAspect = 0.001f;
  }
  s.selectionOutput = text("OutputMode", "SPECIFIC") == "SELECTION";
  s.frameRate = file.read_setting_short("RENDER", "FrameRate", 30);
  s.step = file.read_setting_float("RENDER", "Step", 1.0f);
  if (s.step == 0.0f || !std::isfinite(s.step)) {
    s.step = 1.0f;
  }
  const std::string format = text("RenderFormat", "AVI");
  s.format = format == "TGA"   ? RenderFormat::kTarga
             : format == "DXF" ? RenderFormat::kDxf
             : format == "QTM" ? RenderFormat::kQtm
             : format == "QT"  ? RenderFormat::kQt
                               : RenderFormat::kAvi;
  const std::string stereo = text("StereoMode", "MONO");
  s.stereo = stereo == "RIGHTEYE" ? Stereo::kRightEye
                                  : (stereo == "LEFTEYE" ? Stereo::kLeftEye : Stereo::kMono);
  return s;
}

QuickRenderSettings load_quick_render_settings(const SettingsFile& file) {
  QuickRenderSettings q;
  auto text = [&](const char* key, const char* fallback) {
    return file.read_setting_text("QUICKRENDER", key, fallback);
  };
  q.mode =
      text("RenderMode", "ZBUFFER") == "RAYTRACE" ? RenderMode::kRaytrace : RenderMode::kZBuffer;
  q.shading = ReadShading(text("ZBufferMode", "GOURAUD"));
  q.shadows = file.read_setting_switch("QUICKRENDER", "Shadows", false);
  q.reflections = file.read_setting_switch("QUICKRENDER", "Reflections", false);
  q.antiAlias = ReadAntiAlias(text("AntiAliasMode", "NONE"));
  q.showDecals = file.read_setting_switch("QUICKRENDER", "ShowDecals", true);
  const std::string light = text("DefaultLightSource", "CENTER");
  q.light = LightSource::kCenter;  // any unknown text
  for (int i = 0; i < static_cast<int>(std::size(kLightNames)); ++i) {
    if (light == kLightNames[i]) {
      q.light = static_cast<LightSource>(i);
    }
  }
  return q;
}

bool save_render_settings(SettingsFile& file, const RenderSettings& s) {
  const char* stereo = s.stereo == Stereo::kRightEye
                           ? "RIGHTEYE"
                           : (s.stereo == Stereo::kLeftEye ? "LEFTEYE" : "MONO");
  const std::pair<const char*, std::string> values[] = {
      {"Filename", s.outputName},
      {"RenderMode", ModeName(s.mode)},
      {"ZBufferMode", ShadingName(s.shading)},
      {"Shadows", OnOff(s.shadows)},
      {"Reflections", OnOff(s.reflections)},
      {"AlphaBuffer", OnOff(s.alphaBuffer)},
      {"AntiAliasMode", AntiAliasName(s.antiAlias)},
      {"ShowDecals", OnOff(s.showDecals)},
      {"ShowFrameNumber", OnOff(s.showFrameNumber)},
      {"OutputSizePreset", kPresets[s.sizePreset].name},
      {"OutputWidth", FormatShort(s.customWidth)},
      {"OutputHeight", FormatShort(s.customHeight)},
      {"OutputAspectRatio", Format("%g", s.customAspect)},
      {"OutputMode", s.selectionOutput ? "SELECTION" : "SPECIFIC"},
      {"FrameRate", Format("%g", s.frameRate)},
      {"Step", Format("%g", s.step)},
      {"RenderFormat", RenderFormatName(s.format)},
      {"StereoMode", stereo},
  };
  bool ok = true;
  for (const auto& [key, value] : values) {
    ok = file.write_setting("RENDER", key, value) && ok;
  }
  return ok;
}

bool save_quick_render_settings(SettingsFile& file, const QuickRenderSettings& q) {
  const std::pair<const char*, std::string> values[] = {
      {"RenderMode", q.mode == RenderMode::kRaytrace ? "RAYTRACE" : "ZBUFFER"},
      {"ZBufferMode", ShadingName(q.shading)},
      {"Shadows", OnOff(q.shadows)},
      {"Reflections", OnOff(q.reflections)},
      {"AntiAliasMode", AntiAliasName(q.antiAlias)},
      {"ShowDecals", OnOff(q.showDecals)},
      {"DefaultLightSource", kLightNames[static_cast<int>(q.light)]},
  };
  bool ok = true;
  for (const auto& [key, value] : values) {
    ok = file.write_setting("QUICKRENDER", key, value) && ok;
  }
  return ok;
}

const char* RenderFormatName(RenderFormat format) {
  const char* formats[] = {"", "AVI", "TGA", "", "DXF", "QTM", "QT"};
  const auto i = static_cast<std::size_t>(format);
  return i < std::size(formats) ? formats[i] : "";
}

RenderFormat RenderFormatForOutput(const std::string& outputName) {
  std::string ext = std::filesystem::path(outputName).extension().string();
  for (char& c : ext) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return ext == ".avi"   ? RenderFormat::kAvi
         : ext == ".dxf" ? RenderFormat::kDxf
         : ext == ".qtm" ? RenderFormat::kQtm
                         : RenderFormat::kTarga;
}

}  // namespace zentrope
