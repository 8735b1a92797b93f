// Values read as written: the default table of every channel set kind,
// channel set records newer than this program in every document that
// embeds them, and the spine frame's layout (and the earlier build's).
#include <gtest/gtest.h>

#include <sstream>

#include "anim/action_file.h"
#include "anim/channel_file.h"
#include "anim/channel_kinds.h"
#include "anim/spine.h"
#include "shell/string_table.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// A channel set record (version 2) with no keys; more chains another set.
std::string SetText(int count, int kind, int version = 2, bool more = false) {
  std::string s =
      std::to_string(count) + " " + std::to_string(kind) + " " + std::to_string(version) + "\n";
  if (version == 2) {
    s += "-1 -1 -1 -1 0 0 5 -1 1\n";
  }
  s += "set\ndummypathname\n";
  for (int i = 0; i < count; ++i) {
    s += "1\n0\n";
  }
  return s + (more ? "1\n" : "0\n");
}

constexpr char kActionHead[] = "ACTI 1 0 1 0 0 0\n0\n10\n0 0 0 0 0 0 0 0 0\n0\n";

std::string NodeRecord(const std::string& segment, const std::string& set) {
  return segment + "\n2\n" + set + "nomuscle\nnospine\n";
}

// Catches: a set read from a file left without defaults (every unkeyed
// channel 0), for the first set of a chain and for the sets chained after
// it.
TEST(ChannelKindTest, EverySetReadTakesTheTableOfItsKind) {
  // The expected values are the kinds' tables: camera channel 11 (stereo
  // spacing) 10, light channel 1 (red) 191, bias channel 2 (Magnitude In)
  // 100, placement channel 1 (X Scale) 100, spine channel 4 (Y Scale) 100,
  // skeletal channel 7 (Y Orient) −100.
  const struct {
    int kind, count, channel;
    float value;
  } cases[] = {{2, 12, 11, 10.0f}, {4, 9, 1, 191.0f},  {6, 6, 2, 100.0f},
               {1, 8, 1, 100.0f},  {14, 9, 4, 100.0f}, {16, 10, 7, -100.0f}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    TextReader first(SetText(c.count, c.kind), "first");
    Result<std::unique_ptr<ChannelSet>> set = ReadChannelSet(first);
    ASSERT_TRUE(set) << set.failure().detail;
    EXPECT_EQ(EvaluateChannel(**set, c.channel, 5), c.value);
    // The same kind as the second set of a chain.
    TextReader chained(SetText(1, 3, 2, true) + SetText(c.count, c.kind), "chained");
    Result<std::unique_ptr<ChannelSet>> chain = ReadChannelSet(chained);
    ASSERT_TRUE(chain) << chain.failure().detail;
    ASSERT_NE((*chain)->next, nullptr);
    EXPECT_EQ(EvaluateChannel(*(*chain)->next, c.channel, 5), c.value);
  }
  EXPECT_TRUE(KindDefaults(9).empty()) << "a material node's table belongs to the node";
  EXPECT_TRUE(KindDefaults(0).empty());
}

// Catches: a non-skeletal set in an action evaluated with scales of 0, so
// that its segment collapses to a point.
TEST(ChannelKindTest, ActionSetsOfOtherKindsKeepTheirScale) {
  // Every kind but 16 in a node's slot is posed in the direct-angle layout:
  // unkeyed, translation 0 and scale 100 percent, whatever its own kind's
  // table (a camera's puts 0 at the scales, a light's 191).
  const int kinds[] = {1, 2, 3, 4, 5, 6, 7, 14, 16};
  std::string text = kActionHead;
  for (int kind : kinds) {
    text += NodeRecord("/m/k" + std::to_string(kind) + ".seg", SetText(kind == 16 ? 10 : 9, kind));
  }
  Result<Action> action = ParseAction(text, "/m/a.act");
  ASSERT_TRUE(action) << action.failure().detail;
  ASSERT_EQ(action->entries.size(), std::size(kinds));
  FigureNode node;
  for (const ActionEntry& e : action->entries) {
    SCOPED_TRACE(e.segmentPath);
    const NodePose pose = EvaluatePose(node, e.channels.get(), 4);
    EXPECT_EQ(pose.scale, (Vector3{1, 1, 1}));
    EXPECT_EQ(pose.translation, (Vector3{0, 0, 0}));
    if (e.channels->kind != kSkeletalKind) {
      EXPECT_EQ(e.channels->defaults.data(), kDirectAngleDefaults.data());
    }
  }
  EXPECT_EQ(action->entries.back().channels->defaults.data(), kSkeletalDefaults.data());
}

