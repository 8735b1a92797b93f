// Frame lists and frame file names: the Targa numbering rule, '#' patterns,
// list parsing with its limits and messages, and finding finished frames.
#include "io/frame_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::CurrentFolderScope;
using testing::TempDir;
using testing::WriteFile;

std::vector<float> Frames(std::initializer_list<float> list) {
  return std::vector<float>(list);
}

std::vector<float> Span(int first, int last, int step = 1) {
  std::vector<float> frames;
  for (int f = first; f <= last; f += step) {
    frames.push_back(static_cast<float>(f));
  }
  return frames;
}

// ---- The Targa rule ----

// Catches: the base not cut to leave room for a wider number, or cut by the
// wrong amount for one width. Expected: base + number = 8 characters once
// the number has 1..8 digits (WALKCYCLE is 9), the number whole beyond.
TEST(TargaFrameName, EveryNumberWidthKeepsTheBaseWithinEightCharacters) {
  struct Case {
    int frame;
    const char* expected;
  };
  const Case cases[] = {
      {7, "WALKCYC7.TGA"},       {12, "WALKCY12.TGA"},       {123, "WALKC123.TGA"},
      {1234, "WALK1234.TGA"},    {12345, "WAL12345.TGA"},    {123456, "WA123456.TGA"},
      {1234567, "W1234567.TGA"}, {12345678, "12345678.TGA"}, {123456789, "123456789.TGA"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TargaFrameName("WALKCYCLE.TGA", c.frame), c.expected) << c.frame;
  }
}

// Catches: a short base padded or cut although base and number fit.
TEST(TargaFrameName, ShortBaseKeptWhole) {
  EXPECT_EQ(TargaFrameName("SHOT.TGA", 12), "SHOT12.TGA");
  EXPECT_EQ(TargaFrameName("SHOT.TGA", 1), "SHOT1.TGA");
  EXPECT_EQ(TargaFrameName("SHOT.TGA", 1234), "SHOT1234.TGA");
  // 4 + 5 digits is one too many: one letter goes.
  EXPECT_EQ(TargaFrameName("SHOT.TGA", 12345), "SHO12345.TGA");
}

// Catches: the export rule's dropping of trailing digits applied to Targa
// frames (take2 must stay take2).
TEST(TargaFrameName, TrailingDigitsOfTheBaseKept) {
  EXPECT_EQ(TargaFrameName("take2.tga", 12), "take212.tga");
  // shot0001 is 8 characters: one goes to make room for the 5.
  EXPECT_EQ(TargaFrameName("shot0001.tga", 5), "shot0005.tga");
}

// Catches: the folder cut or numbered, a dot in a folder taken for the
// extension, a name without extension given one.
TEST(TargaFrameName, FolderKeptAndNamesWithoutExtension) {
  EXPECT_EQ(TargaFrameName("renders/v1.2/WALKCYCLE.TGA", 7), "renders/v1.2/WALKCYC7.TGA");
  EXPECT_EQ(TargaFrameName("/abs/out/SHOT.TGA", 12), "/abs/out/SHOT12.TGA");
  EXPECT_EQ(TargaFrameName("out/frame", 3), "out/frame3");
  EXPECT_EQ(TargaFrameName("out.d/longframename", 3), "out.d/longfra3");
  EXPECT_EQ(TargaFrameName("frame", 0), "frame0");
}

// Catches: the cut landing inside a two-byte character. "aéééé" is 9 bytes;
// with "12" the base gets 6 bytes, which would split the third é, so it
// keeps 5 (a, é, é).
TEST(TargaFrameName, CutNeverSplitsAUtf8Character) {
  EXPECT_EQ(TargaFrameName("a\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9.tga", 12),
            "a\xC3\xA9\xC3\xA9"
            "12.tga");
  EXPECT_EQ(TargaFrameName("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9.tga", 12),
            "\xC3\xA9\xC3\xA9\xC3\xA9"
            "12.tga");
}

// Catches: a negative frame losing its sign ("%d").
TEST(TargaFrameName, NegativeFrameKeepsItsSign) {
  EXPECT_EQ(TargaFrameName("SHOT.TGA", -5), "SHOT-5.TGA");
  EXPECT_EQ(TargaFrameName("WALKCYCLE.TGA", -5), "WALKCY-5.TGA");
}

// ---- '#' patterns ----

// Catches: a '#' in a folder taken for a pattern, or the pattern missed.
TEST(FrameFileName, HasFramePatternLooksAtTheFilePartOnly) {
  EXPECT_TRUE(HasFramePattern("out/walk_####.png"));
  EXPECT_TRUE(HasFramePattern("#.png"));
  EXPECT_FALSE(HasFramePattern("take#1/walk.tga"));
  EXPECT_FALSE(HasFramePattern("walk.tga"));
  EXPECT_FALSE(HasFramePattern(""));
}

