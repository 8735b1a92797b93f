// The frame's command table and its help lines.
#include "shell/frame/frame_commands.h"

#include <array>

#include "shell/string_table.h"

namespace zentrope {

namespace {

constexpr std::array<FrameCommand, 17> kAll = {{
    {command::kNew, "File", "&New\tCtrl+N"},
    {command::kOpen, "File", "&Open...\tCtrl+O"},
    {command::kGlobalPreferences, "File", "&Global Preferences...\tCtrl+G"},
    {command::kExit, "File", "E&xit\tAlt+F4"},
    {command::kCloseAll, "Window", "Close &All"},
    {command::kTile, "Window", "&Tile"},
    {command::kTileVertically, "Window", "Tile &Vertically"},
    {command::kCascade, "Window", "&Cascade"},
    {command::kArrangeIcons, "Window", "Arrange &Icons"},
    {command::kSnapShot, "Window", "Sn&ap Shot...\tCtrl+H"},
    {command::kTwinView, "Window", "T&win View"},
    {command::kQuadView, "Window", "&Quad View"},
    {command::kToolPanel, "Window", "T&ool Panel"},
    {command::kInfoPanel, "Window", "I&nfo Panel"},
    {command::kContents, "Help", "&Contents\t F1"},
    {command::kUsingHelp, "Help", "&Using Help"},
    {command::kAbout, "Help", "&About Zentrope Studio..."},
}};

std::string Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = s.find_last_not_of(" \t");
  return std::string(s.substr(first, last - first + 1));
}

}  // namespace

std::span<const FrameCommand> FrameCommands() {
  return kAll;
}

const FrameCommand* FindFrameCommand(int id) {
  for (const FrameCommand& c : kAll) {
    if (c.id == id) {
      return &c;
    }
  }
  return nullptr;
}

MenuLabel SplitMenuText(std::string_view menuText) {
  MenuLabel out;
  const auto tab = menuText.find('\t');
  const std::string_view label = menuText.substr(0, tab);
  for (std::size_t i = 0; i < label.size(); ++i) {
    if (label[i] == '&') {
      if (i + 1 < label.size() && label[i + 1] == '&') {
        out.label += '&';
        ++i;
      }
      continue;
    }
    out.label += label[i];
  }
  if (tab != std::string_view::npos) {
    out.shortcut = Trim(menuText.substr(tab + 1));
  }
  return out;
}

std::string HelpLine(int id) {
  const std::optional<std::string_view> text = FindString(id);
  if (!text) {
    return {};
  }
  const auto bar = text->find('|');
  if (bar == std::string_view::npos) {
    return std::string(*text);
  }
  return std::string(text->substr(bar + 1));
}

std::string ToolButtonShortcut(int id) {
  const std::optional<std::string_view> text = FindString(id);
  if (!text) {
    return {};
  }
  const auto bar = text->find('|');
  if (bar == std::string_view::npos) {
    return {};
  }
  return std::string(text->substr(0, bar));
}

}  // namespace zentrope