// Catches: a channel set record of version 3 reported as the document's own
// trouble message instead of "Requires Newer Software"; and version 2, the
// newest known, refused.
TEST(NewerChannelSetTest, EveryDocumentReportsRequiresNewerSoftware) {
  TempDir dir;
  const std::string newer = LoadString(str::kRequiresNewerSoftware);
  const std::string trouble = LoadString(str::kTroubleOpeningAction);
  // Action file.
  Result<Action> act =
      ParseAction(kActionHead + NodeRecord("/m/a.seg", SetText(10, 16, 3)), "/m/a.act");
  ASSERT_FALSE(act);
  EXPECT_EQ(act.failure().message, newer);
  EXPECT_TRUE(ParseAction(kActionHead + NodeRecord("/m/a.seg", SetText(10, 16, 2)), "/m/a.act"));
  // Older skeletal file, version 6 (a path and a channel set per node).
  WriteFile(dir / "old.ske",
            "ACTI 6 0 1 0 0 0\n0\n10\n0 0 0 0 0 0 0 0 0\n0\na.seg\n" + SetText(10, 16, 3));
  Result<Action> ske = ReadAction((dir / "old.ske").string());
  ASSERT_FALSE(ske);
  EXPECT_EQ(ske.failure().message, newer);
  // Muscle file: one free point, its bias set newer.
  WriteFile(dir / "a.mus", "MUSC 2 0 1 0 0 0\n0\n10\n1\n1\n3\n5\n2\n" + SetText(6, 6, 4) + "0\n");
  Result<MuscleFile> mus = ReadMuscle((dir / "a.mus").string());
  ASSERT_FALSE(mus);
  EXPECT_EQ(mus.failure().message, newer);
  WriteFile(dir / "b.mus", "MUSC 2 0 1 0 0 0\n0\n10\n1\n1\n3\n5\n2\n" + SetText(6, 6, 2) + "0\n");
  Result<MuscleFile> fine = ReadMuscle((dir / "b.mus").string());
  ASSERT_TRUE(fine) << fine.failure().detail;
  // Catches: records after the counted ones ignored (a count that ended the
  // read early), so that a resave of the action drops them.
  WriteFile(dir / "d.mus",
            "MUSC 2 0 1 0 0 0\n0\n10\n1\n1\n3\n5\n2\n" + SetText(6, 6, 2) + "0\n3\n");
  Result<MuscleFile> extra = ReadMuscle((dir / "d.mus").string());
  ASSERT_FALSE(extra);
  EXPECT_EQ(extra.failure().message, trouble);
  EXPECT_NE(extra.failure().detail.find("data after the last record"), std::string::npos);
  // A muscle file broken otherwise keeps the action's own message.
  WriteFile(dir / "c.mus", "MUSC 2 0 1 0 0 0\n0\n10\n1\n1\n3\n5\n2\n7 6\n");
  Result<MuscleFile> broken = ReadMuscle((dir / "c.mus").string());
  ASSERT_FALSE(broken);
  EXPECT_EQ(broken.failure().message, trouble);
  // Spine file: a one-point spine (point number 1) keyed with a newer set.
  SplineSet rest;
  const Vector3 spline[] = {{0, 0, 0}};
  rest.AppendSpline(spline);
  rest.Splines()[0].first->number = 1;
  WriteFile(dir / "a.spi", "SPIN 1 0 1 0 0 0\n0\n10\n1\n1\n2\n" + SetText(9, 14, 3));
  Result<Spine> spi = ReadSpine((dir / "a.spi").string(), rest);
  ASSERT_FALSE(spi);
  EXPECT_EQ(spi.failure().message, newer);
}

Segment TwoPointSpine() {
  Segment seg;
  const Vector3 spine[] = {{0, 0, 0}, {0, 10, 0}};
  seg.Splines().AppendSpline(spine);
  seg.Renumber();
  seg.RebuildWorkingCopy();
  return seg;
}

constexpr char kValues[] = "1 2 3 150 100 100 10 20 30";

void ExpectSecondPointKeyed(const Spine& spine, float frame) {
  EXPECT_EQ(spine.points[0].channels, nullptr);
  ASSERT_NE(spine.points[1].channels, nullptr);
  const float want[9] = {1, 2, 3, 150, 100, 100, 10, 20, 30};
  for (int c = 0; c < 9; ++c) {
    EXPECT_EQ(EvaluateChannel(*spine.points[1].channels, c, frame), want[c]) << c;
  }
}

