// Skeletal frame files, the older action files and the action cache.
#include <gtest/gtest.h>

#include "anim/action_cache.h"
#include "anim/action_file.h"
#include "anim/legacy_action_file.h"
#include "anim/skeletal_frame.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::ReadFile;
using testing::SourceDir;
using testing::TempDir;
using testing::WriteFile;

Figure TwoNodes(const TempDir& dir, float patriarchSpan) {
  Figure figure;
  const int root = figure.AddSegment(kNoNode, (dir / "upper.seg").string());
  figure.AddSegment(root, (dir / "lower.seg").string());
  figure.nodes[0].boundsMin = {0, 0, 0};
  figure.nodes[0].boundsMax = {0, patriarchSpan, 0};
  figure.nodes[1].rotation = {30, 60, 15};
  return figure;
}

TEST(SkeletalFrameTest, WritesChildrenFirstAndKeysScaledBack) {
  TempDir dir;
  Figure figure = TwoNodes(dir, 10);
  Action action;
  SetPoseKey(action, figure, 0, 0, 5, 4, 0);
  SetPoseKey(action, figure, 1, 1, 5, -2, 0);
  SetPoseKey(action, figure, 1, 4, 5, 150, 100);
  ASSERT_EQ(WriteSkeletalFrame(action, figure, 5, (dir / "pose.skf").string()), SaveStatus::kSaved);
  const std::string text = ReadFile(dir / "pose.skf");
  EXPECT_EQ(text.substr(0, 23), "SKEF 1 0 1 0 0 0\n0\n10\nl");  // the child comes first
  EXPECT_NE(text.find("lower.seg\n2\n0 -2 0 100 150 100 0 -100 0 0 \n"), std::string::npos) << text;

  // Onto a figure twice the size, at frame 9 of a fresh action.
  Figure big = TwoNodes(dir, 20);
  Action fresh;
  Result<bool> read = ReadSkeletalFrame(fresh, big, 9, (dir / "pose.skf").string());
  ASSERT_TRUE(read) << read.failure().detail;
  const ChannelSet* lower = fresh.ChannelsOf((dir / "lower.seg").string());
  ASSERT_NE(lower, nullptr);
  EXPECT_EQ(EvaluateChannel(*lower, 1, 9), -4.0f);  // translation times the ratio
  EXPECT_EQ(EvaluateChannel(*lower, 4, 9), 150.0f);
  EXPECT_EQ(EvaluateChannel(*lower, 4, 1), 100.0f);  // frame 1 at rest
  EXPECT_EQ(EvaluateChannel(*lower, 9, 1), 15.0f);   // the node's own Roll at rest
  EXPECT_EQ(EvaluateChannel(*fresh.ChannelsOf((dir / "upper.seg").string()), 0, 9), 8.0f);
  Result<bool> missing = ReadSkeletalFrame(fresh, big, 9, (dir / "none.skf").string());
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.failure().message, "Trouble Opening Skeletal Frame");
}

TEST(LegacyActionTest, AngleChannelsBecomeDirections) {
  TempDir dir;
  Figure figure = TwoNodes(dir, 10);
  // Version 4: a path per node and an angle-keyed channel set (version 1
  // record): Latitude 0 → 90 over frames 1 to 11, Longitude 90, Roll 20.
  const std::string set =
      "9 16 1\nlower\ndummypathname\n"
      "1\n0\n1\n0\n1\n0\n1\n0\n1\n0\n1\n0\n"
      "1\n2\n1\n0 0 0\n0\n0\n1\n10 90 0\n0\n0\n"
      "1\n1\n1\n0 20 0\n0\n0\n"
      "1\n1\n1\n0 90 0\n0\n0\n0\n";
  WriteFile(dir / "old.ske", "ACTI 4 0 1 0 0 0\n0\n11\n0\nlower.seg\n" + set);
  Result<Action> action = ReadAction((dir / "old.ske").string(), &figure);
  ASSERT_TRUE(action) << action.failure().detail;
  ASSERT_EQ(action->entries.size(), 1u);
  const ChannelSet& k = *action->entries[0].channels;
  EXPECT_EQ(k.kind, kSkeletalKind);
  EXPECT_EQ(EvaluateChannel(k, 9, 5), 20.0f);
  Vector3 angles;
  EvaluatePose(figure.nodes[1], &k, 11, &angles);
  EXPECT_NEAR(angles.x, 90.0f, 1e-3f);
  EXPECT_NEAR(angles.y, 90.0f, 1e-3f);
  EvaluatePose(figure.nodes[1], &k, 1, &angles);
  EXPECT_NEAR(angles.x, 0.0f, 1e-3f);
  // Morph files carry their own tag; newer versions are refused.
  WriteFile(dir / "old.mor", "MORP 2 0 1 0 0 0\n0\n11\n0\n" + set + set);
  Result<Action> morph = ReadAction((dir / "old.mor").string(), &figure);
  ASSERT_TRUE(morph) << morph.failure().detail;
  EXPECT_EQ(morph->entries.size(), 2u);  // depth-first order without paths
  WriteFile(dir / "new.ske", "ACTI 7 0 1 0 0 0\n0\n11\n0\n");
  Result<Action> newer = ReadAction((dir / "new.ske").string(), &figure);
  ASSERT_FALSE(newer);
  EXPECT_EQ(newer.failure().message, "Requires Newer Software");
}

