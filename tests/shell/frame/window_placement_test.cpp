// STATE "WindowPosition" and the panel keys: the stored layout, "Bogus",
// damaged values, and the round trip through the settings file.
#include "shell/frame/window_placement.h"

#include <gtest/gtest.h>

#include "shell/settings.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

// Catches: the ten fields read in another order (the rectangle taken from
// the minimised or maximised positions).
TEST(WindowPlacement, TheTenFieldsReadInTheirStoredOrder) {
  const std::optional<WindowPlacement> p = ParseWindowPlacement("0 1 -1 -1 -8 -8 40 30 840 630");
  ASSERT_TRUE(p);
  EXPECT_EQ(p->maxX, -8);
  EXPECT_EQ(p->left, 40);
  EXPECT_EQ(p->top, 30);
  EXPECT_EQ(p->Width(), 800);
  EXPECT_EQ(p->Height(), 600);
  EXPECT_FALSE(p->Maximised());
  EXPECT_EQ(FormatWindowPlacement(*p), "0 1 -1 -1 -8 -8 40 30 840 630");
}

// Catches: a damaged value placing the frame off in nowhere instead of
// maximising it as "Bogus" does.
TEST(WindowPlacement, BogusAndDamagedValuesMaximise) {
  EXPECT_FALSE(ParseWindowPlacement("Bogus"));
  EXPECT_FALSE(ParseWindowPlacement(""));
  EXPECT_FALSE(ParseWindowPlacement("0 1 -1 -1 -1 -1 40 30 840"));        // nine numbers
  EXPECT_FALSE(ParseWindowPlacement("0 1 -1 -1 -1 -1 40 30 840 630 7"));  // eleven
  EXPECT_FALSE(ParseWindowPlacement("0 1 -1 -1 -1 -1 840 30 40 630"));    // no width
  EXPECT_FALSE(ParseWindowPlacement("0 1 -1 -1 -1 -1 40 30 840 630 junk"));
}

// Catches: a frame closed minimised coming back minimised (stored as
// normal), or a maximised one coming back as a window.
TEST(WindowPlacement, OnlyTheMaximisedStateIsKept) {
  EXPECT_TRUE(ParseWindowPlacement("0 3 -1 -1 -1 -1 0 0 1280 1024")->Maximised());
  const auto minimised = ParseWindowPlacement("0 2 -1 -1 -1 -1 0 0 640 480");
  ASSERT_TRUE(minimised);
  EXPECT_EQ(minimised->show, kShowNormal);
}

// Catches: a stored rectangle larger than the screen (the program cannot
// start) or off it (the frame out of reach) restored as it is.
TEST(WindowPlacement, AStoredPlacementIsFittedToTheScreen) {
  const ScreenArea screen{0, 0, 1024, 768};
  const WindowPlacement huge = *ParseWindowPlacement("0 1 -1 -1 -1 -1 5000 5000 65000 65000");
  const WindowPlacement fitted = FitPlacement(huge, screen);
  EXPECT_EQ(fitted.left, 0);
  EXPECT_EQ(fitted.top, 0);
  EXPECT_EQ(fitted.Width(), 1024);
  EXPECT_EQ(fitted.Height(), 768);
  // Above the screen (the title bar out of reach) or off its left edge.
  EXPECT_EQ(FitPlacement(*ParseWindowPlacement("0 1 -1 -1 -1 -1 100 -300 500 100"), screen).top, 0);
  EXPECT_EQ(FitPlacement(*ParseWindowPlacement("0 1 -1 -1 -1 -1 -900 10 -500 400"), screen).left,
            0);
  // One that shows is left where it is, and a tiny one grows to be usable.
  const WindowPlacement inside = *ParseWindowPlacement("0 1 -1 -1 -1 -1 40 30 840 630");
  EXPECT_EQ(FormatWindowPlacement(FitPlacement(inside, screen)), FormatWindowPlacement(inside));
  const WindowPlacement tiny =
      FitPlacement(*ParseWindowPlacement("0 1 -1 -1 -1 -1 9 9 10 10"), screen);
  EXPECT_EQ(tiny.Width(), 200);
  EXPECT_EQ(tiny.Height(), 150);
  // A screen on a second monitor's coordinates.
  const WindowPlacement second =
      FitPlacement(*ParseWindowPlacement("0 1 -1 -1 -1 -1 0 0 640 480"), {1920, 0, 1280, 1024});
  EXPECT_EQ(second.left, 1920);
}

// Catches: a damaged panel value hiding the tool panel for good.
TEST(PanelState, DamagedValuesFallBackToTheDefault) {
  const PanelState shown{true, 0, 0};
  EXPECT_EQ(ParsePanelState("0 12 -4", shown).shown, false);
  EXPECT_EQ(ParsePanelState("0 12 -4", shown).left, 12);
  EXPECT_EQ(ParsePanelState("0 12 -4", shown).top, -4);
  EXPECT_TRUE(ParsePanelState("x", shown).shown);
  EXPECT_TRUE(ParsePanelState("0 1", shown).shown);
  EXPECT_EQ(FormatPanelState({true, 5, 6}), "1 5 6");
}

// Catches: a key written under another name, or a value that does not read
// back as written.
TEST(FrameState, WrittenStateReadsBackFromTheSettingsFile) {
  testing::TempDir dir;
  SettingsFile settings(dir / "zentrope.ini");
  const FrameState fresh = ReadFrameState(settings);
  EXPECT_FALSE(fresh.placement);  // "Bogus" by default
  EXPECT_TRUE(fresh.Of(Panel::kTool).shown);
  EXPECT_FALSE(fresh.Of(Panel::kInfo).shown);

  FrameState state = fresh;
  state.placement = ParseWindowPlacement("0 1 -1 -1 -1 -1 40 30 840 630");
  state.Of(Panel::kTool) = {false, 7, 8};
  state.Of(Panel::kInfo) = {true, 300, 20};
  std::string why;
  ASSERT_TRUE(WriteFrameState(settings, state, &why)) << why;
  EXPECT_EQ(settings.Stored("STATE", "WindowPosition"), "0 1 -1 -1 -1 -1 40 30 840 630");
  EXPECT_EQ(settings.Stored("STATE", "ToolPanel"), "0 7 8");
  EXPECT_EQ(settings.Stored("STATE", "InfoPanel"), "1 300 20");
  EXPECT_EQ(settings.Stored("STATE", "AttributesPanel"), "0 0 0");
  EXPECT_EQ(settings.Stored("STATE", "ConstraintsPanel"), "0 0 0");
  const FrameState back = ReadFrameState(settings);
  ASSERT_TRUE(back.placement);
  EXPECT_EQ(back.placement->Width(), 800);
  EXPECT_EQ(back.Of(Panel::kInfo).left, 300);
  EXPECT_FALSE(back.Of(Panel::kTool).shown);

  // A frame never placed writes "Bogus" back.
  FrameState bogus;
  ASSERT_TRUE(WriteFrameState(settings, bogus, &why));
  EXPECT_EQ(settings.Stored("STATE", "WindowPosition"), "Bogus");
}

}  // namespace
}  // namespace zentrope