// Catches: the writer and reader agreeing on a reserved line the spine
// frame does not have, so that a file laid out as documented is read one
// line off (its first point's values landing on no point or the wrong one)
// and reported as success.
TEST(SpineFrameTest, LayoutIsHeaderSizeThenOneLinePerPoint) {
  TempDir dir;
  Segment seg = TwoPointSpine();
  Spine spine = AssignSpine(seg.Splines(), *seg.Splines().Splines()[0].first);
  const float values[9] = {1, 2, 3, 150, 100, 100, 10, 20, 30};
  for (int c = 0; c < 9; ++c) {
    ASSERT_TRUE(SetSpineKey(spine, 1, c, 4, values[c]));
  }
  ASSERT_EQ(WriteSpineFrame(spine, 4, 10, (dir / "w.spf").string()), SaveStatus::kSaved);
  EXPECT_EQ(ReadFile(dir / "w.spf"), std::string("SPIF 1 0 1 0 0 0\n10\n0\n") + kValues + "\n");

  // Written by hand as documented.
  WriteFile(dir / "hand.spf", std::string("SPIF 1 0 1 0 0 0\n10\n0\n") + kValues + "\n");
  Spine hand = AssignSpine(seg.Splines(), *seg.Splines().Splines()[0].first);
  ASSERT_TRUE(ReadSpineFrame(hand, 7, (dir / "hand.spf").string()));
  ExpectSecondPointKeyed(hand, 7);
  EXPECT_EQ(EvaluateChannel(*hand.points[1].channels, 3, 1), 100.0f) << "frame 1 at rest";
}

// Catches: the earlier build's files (a reserved "0" line before the size)
// no longer read, or a frame of another spine keyed onto this one.
TEST(SpineFrameTest, EarlierFilesReadAndOtherSpinesRefused) {
  TempDir dir;
  Segment seg = TwoPointSpine();
  auto fresh = [&] { return AssignSpine(seg.Splines(), *seg.Splines().Splines()[0].first); };
  WriteFile(dir / "old.spf", std::string("SPIF 1 0 1 0 0 0\n0\n10\n0\n") + kValues + "\n");
  Spine old = fresh();
  ASSERT_TRUE(ReadSpineFrame(old, 7, (dir / "old.spf").string()));
  ExpectSecondPointKeyed(old, 7);
  // Catches: blank lines an editor left at the end counted as spine points.
  WriteFile(dir / "blank.spf", std::string("SPIF 1 0 1 0 0 0\n10\n0\n") + kValues + "\n\n\r\n");
  Spine blank = fresh();
  ASSERT_TRUE(ReadSpineFrame(blank, 7, (dir / "blank.spf").string()));
  ExpectSecondPointKeyed(blank, 7);

  // One line too many without the reserved "0" (its second line is a size),
  // one line too few, a short values line, and a value that is not a
  // number: each fails with the spine untouched.
  const std::string bad[] = {
      std::string("SPIF 1 0 1 0 0 0\n10\n0\n0\n") + kValues + "\n",
      std::string("SPIF 1 0 1 0 0 0\n10\n") + kValues + "\n",
      std::string("SPIF 1 0 1 0 0 0\n10\n") + kValues + "\n1 2 3\n",
      std::string("SPIF 1 0 1 0 0 0\n10\n") + kValues + "\n1 2 3 4 5 6 7 8 nan\n",
      std::string("SPIF 2 0 1 0 0\n10\n0\n") + kValues + "\n",
  };
  for (const std::string& text : bad) {
    SCOPED_TRACE(text);
    WriteFile(dir / "bad.spf", text);
    Spine spine = fresh();
    EXPECT_FALSE(ReadSpineFrame(spine, 7, (dir / "bad.spf").string()));
    EXPECT_EQ(spine.points[0].channels, nullptr);
    EXPECT_EQ(spine.points[1].channels, nullptr);
  }
}

// Catches: resaving an action without its figure rewriting its muscle file
// with a size of 1, which is read back as the action's reference size and
// rescales every translation.
TEST(MuscleFileTest, ResaveWithoutTheFigureKeepsTheSize) {
  TempDir dir;
  std::filesystem::create_directories(dir / "muscle");
  WriteFile(dir / "muscle" / "m.mus",
            "MUSC 2 0 1 0 0 0\n0\n10\n12.5\n1\n3\n5\n2\n" + SetText(6, 6, 2) + "0\n");
  WriteFile(dir / "m.act",
            "ACTI 1 0 1 0 0 0\n0\n10\n0 0 0 0 0 0 0 0 0\n12.5\nlower.seg\nnoskeletal\n"
            "muscle/m.mus\nnospine\n");
  Result<Action> action = ReadAction((dir / "m.act").string());
  ASSERT_TRUE(action) << action.failure().detail;
  std::filesystem::create_directories(dir / "out");
  ASSERT_EQ(WriteAction(*action, (dir / "out" / "m.act").string()), SaveStatus::kSaved);
  std::istringstream mus(ReadFile(dir / "muscle" / "m.mus"));
  std::string line;
  for (int i = 0; i < 4; ++i) {
    std::getline(mus, line);
  }
  EXPECT_EQ(std::stof(line), 12.5f);
  Result<Action> again = ReadAction((dir / "out" / "m.act").string());
  ASSERT_TRUE(again) << again.failure().detail;
  EXPECT_EQ(again->referenceSize, 12.5f);
}

}  // namespace
}  // namespace zentrope