// Catches: a converted key keeping the loop-closing flag of the older list
// though its new list is open, so the next read dropped the flag and a
// resave of the resave differed from the first.
TEST(LegacyActionTest, ConvertedKeysResaveIdentically) {
  TempDir dir;
  Figure figure = TwoNodes(dir, 10);
  // Channel 0 has two keys at frame 1, the second closing the list (flags
  // 1 + 4); converted, they are one key, which cannot close a loop.
  const std::string set =
      "9 16 1\nlower\ndummypathname\n"
      "1\n2\n1\n0 0 0\n0\n0\n5\n0 5 0\n0\n0\n"
      "1\n0\n1\n0\n1\n0\n1\n0\n1\n0\n"
      "1\n0\n1\n0\n1\n0\n0\n";
  WriteFile(dir / "old.ske", "ACTI 4 0 1 0 0 0\n0\n11\n0\nlower.seg\n" + set);
  Result<Action> old = ReadAction((dir / "old.ske").string(), &figure);
  ASSERT_TRUE(old) << old.failure().detail;
  ASSERT_EQ(WriteAction(*old, (dir / "a.act").string(), &figure), SaveStatus::kSaved);
  Result<Action> again = ReadAction((dir / "a.act").string(), &figure);
  ASSERT_TRUE(again) << again.failure().detail;
  ASSERT_EQ(WriteAction(*again, (dir / "b.act").string(), &figure), SaveStatus::kSaved);
  EXPECT_EQ(ReadFile(dir / "a.act"), ReadFile(dir / "b.act"));
}

TEST(ActionCacheTest, SecondOpenBindsTheCachedAction) {
  ActionCache cache;
  const std::string arm = (SourceDir() / "examples" / "arm").string();
  Figure first;
  const int root = first.AddSegment(kNoNode, arm + "/upper.seg");
  first.AddSegment(root, arm + "/lower.seg");
  Figure second;
  const int r2 = second.AddSegment(kNoNode, arm + "/upper.seg");
  second.AddSegment(r2, arm + "/lower.seg");
  auto a = cache.Open(arm + "/wave.act", first);
  auto b = cache.Open(arm + "/./wave.act", second);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->get(), b->get());
  EXPECT_EQ(cache.Size(), 1u);
  EXPECT_EQ(first.nodes[1].channelSet, second.nodes[1].channelSet);
  EXPECT_NE(second.nodes[1].channelSet, nullptr);
  EXPECT_EQ(second.nodes[0].channelSet, nullptr);
}

// An angle-keyed record (channel set version 1) of the older files:
// X Translate 0 → 5 over frames 1 to 11, Latitude 0 → 90, Roll 20,
// Longitude 90.
std::string AngleSet() {
  return "9 16 1\nlower\ndummypathname\n"
         "1\n2\n1\n0 0 0\n0\n0\n1\n10 5 0\n0\n0\n"
         "1\n0\n1\n0\n1\n0\n1\n0\n1\n0\n"
         "1\n2\n1\n0 0 0\n0\n0\n1\n10 90 0\n0\n0\n"
         "1\n1\n1\n0 20 0\n0\n0\n"
         "1\n1\n1\n0 90 0\n0\n0\n0\n";
}

// Catches: the older files reached only through the action cache, and
// only with lower-case extensions, so that every other open (info, eval,
// choreography placements) refused them as "Requires Newer Software".
TEST(LegacyActionTest, EveryOpenReadsTheOlderFiles) {
  TempDir dir;
  Figure figure = TwoNodes(dir, 10);
  WriteFile(dir / "OLD.SKE", "ACTI 4 0 1 0 0 0\n0\n11\n0\nlower.seg\n" + AngleSet());
  for (const Figure* with :
       {static_cast<const Figure*>(&figure), static_cast<const Figure*>(nullptr)}) {
    Result<Action> action = ReadAction((dir / "OLD.SKE").string(), with);
    ASSERT_TRUE(action) << action.failure().detail;
    EXPECT_EQ(action->fileTag, "ACTI");
    EXPECT_EQ(action->fileVersion, 4);
    EXPECT_EQ(action->length, 11);
    ASSERT_EQ(action->entries.size(), 1u);
    EXPECT_EQ(action->entries[0].segmentPath, (dir / "lower.seg").string());
    EXPECT_EQ(EvaluateChannel(*action->entries[0].channels, 0, 11), 5.0f);
  }
  ActionCache cache;
  auto cached = cache.Open((dir / "OLD.SKE").string(), figure);
  ASSERT_TRUE(cached) << cached.failure().detail;
  EXPECT_NE(figure.nodes[1].channelSet, nullptr);
  // A morph file under another name is told by its tag.
  WriteFile(dir / "morph.dat", "MORP 3 0 1 0 0 0\n0\n8\n0\nlower.seg\n" + AngleSet());
  Result<Action> morph = ReadAction((dir / "morph.dat").string(), &figure);
  ASSERT_TRUE(morph) << morph.failure().detail;
  EXPECT_EQ(morph->fileTag, "MORP");
  EXPECT_EQ(morph->entries.size(), 1u);
}

