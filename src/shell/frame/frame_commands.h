// The frame's commands as the menus and the tool strip offer them: each
// command's id, menu, menu text with its shortcut, and the help line the
// status line shows for it (the string with the command's id). Tool
// buttons carry "KEY|help" strings whose key is the button's shortcut.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace zentrope {

namespace command {
// The frame's own (menu "MenuInit").
inline constexpr int kNew = 1998;
inline constexpr int kOpen = 1996;
inline constexpr int kGlobalPreferences = 1968;
inline constexpr int kExit = 1990;
inline constexpr int kContents = 1974;
inline constexpr int kUsingHelp = 1972;
inline constexpr int kAbout = 1980;
// The Window menu the module windows share.
inline constexpr int kCloseAll = 1988;
inline constexpr int kTile = 1986;
inline constexpr int kTileVertically = 1985;
inline constexpr int kCascade = 1984;
inline constexpr int kArrangeIcons = 1982;
inline constexpr int kSnapShot = 1965;
inline constexpr int kTwinView = 1964;
inline constexpr int kQuadView = 1963;
inline constexpr int kToolPanel = 1978;
inline constexpr int kInfoPanel = 1976;
// Tool buttons: the frame's strip, then the module windows' buttons.
inline constexpr int kNewButton = 10701;
inline constexpr int kOpenButton = 10702;
inline constexpr int kZoomButton = 10010;
inline constexpr int kPanButton = 10011;
inline constexpr int kOrbitButton = 10012;
inline constexpr int kFirstFrameButton = 10013;
inline constexpr int kPreviousFrameButton = 10014;
inline constexpr int kPlayButton = 10015;
inline constexpr int kNextFrameButton = 10016;
inline constexpr int kLastFrameButton = 10017;
inline constexpr int kRenderButton = 10018;
inline constexpr int kQuickRenderButton = 10019;
inline constexpr int kShadedButton = 10020;
}  // namespace command

struct FrameCommand {
  int id;
  const char* menu;      // "File", "Window" or "Help"
  const char* menuText;  // with "&" before the access key and "\t" before the shortcut
};

// Every menu command of the frame and the Window menu, in menu order.
std::span<const FrameCommand> FrameCommands();
const FrameCommand* FindFrameCommand(int id);

// A menu text as the menu shows it: the label without its "&" ("&&" stays
// one ampersand) and the shortcut after the tab, trimmed.
struct MenuLabel {
  std::string label;
  std::string shortcut;
};
MenuLabel SplitMenuText(std::string_view menuText);

// The status line's text for a command: the string with the command's id;
// for a tool button the part after the bar. Empty when there is none.
std::string HelpLine(int id);

// The shortcut a tool button shows: the part of its string before the bar
// (empty when the string has no bar or no such string exists).
std::string ToolButtonShortcut(int id);

}  // namespace zentrope
