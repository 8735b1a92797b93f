// The frame's placement and the panels' state as the STATE section keeps
// them: "WindowPosition" holds placement flags, the show state, the
// minimised and maximised positions and the normal rectangle ("Bogus", the
// default, asks for a maximised frame); each panel holds "shown left top".
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zentrope {

class SettingsFile;

// Show states as stored: 1 normal (a minimised or hidden frame is stored as
// normal), 3 maximised.
inline constexpr std::uint32_t kShowNormal = 1;
inline constexpr std::uint32_t kShowMaximised = 3;

struct WindowPlacement {
  std::uint32_t flags = 0;
  std::uint32_t show = kShowNormal;
  int minX = -1, minY = -1;
  int maxX = -1, maxY = -1;
  int left = 0, top = 0, right = 0, bottom = 0;  // the normal rectangle

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Maximised() const { return show == kShowMaximised; }
};

// "%u %u %d %d %d %d %d %d %d %d". Nothing for "Bogus" or text that does not
// hold ten numbers, or a rectangle without area (the frame is maximised
// then).
std::optional<WindowPlacement> ParseWindowPlacement(std::string_view text);
std::string FormatWindowPlacement(const WindowPlacement& placement);

// The usable area of the screen a frame is placed on.
struct ScreenArea {
  int x = 0, y = 0, width = 0, height = 0;
};

// The stored placement made to fit the screen it is restored on: no larger
// than the screen's usable area (nor smaller than 200 × 150), and moved
// back onto it when less than 50 pixels of it would show, so a value from
// another screen (or a damaged one) can never put the frame out of reach.
WindowPlacement FitPlacement(WindowPlacement placement, const ScreenArea& screen);

struct PanelState {
  bool shown = false;
  int left = 0;
  int top = 0;
};

// The panels the frame restores, by their STATE keys.
enum class Panel { kTool, kInfo, kAttributes, kConstraints };
inline constexpr std::array<Panel, 4> kAllPanels = {Panel::kTool, Panel::kInfo, Panel::kAttributes,
                                                    Panel::kConstraints};
const char* PanelKey(Panel panel);    // "ToolPanel", "InfoPanel", ...
const char* PanelTitle(Panel panel);  // "Tools", "Info", ...

// "%d %d %d"; text that does not parse gives the panel's default.
PanelState ParsePanelState(std::string_view text, const PanelState& fallback);
std::string FormatPanelState(const PanelState& state);

// The frame's state read from and written to the STATE section.
struct FrameState {
  std::optional<WindowPlacement> placement;  // none: maximise
  std::array<PanelState, 4> panels;
  PanelState& Of(Panel p) { return panels[static_cast<std::size_t>(p)]; }
  const PanelState& Of(Panel p) const { return panels[static_cast<std::size_t>(p)]; }
};
FrameState ReadFrameState(const SettingsFile& settings);
// False (with why) when a key could not be written; the others are still tried.
bool WriteFrameState(SettingsFile& settings, const FrameState& state, std::string* detail);

}  // namespace zentrope
