// STATE "WindowPosition" and the panel keys.
#include "shell/frame/window_placement.h"

#include <algorithm>
#include <cstdio>

#include "shell/settings.h"

namespace zentrope {

namespace {

struct PanelEntry {
  const char* key;
  const char* title;
  PanelState fallback;
};

constexpr PanelEntry kPanels[] = {
    {"ToolPanel", "Tools", {true, 0, 0}},
    {"InfoPanel", "Info", {false, 0, 0}},
    {"AttributesPanel", "Attributes", {false, 0, 0}},
    {"ConstraintsPanel", "Constraints", {false, 0, 0}},
};

const PanelEntry& EntryOf(Panel p) {
  return kPanels[static_cast<std::size_t>(p)];
}

}  // namespace

std::optional<WindowPlacement> ParseWindowPlacement(std::string_view text) {
  const std::string s(text);
  WindowPlacement p;
  int used = 0;
  if (std::sscanf(s.c_str(), "%u %u %d %d %d %d %d %d %d %d %n", &p.flags, &p.show, &p.minX,
                  &p.minY, &p.maxX, &p.maxY, &p.left, &p.top, &p.right, &p.bottom, &used) != 10 ||
      static_cast<std::size_t>(used) != s.size()) {
    return std::nullopt;
  }
  if (p.Width() <= 0 || p.Height() <= 0) {
    return std::nullopt;
  }
  // Any state but maximised comes back as a normal frame.
  if (p.show != kShowMaximised) {
    p.show = kShowNormal;
  }
  return p;
}

std::string FormatWindowPlacement(const WindowPlacement& p) {
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, "%u %u %d %d %d %d %d %d %d %d", p.flags, p.show, p.minX,
                p.minY, p.maxX, p.maxY, p.left, p.top, p.right, p.bottom);
  return buffer;
}

WindowPlacement FitPlacement(WindowPlacement p, const ScreenArea& screen) {
  if (screen.width <= 0 || screen.height <= 0) {
    return p;
  }
  constexpr int kMinWidth = 200, kMinHeight = 150, kShowing = 50;
  const int width = std::clamp(p.Width(), std::min(kMinWidth, screen.width), screen.width);
  const int height = std::clamp(p.Height(), std::min(kMinHeight, screen.height), screen.height);
  // Wide enough a strip of the frame on the screen, or back to its corner.
  const bool showsX =
      p.left + width >= screen.x + kShowing && p.left <= screen.x + screen.width - kShowing;
  const bool showsY = p.top >= screen.y && p.top <= screen.y + screen.height - kShowing;
  if (!showsX || !showsY) {
    p.left = screen.x;
    p.top = screen.y;
  }
  p.right = p.left + width;
  p.bottom = p.top + height;
  return p;
}

const char* PanelKey(Panel panel) {
  return EntryOf(panel).key;
}
const char* PanelTitle(Panel panel) {
  return EntryOf(panel).title;
}

PanelState ParsePanelState(std::string_view text, const PanelState& fallback) {
  const std::string s(text);
  int shown = 0, left = 0, top = 0, used = 0;
  if (std::sscanf(s.c_str(), "%d %d %d %n", &shown, &left, &top, &used) != 3 ||
      static_cast<std::size_t>(used) != s.size()) {
    return fallback;
  }
  return {shown != 0, left, top};
}

std::string FormatPanelState(const PanelState& state) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%d %d %d", state.shown ? 1 : 0, state.left, state.top);
  return buffer;
}

FrameState ReadFrameState(const SettingsFile& settings) {
  FrameState state;
  state.placement =
      ParseWindowPlacement(settings.read_setting_text("STATE", "WindowPosition", "Bogus"));
  for (Panel p : kAllPanels) {
    const PanelEntry& e = EntryOf(p);
    state.Of(p) = ParsePanelState(
        settings.read_setting_text("STATE", e.key, FormatPanelState(e.fallback)), e.fallback);
  }
  return state;
}

bool WriteFrameState(SettingsFile& settings, const FrameState& state, std::string* detail) {
  bool ok = settings.write_setting(
      "STATE", "WindowPosition",
      state.placement ? FormatWindowPlacement(*state.placement) : std::string("Bogus"), detail);
  for (Panel p : kAllPanels) {
    ok = settings.write_setting("STATE", PanelKey(p), FormatPanelState(state.Of(p)), detail) && ok;
  }
  return ok;
}

}  // namespace zentrope