// Catches: padding to the wrong width, wider numbers cut to the run,
// another run than the last replaced.
TEST(FrameFileName, PatternPaddedToTheRunsWidth) {
  EXPECT_EQ(FrameFileName("out/walk_####.png", 7), "out/walk_0007.png");
  EXPECT_EQ(FrameFileName("out/walk_####.png", 0), "out/walk_0000.png");
  EXPECT_EQ(FrameFileName("out/walk_####.png", 9999), "out/walk_9999.png");
  EXPECT_EQ(FrameFileName("out/walk_####.png", 12345), "out/walk_12345.png");
  EXPECT_EQ(FrameFileName("#.png", 42), "42.png");
  EXPECT_EQ(FrameFileName("a##b###.png", 5), "a##b005.png");
  EXPECT_EQ(FrameFileName("shot_###", 5), "shot_005");
  // "%0*d": the sign takes one of the run's places.
  EXPECT_EQ(FrameFileName("walk_####.png", -5), "walk_-005.png");
}

// Catches: a run wider than a formatting buffer cut short or overflowing
// it: the number is still padded to the whole run.
TEST(FrameFileName, VeryWideRunPaddedWhole) {
  const std::string run(100, '#');
  EXPECT_EQ(FrameFileName("f" + run + ".png", 5), "f" + std::string(99, '0') + "5.png");
  EXPECT_EQ(FrameFileName("f" + run + ".png", -5), "f-" + std::string(98, '0') + "5.png");
}

// Catches: a name without '#' not falling back to the Targa rule, or a
// folder's '#' replaced.
TEST(FrameFileName, WithoutPatternTheTargaRule) {
  EXPECT_EQ(FrameFileName("WALKCYCLE.TGA", 7), "WALKCYC7.TGA");
  EXPECT_EQ(FrameFileName("take#1/walk.png", 3), "take#1/walk3.png");
}

// ---- FrameRange ----

// Catches: accumulated steps drifting so 0.1 misses the last frame, or a
// bad step looping for ever.
TEST(FrameRange, StepsAndEmptyRanges) {
  EXPECT_EQ(FrameRange(1, 5, 1), Span(1, 5));
  EXPECT_EQ(FrameRange(1, 10, 3), Frames({1, 4, 7, 10}));
  EXPECT_EQ(FrameRange(3, 3, 1), Frames({3}));
  EXPECT_TRUE(FrameRange(5, 4, 1).empty());
  const std::vector<float> tenths = FrameRange(1, 2, 0.1f);
  ASSERT_EQ(tenths.size(), 11u);
  EXPECT_NEAR(tenths.back(), 2.0f, 1e-4f);
  EXPECT_EQ(FrameRange(1, 3, 0), Span(1, 3));
  EXPECT_EQ(FrameRange(1, 3, -2), Span(1, 3));
  EXPECT_EQ(FrameRange(1, 3, std::numeric_limits<float>::quiet_NaN()), Span(1, 3));
  EXPECT_EQ(FrameRange(1, 3, std::numeric_limits<float>::infinity()), Span(1, 3));
}

// Catches: an endless or unbounded range (last infinite, first not a
// number).
TEST(FrameRange, BoundedByTheFrameLimit) {
  EXPECT_EQ(FrameRange(0, std::numeric_limits<float>::infinity(), 1).size(), kMaxFrameCount);
  EXPECT_TRUE(FrameRange(std::numeric_limits<float>::quiet_NaN(), 5, 1).empty());
}

// ---- ParseFrameList ----

std::vector<float> Parse(const std::string& text, float step = 1.0f) {
  std::string error;
  const auto frames = ParseFrameList(text, step, &error);
  EXPECT_TRUE(frames.has_value()) << text << ": " << error;
  return frames.value_or(std::vector<float>{});
}

std::string ParseError(const std::string& text, float step = 1.0f) {
  std::string error;
  const auto frames = ParseFrameList(text, step, &error);
  EXPECT_FALSE(frames.has_value()) << text;
  return error;
}

// Catches: one of the three forms misread, or the step ignored.
TEST(ParseFrameList, TheThreeForms) {
  EXPECT_EQ(Parse("1-100"), Span(1, 100));
  EXPECT_EQ(Parse("1-100x5"), Span(1, 96, 5));
  std::vector<float> listed{1, 3};
  for (float f : Span(7, 20)) {
    listed.push_back(f);
  }
  EXPECT_EQ(Parse("1,3,7-20"), listed);
  EXPECT_EQ(Parse("10-20x4"), Frames({10, 14, 18}));
  EXPECT_EQ(Parse("42"), Frames({42}));
  EXPECT_EQ(Parse(" 1 - 3 , 5 "), Frames({1, 2, 3, 5}));
  EXPECT_EQ(Parse("5-5"), Frames({5}));
}

