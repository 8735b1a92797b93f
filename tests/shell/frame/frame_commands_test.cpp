// The frame's command table: menu texts as the menus show them, the help
// lines the status line shows by command id, tool-button shortcuts.
#include "shell/frame/frame_commands.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace zentrope {
namespace {

// Catches: a frame command missing, or given another id's menu text.
TEST(FrameCommands, TheFrameMenuHasItsCommandsWithTheirTextsAndShortcuts) {
  const struct {
    int id;
    const char* label;
    const char* shortcut;
  } expected[] = {
      {1998, "New", "Ctrl+N"},
      {1996, "Open...", "Ctrl+O"},
      {1968, "Global Preferences...", "Ctrl+G"},
      {1990, "Exit", "Alt+F4"},
      {1974, "Contents", "F1"},
      {1972, "Using Help", ""},
      {1988, "Close All", ""},
      {1986, "Tile", ""},
      {1985, "Tile Vertically", ""},
      {1984, "Cascade", ""},
      {1982, "Arrange Icons", ""},
      {1965, "Snap Shot...", "Ctrl+H"},
  };
  for (const auto& e : expected) {
    const FrameCommand* c = FindFrameCommand(e.id);
    ASSERT_NE(c, nullptr) << e.id;
    const MenuLabel label = SplitMenuText(c->menuText);
    EXPECT_EQ(label.label, e.label) << e.id;
    EXPECT_EQ(label.shortcut, e.shortcut) << e.id;
  }
  for (int id : {1964, 1963, 1978, 1976, 1980}) {
    EXPECT_NE(FindFrameCommand(id), nullptr) << id;
  }
  EXPECT_EQ(FindFrameCommand(1), nullptr);
}

// Catches: "&&" (a real ampersand) dropped with the access-key marks.
TEST(FrameCommands, MenuTextsLoseTheirAccessMarksButKeepDoubledAmpersands) {
  EXPECT_EQ(SplitMenuText("Sn&ap Shot...\tCtrl+H").label, "Snap Shot...");
  EXPECT_EQ(SplitMenuText("Load && Go").label, "Load & Go");
  EXPECT_EQ(SplitMenuText("&Contents\t F1").shortcut, "F1");
  EXPECT_EQ(SplitMenuText("").label, "");
}

// Catches: a command whose status line stays empty, or shows the menu text
// instead of the help text of its id.
TEST(HelpLines, EveryMenuCommandHasAHelpLineOfItsOwnId) {
  std::set<std::string> seen;
  for (const FrameCommand& c : FrameCommands()) {
    const std::string help = HelpLine(c.id);
    EXPECT_FALSE(help.empty()) << c.id;
    EXPECT_EQ(help.find('\t'), std::string::npos) << c.id << ": " << help;
    EXPECT_TRUE(seen.insert(help).second) << "repeated: " << help;
  }
  EXPECT_EQ(HelpLine(1148), "Save this Segment.");
  EXPECT_EQ(HelpLine(123456), "");
}

// Catches: the key before the bar shown as part of the help text, or the
// text after it taken as the shortcut.
TEST(HelpLines, ToolButtonsShowTheKeyBeforeTheBar) {
  EXPECT_EQ(ToolButtonShortcut(command::kZoomButton), "Z");
  EXPECT_EQ(HelpLine(command::kZoomButton), "(L) Enter Zoom Mode, (R) Zoom-to-fit.");
  EXPECT_EQ(ToolButtonShortcut(command::kNewButton), "Ctrl+N");
  for (int id = command::kZoomButton; id <= command::kShadedButton; ++id) {
    EXPECT_FALSE(ToolButtonShortcut(id).empty()) << id;
    EXPECT_FALSE(HelpLine(id).empty()) << id;
  }
  // A menu command's string has no bar and so no button key.
  EXPECT_EQ(ToolButtonShortcut(command::kOpen), "");
}

}  // namespace
}  // namespace zentrope
