// Render settings: the full set (section RENDER) used for rendering a range
// of frames and the quick set (QUICKRENDER) used for one-frame previews and
// exports, with the mode flag word the renderers test, the output size
// presets, the output format, the stereo bits and the default light.
#pragma once

#include <cstdint>
#include <string>

#include "core/vector3.h"
#include "shell/settings.h"

namespace zentrope {

// Mode flag bits, the same for both sets.
namespace render_flags {
inline constexpr std::uint16_t kWireframe = 0x0001;
inline constexpr std::uint16_t kSmooth = 0x0004;
inline constexpr std::uint16_t kShowDecals = 0x0008;
inline constexpr std::uint16_t kRaytrace = 0x0010;
inline constexpr std::uint16_t kShadows = 0x0020;
inline constexpr std::uint16_t kAntiAliasLow = 0x0040;
inline constexpr std::uint16_t kPhong = 0x0100;
inline constexpr std::uint16_t kFlat = 0x0200;
inline constexpr std::uint16_t kZBuffer = 0x0400;
inline constexpr std::uint16_t kFrameNumber = 0x0800;
inline constexpr std::uint16_t kReflections = 0x1000;
inline constexpr std::uint16_t kAntiAliasHigh = 0x2000;
}  // namespace render_flags

// Scene flag bits of the stereo choice.
inline constexpr std::uint16_t kStereoRightEye = 0x200;
inline constexpr std::uint16_t kStereoLeftEye = 0x400;

enum class RenderMode { kWireframe, kZBuffer, kRaytrace };
enum class Shading { kFlat, kGouraud, kPhong };
enum class AntiAlias { kNone, kLow, kHigh };
enum class RenderFormat : std::int16_t { kAvi = 1, kTarga = 2, kDxf = 4, kQtm = 5, kQt = 6 };
enum class Stereo { kMono, kLeftEye, kRightEye };
enum class LightSource {
  kTopLeft,
  kTop,
  kTopRight,
  kLeft,
  kCenter,
  kRight,
  kBottomLeft,
  kBottom,
  kBottomRight
};

// Output size presets, by index.
inline constexpr std::int16_t kPresetCustom = 0;
inline constexpr std::int16_t kPresetLores = 2;
inline constexpr std::int16_t kPresetSelection = 10;

struct RenderSettings {
  std::string outputName = "Anim:preview.avi";
  RenderMode mode = RenderMode::kWireframe;
  Shading shading = Shading::kGouraud;
  bool shadows = false;
  bool reflections = false;
  bool alphaBuffer = false;
  AntiAlias antiAlias = AntiAlias::kNone;
  bool showDecals = true;
  bool showFrameNumber = false;
  std::int16_t sizePreset = kPresetLores;  // the chosen size, 0..6
  bool selectionOutput = false;            // OutputMode "SELECTION"
  std::int16_t customWidth = 1;
  std::int16_t customHeight = 1;
  float customAspect = 0.001f;
  std::int16_t frameRate = 30;
  float step = 1.0f;
  RenderFormat format = RenderFormat::kAvi;
  Stereo stereo = Stereo::kMono;

  std::uint16_t ModeFlags() const;
  // The preset index in force: 10 for a selection, else the size preset.
  std::int16_t OutputPreset() const { return selectionOutput ? kPresetSelection : sizePreset; }
  std::int16_t OutputWidth() const;
  std::int16_t OutputHeight() const;
  float OutputAspect() const;
  std::uint16_t StereoFlags() const;
  // The anti-alias level handed to the raytracer: 0, 1 (low), 2 (high).
  int AntiAliasLevel() const;
};

struct QuickRenderSettings {
  RenderMode mode = RenderMode::kZBuffer;  // z-buffer unless "RAYTRACE"
  Shading shading = Shading::kGouraud;
  bool shadows = false;
  bool reflections = false;
  AntiAlias antiAlias = AntiAlias::kNone;
  bool showDecals = true;
  LightSource light = LightSource::kCenter;

  std::uint16_t ModeFlags() const;
  // The single light of a window without choreography lights.
  Vector3 LightDirection() const;
};

// Both sets as loaded at start-up (and changed by whoever edits them).
struct SessionRenderSettings {
  RenderSettings full;
  QuickRenderSettings quick;
};
SessionRenderSettings& RenderSettingsOfSession();
// Registers the start-up step that loads both sets from the settings file.
void RegisterRenderSettingsStartUp();

// The size of a preset, index 1..6; false for CUSTOM, SELECTION and
// anything else.
bool PresetSize(std::int16_t index, std::int16_t& width, std::int16_t& height);
// The index of a preset's name ("MINI" ... "FILM", "CUSTOM"), whatever its
// case; −1 for any other text.
std::int16_t PresetIndexNamed(const std::string& name);

// The settings-file word of a format ("AVI", "TGA", ...).
const char* RenderFormatName(RenderFormat format);
// The format a choreography's output name selects by its extension: "avi",
// "dxf" and "qtm" their own, anything else a Targa sequence.
RenderFormat RenderFormatForOutput(const std::string& outputName);

RenderSettings load_render_settings(const SettingsFile& file);
QuickRenderSettings load_quick_render_settings(const SettingsFile& file);
bool save_render_settings(SettingsFile& file, const RenderSettings& settings);
bool save_quick_render_settings(SettingsFile& file, const QuickRenderSettings& settings);

}  // namespace zentrope