// Catches: the scene's step not used for ranges without their own, or used
// where a range has one.
TEST(ParseFrameList, DefaultStepForRangesWithoutTheirOwn) {
  EXPECT_EQ(Parse("1-10", 3.0f), Frames({1, 4, 7, 10}));
  EXPECT_EQ(Parse("1-10x2", 3.0f), Frames({1, 3, 5, 7, 9}));
  EXPECT_EQ(Parse("1-4", 1.5f), Frames({1, 2.5f, 4}));
  // A single frame needs no step.
  EXPECT_EQ(Parse("7", 0.5f), Frames({7}));
}

// Catches: repeats rendered twice, or the order sorted instead of kept.
TEST(ParseFrameList, RepeatsDroppedOrderKept) {
  EXPECT_EQ(Parse("5,1-6,5,3"), Frames({5, 1, 2, 3, 4, 6}));
  EXPECT_EQ(Parse("9,8,7"), Frames({9, 8, 7}));
}

// Catches: the first or last allowed frame refused, one past them taken.
TEST(ParseFrameList, FrameNumberLimits) {
  EXPECT_EQ(Parse("0"), Frames({0}));
  EXPECT_EQ(Parse("999999"), Frames({999999}));
  EXPECT_NE(ParseError("1000000").find("0 to 999999"), std::string::npos);
  EXPECT_NE(ParseError("1-1000000").find("0 to 999999"), std::string::npos);
  // Many digits must not wrap round to a small frame.
  EXPECT_NE(ParseError("18446744073709551617").find("0 to 999999"), std::string::npos);
}

// Catches: the frame limit not enforced (a list allocating without bound),
// or enforced one frame early. 0-999999 is exactly kMaxFrameCount frames;
// frames are counted as listed, so one more listed frame is over.
TEST(ParseFrameList, FrameCountLimit) {
  EXPECT_EQ(Parse("0-999999").size(), kMaxFrameCount);
  const std::string error = ParseError("0-999999,0");
  EXPECT_NE(error.find("more than 1000000 frames"), std::string::npos) << error;
  EXPECT_NE(error.find("expected at most"), std::string::npos) << error;
}

// Catches: a malformed list accepted (part of it rendered) or a message that
// does not say what was wanted. Each message names the item and what was
// expected.
TEST(ParseFrameList, ErrorsSayWhatWasExpected) {
  struct Case {
    const char* text;
    const char* item;
    const char* expected;
  };
  const Case cases[] = {
      {"", "", "empty frame list: expected frames N, ranges A-B or A-BxS"},
      {"   ", "", "empty frame list"},
      {"abc", "\"abc\"", "expected frames N, ranges A-B or A-BxS"},
      {"-5", "\"-5\"", "expected frames N"},
      {"1-", "\"1-\"", "expected the last frame after '-'"},
      {"1-x2", "\"1-x2\"", "expected the last frame after '-'"},
      {"20-10", "\"20-10\"", "expected the first frame of a range at most its last"},
      {"1-10x0", "\"1-10x0\"", "at least 1 when written"},
      {"1-10x", "\"1-10x\"", "expected a whole-number step of at least 1 after 'x'"},
      {"1-10x2.5", "\"1-10x2.5\"", "expected frames N"},
      {"1,,2", "\"\"", "expected frames N"},
      {"1,", "\"\"", "expected frames N"},
      {"1;2", "\"1;2\"", "expected frames N"},
      {"3 4", "\"3 4\"", "expected frames N"},
      {"1-5-9", "\"1-5-9\"", "expected frames N"},
  };
  for (const Case& c : cases) {
    const std::string error = ParseError(c.text);
    EXPECT_NE(error.find(c.expected), std::string::npos) << c.text << " → " << error;
    EXPECT_NE(error.find(c.item), std::string::npos) << c.text << " → " << error;
  }
}

// Catches: a scene's field step (0.5) refused for ranges, or a step that
// does not move forwards accepted (an endless list).
TEST(ParseFrameList, SceneStepMayBeAFractionAboveZero) {
  EXPECT_EQ(Parse("1-2", 0.5f), Frames({1, 1.5f, 2}));
  for (const float bad : {0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN()}) {
    const std::string error = ParseError("1-10", bad);
    EXPECT_NE(error.find("expected a step above 0"), std::string::npos) << error;
    EXPECT_NE(error.find("(the scene's step"), std::string::npos) << error;
  }
}