// Catches: the placement's length and stride peeked with the action file's
// layout, which the older files do not have (no stride line before version
// 5, seven numbers in version 5).
TEST(LegacyActionTest, LengthAndStrideOfEveryVersion) {
  TempDir dir;
  const struct {
    const char* text;
    std::int16_t length;
    float stride;
  } cases[] = {
      {"ACTI 2 0 1 0 0 0\n0\n14\n0\n", 14, 0.0f},
      {"ACTI 4 0 1 0 0 0\n0\n15\n2.5\n", 15, 0.0f},
      {"ACTI 5 0 1 0 0 0\n0\n16\n1 2 3 4 5 6 7.5\n2.5\n", 16, 7.5f},
      {"ACTI 6 0 1 0 0 0\n0\n17\n1 2 3 4 5 6 8.5 3 4\n2.5\n", 17, 8.5f},
      {"MORP 6 0 1 0 0 0\n0\n18\n1 2 3 4 5 6 9.5 3 4\n2.5\n", 18, 9.5f},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    WriteFile(dir / "a.ske", c.text);
    std::int16_t length = 0;
    float stride = -1.0f;
    ASSERT_TRUE(PeekActionTiming((dir / "a.ske").string(), length, stride));
    EXPECT_EQ(length, c.length);
    EXPECT_EQ(stride, c.stride);
  }
  // Version 5 without its stride line, and a version 7, are not actions.
  std::int16_t length = 0;
  float stride = 0.0f;
  WriteFile(dir / "b.ske", "ACTI 5 0 1 0 0 0\n0\n16\n2.5\n");
  EXPECT_FALSE(PeekActionTiming((dir / "b.ske").string(), length, stride));
  WriteFile(dir / "c.ske", "ACTI 7 0 1 0 0 0\n0\n16\n2.5\n");
  EXPECT_FALSE(PeekActionTiming((dir / "c.ske").string(), length, stride));
  // An action file's own layout still peeks.
  WriteFile(dir / "d.act", "ACTI 1 0 1 0 0 0\n0\n19\n1 2 3 4 5 6 4.5 0 0\n0\n");
  ASSERT_TRUE(PeekActionTiming((dir / "d.act").string(), length, stride));
  EXPECT_EQ(length, 19);
  EXPECT_EQ(stride, 4.5f);
}

// Catches: the oldest files' records (no paths) dropped or misnamed
// without a figure, and a figure's missing segments kept when asked not to.
TEST(LegacyActionTest, RecordsOfTheOldestFilesFollowTheFigure) {
  TempDir dir;
  Figure figure = TwoNodes(dir, 10);
  WriteFile(dir / "two.mor", "MORP 2 0 1 0 0 0\n0\n11\n0\n" + AngleSet() + AngleSet() + "\n");
  Result<Action> unnamed = ReadAction((dir / "two.mor").string());
  ASSERT_TRUE(unnamed) << unnamed.failure().detail;
  ASSERT_EQ(unnamed->entries.size(), 2u) << "a trailing empty line is no record";
  EXPECT_EQ(unnamed->entries[0].segmentPath, "");
  Result<Action> named = ReadAction((dir / "two.mor").string(), &figure);
  ASSERT_TRUE(named) << named.failure().detail;
  ASSERT_EQ(named->entries.size(), 2u);
  EXPECT_EQ(named->entries[0].segmentPath, figure.nodes[0].name);  // depth first
  EXPECT_EQ(named->entries[1].segmentPath, figure.nodes[1].name);
  WriteFile(dir / "other.ske", "ACTI 3 0 1 0 0 0\n0\n11\n0\nelsewhere.seg\n" + AngleSet());
  Result<Action> dropped = ReadAction((dir / "other.ske").string(), &figure);
  ASSERT_TRUE(dropped) << dropped.failure().detail;
  EXPECT_TRUE(dropped->entries.empty());
  Result<Action> kept = ReadAction((dir / "other.ske").string(), &figure, true);
  ASSERT_TRUE(kept) << kept.failure().detail;
  EXPECT_EQ(kept->entries.size(), 1u);
}

}  // namespace
}  // namespace zentrope