// Catches: a null error pointer dereferenced.
TEST(ParseFrameList, NullErrorAllowed) {
  EXPECT_FALSE(ParseFrameList("x", 1.0f, nullptr).has_value());
  EXPECT_TRUE(ParseFrameList("1", 1.0f, nullptr).has_value());
}

// ---- Finished frames on disk ----

// Catches: an empty file (a frame cut short) or a folder counted as
// finished, a missing file or dangling link taken, links not followed.
TEST(FrameFileComplete, OnlyNonEmptyRegularFiles) {
  TempDir dir;
  WriteFile(dir / "full.png", "x");
  WriteFile(dir / "empty.png", "");
  std::filesystem::create_directory(dir / "folder.png");
  std::filesystem::create_symlink(dir / "full.png", dir / "link.png");
  std::filesystem::create_symlink(dir / "gone.png", dir / "dangling.png");
  EXPECT_TRUE(FrameFileComplete(dir / "full.png"));
  EXPECT_TRUE(FrameFileComplete(dir / "link.png"));
  EXPECT_FALSE(FrameFileComplete(dir / "empty.png"));
  EXPECT_FALSE(FrameFileComplete(dir / "folder.png"));
  EXPECT_FALSE(FrameFileComplete(dir / "missing.png"));
  EXPECT_FALSE(FrameFileComplete(dir / "dangling.png"));
}

std::vector<int> FrameNumbers(const std::vector<FrameFile>& files) {
  std::vector<int> numbers;
  for (const FrameFile& f : files) {
    numbers.push_back(f.frame);
  }
  return numbers;
}

// Catches: look-alike files taken for frames (extra zeros, other case,
// other extension, temporaries, empty or folder), frames missed, or the
// result unsorted.
TEST(FindFrameFiles, PatternNames) {
  TempDir dir;
  for (const char* name : {"walk_0002.png", "walk_12345.png", "walk_0001.png", "walk_-003.png"}) {
    WriteFile(dir / name, "frame");
  }
  for (const char* name : {"walk_00004.png", "walk_0005.png.tmp", "walk_abcd.png", "Walk_0006.png",
                           "walk_0007.tga", "walk_007.png", "walk_0009.png"}) {
    WriteFile(dir / name, name == std::string("walk_0009.png") ? "" : "look-alike");
  }
  std::filesystem::create_directory(dir / "walk_0008.png");
  const std::string pattern = (dir / "walk_####.png").string();
  const std::vector<FrameFile> files = FindFrameFiles(pattern);
  EXPECT_EQ(FrameNumbers(files), (std::vector<int>{-3, 1, 2, 12345}));
  ASSERT_EQ(files.size(), 4u);
  EXPECT_EQ(files[1].path, dir / "walk_0001.png");
  EXPECT_EQ(files[3].path, dir / "walk_12345.png");
}

// Catches: a Targa frame whose base ends in digits split at the wrong
// place, or look-alikes taken (leading zero, extra extension, other case,
// the output name itself).
TEST(FindFrameFiles, TargaNames) {
  TempDir dir;
  for (const char* name : {"SHOT1.TGA", "SHOT12.TGA", "SHO12345.TGA"}) {
    WriteFile(dir / name, "frame");
  }
  for (const char* name : {"SHOT012.TGA", "SHOT12.TGA.bak", "SHOT.TGA", "SHOTX1.TGA", "shot2.tga",
                           "SHOT2.tga", "SHOT12345.TGA"}) {
    WriteFile(dir / name, "look-alike");
  }
  WriteFile(dir / "SHOT3.TGA", "");
  EXPECT_EQ(FrameNumbers(FindFrameFiles((dir / "SHOT.TGA").string())),
            (std::vector<int>{1, 12, 12345}));

  // TAKE2 at 1 is TAKE21, at 12 TAKE212.
  WriteFile(dir / "TAKE21.TGA", "frame");
  WriteFile(dir / "TAKE212.TGA", "frame");
  EXPECT_EQ(FrameNumbers(FindFrameFiles((dir / "TAKE2.TGA").string())), (std::vector<int>{1, 12}));
}

// Catches: a name without folder looked up anywhere but the current
// folder, or its paths given a folder it did not have.
TEST(FindFrameFiles, CurrentFolderAndMissingFolder) {
  TempDir dir;
  WriteFile(dir / "f_01.png", "frame");
  {
    CurrentFolderScope here(dir.path());
    const std::vector<FrameFile> files = FindFrameFiles("f_##.png");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].frame, 1);
    EXPECT_EQ(files[0].path, std::filesystem::path("f_01.png"));
  }
  EXPECT_TRUE(FindFrameFiles((dir / "no_such_folder/f_##.png").string()).empty());
}

}  // namespace
}  // namespace zentrope
