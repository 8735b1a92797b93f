// Channel curves, key operations, the channel set record and the editor's
// rules and undo.
#include <gtest/gtest.h>

#include <vector>

#include "anim/channel_editor.h"
#include "anim/channel_file.h"
#include "core/spline.h"
#include "shell/memory_pool.h"
#include "support/expect_vector.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::VectorNear;

constexpr float kDefaults[10] = {0, 0, 0, 100, 100, 100, 0, -100, 0, 0};

std::unique_ptr<ChannelSet> Skeletal() {
  return CreateChannelSet("arm", 10, 16, kDefaults);
}

std::vector<float> Xs(const ChannelSet& set, int index) {
  std::vector<float> xs;
  for (const ControlPoint* k = set.channels[static_cast<std::size_t>(index)].keys; k;
       k = NextInTraversal(k)) {
    xs.push_back(k->position.x);
  }
  return xs;
}

TEST(ChannelTest, CreateSetsTheRecord) {
  auto set = Skeletal();
  EXPECT_EQ(set->tag, 2);
  EXPECT_EQ(set->kind, 16);
  EXPECT_EQ(set->Count(), 10);
  EXPECT_EQ(set->placement[0], -1);
  EXPECT_EQ(set->view[1], 5.0f);
  EXPECT_EQ(set->view[2], -1.0f);
  EXPECT_EQ(set->channels[3].flags, kChannelShown);
  EXPECT_EQ(EvaluateChannel(*set, 7, 12.0f), -100.0f);  // no keys: the default
  EXPECT_EQ(EvaluateChannel(*set, 10, 1.0f), 0.0f);     // past the count
}

TEST(ChannelTest, FreeingReleasesKeysAndTheChain) {
  const std::int64_t before = MemoryPool::Main().total_allocated();
  auto set = Skeletal();
  for (int i = 0; i < 200; ++i) {
    SetKey(*set, i % 10, static_cast<float>(1 + i), 1.0f);
  }
  set->next = Skeletal();
  SetKey(*set->next, 0, 5, 1.0f);
  EXPECT_GT(MemoryPool::Main().total_allocated(), before);
  FreeChannelSet(set);
  EXPECT_EQ(set, nullptr);
  EXPECT_EQ(MemoryPool::Main().total_allocated(), before);
}

TEST(ChannelTest, OneKeyHoldsEverywhere) {
  auto set = Skeletal();
  ASSERT_NE(SetKey(*set, 0, 1, 42.0f), nullptr);
  for (float f : {0.5f, 1.0f, 2.0f, 100.0f}) {
    EXPECT_EQ(EvaluateChannel(*set, 0, f), 42.0f) << f;
  }
  bool used = false;
  EvaluateChannel(*set, 0, 3.0f, used);
  EXPECT_TRUE(used);
}

TEST(ChannelTest, TwoKeysAreAStraightLine) {
  auto set = Skeletal();
  SetKey(*set, 0, 1, 0.0f);
  SetKey(*set, 0, 11, 10.0f);
  const ControlPoint* a = set->channels[0].keys;
  EXPECT_TRUE(VectorNear(a->inTangent, {-5, -5, 0}, 1e-5f));
  EXPECT_TRUE(VectorNear(a->next->outTangent, {-5, -5, 0}, 1e-5f));
  EXPECT_NEAR(EvaluateChannel(*set, 0, 6.0f), 5.0f, 1e-5f);
  EXPECT_NEAR(EvaluateChannel(*set, 0, 3.5f), 2.5f, 1e-5f);
  // After the last key, and before frame 1: the last key's value.
  EXPECT_EQ(EvaluateChannel(*set, 0, 30.0f), 10.0f);
  EXPECT_EQ(EvaluateChannel(*set, 0, 0.5f), 10.0f);
}

TEST(ChannelTest, FrameOneIsTheFirstKeyWhereverItIs) {
  auto set = Skeletal();
  SetKey(*set, 0, 1, 3.0f);
  SetKey(*set, 0, 5, 9.0f);
  set->channels[0].keys->position.x = 2.0f;  // moved away from x = 0
  EXPECT_EQ(EvaluateChannel(*set, 0, 1.0f), 3.0f);
}

// Unequal spacing and bias: at the frames the stepper lands on, the value is
// the Hermite curve's, and between two landings it is the straight line.
TEST(ChannelTest, CurveFollowsTheSteppedSegment) {
  auto set = Skeletal();
  SetKey(*set, 2, 1, 0.0f);
  SetKey(*set, 2, 5, 8.0f);
  SetKey(*set, 2, 11, -2.0f);
  ControlPoint* mid = set->channels[2].keys->next;
  mid->alphaIn = 30;
  mid->magnitudeIn = 1.5f;
  mid->gammaOut = -20;
  ComputeChannelTangents(*set);
  const ControlPoint* k = mid;
  const ControlPoint* n = mid->next;
  for (int i = 1; i < 8; ++i) {
    const float t = static_cast<float>(i) / 8.0f;
    const Vector3 q = HermitePoint(n->position, k->position, n->outTangent, k->inTangent, t);
    if (q.x <= k->position.x || q.x >= n->position.x) {
      continue;  // a biased curve may bulge outside its span
    }
    EXPECT_NEAR(EvaluateKeys(set->channels[2].keys, q.x + 1.0f), q.y, 2e-3f) << i;
  }
  const Vector3 q3 = HermitePoint(n->position, k->position, n->outTangent, k->inTangent, 3 / 8.0f);
  const Vector3 q4 = HermitePoint(n->position, k->position, n->outTangent, k->inTangent, 4 / 8.0f);
  const float mx = (q3.x + q4.x) / 2;
  EXPECT_NEAR(EvaluateKeys(set->channels[2].keys, mx + 1.0f), (q3.y + q4.y) / 2, 2e-3f);
}

TEST(ChannelTest, SetKeyRules) {
  auto set = Skeletal();
  // Keying frame 7 of an empty channel: a key at frame 1 with the default.
  SetKey(*set, 3, 7, 50.0f);
  EXPECT_EQ(Xs(*set, 3), (std::vector<float>{0, 6}));
  EXPECT_EQ(set->channels[3].keys->position.y, 100.0f);
  SetKey(*set, 4, 1, 7.0f);
  EXPECT_EQ(Xs(*set, 4), (std::vector<float>{0}));
  // A key at x = 5.6 is the key of frame 7 (trunc(5.6 + 0.5) = 6).
  set->channels[3].keys->next->position.x = 5.6f;
  SetKey(*set, 3, 7, 60.0f);
  EXPECT_EQ(Xs(*set, 3), (std::vector<float>{0, 5.6f}));
  EXPECT_EQ(set->channels[3].keys->next->position.y, 60.0f);
  // In between: a new key copying its predecessor's bias.
  set->channels[3].keys->SetInBias({5, 6, 2});
  ControlPoint* k = SetKey(*set, 3, 4, 70.0f);
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(k->InBias(), (Bias{5, 6, 2}));
  EXPECT_EQ(Xs(*set, 3), (std::vector<float>{0, 3, 5.6f}));
  EXPECT_TRUE(HasKeyAt(*set, 3, 4));
  EXPECT_FALSE(HasKeyAt(*set, 3, 5));
  // Serial numbers increase.
  EXPECT_GT(k->number, set->channels[3].keys->number);
}

TEST(ChannelTest, ShiftFramesInsertsAndDeletes) {
  auto set = Skeletal();
  for (float f : {1.0f, 10.0f, 11.0f, 13.0f, 21.0f}) {
    SetKey(*set, 0, f, f);
  }
  ShiftFrames(*set, 10, -3);
  EXPECT_EQ(Xs(*set, 0), (std::vector<float>{0, 9, 17}));
  auto other = Skeletal();
  for (float f : {1.0f, 10.0f, 11.0f, 13.0f}) {
    SetKey(*other, 1, f, f);
  }
  ShiftFrames(*other, 10, 5);
  EXPECT_EQ(Xs(*other, 1), (std::vector<float>{0, 9, 15, 17}));
}

TEST(ChannelTest, KeyNavigation) {
  auto set = Skeletal();
  SetKey(*set, 0, 1, 0);
  SetKey(*set, 0, 5, 0);
  SetKey(*set, 1, 8, 0);
  EXPECT_EQ(NextKeyFrame(set->channels[0].keys, 2), 5.0f);
  EXPECT_EQ(NextKeyFrame(set->channels[0].keys, 6), 6.0f);  // none later: the current frame
  EXPECT_EQ(NextKeyFrame(*set, 2), 5.0f);
  EXPECT_EQ(NextKeyFrame(*set, 5), 8.0f);
  EXPECT_EQ(NextKeyFrame(*set, 9), 9.0f);
  EXPECT_EQ(PreviousKeyFrame(set->channels[0].keys, 9), 5.0f);
  EXPECT_EQ(PreviousKeyFrame(set->channels[0].keys, 5), 1.0f);
  SetKey(*set, 2, 32001, 0);
  EXPECT_EQ(NextKeyFrame(set->channels[2].keys, 10), 10.0f);  // 32000 and later are absent
}

TEST(ChannelFileTest, RecordRoundTrip) {
  auto set = Skeletal();
  SetKey(*set, 0, 1, 1.5f);
  SetKey(*set, 0, 9, -2.0f);
  set->channels[0].keys->next->SetOutBias({10, 0, 1.25f});
  set->channels[5].flags = kChannelShown | kChannelEditable;
  set->referenceName = "models/arm.seg";
  set->next = CreateChannelSet("extra", 2, 16, kDefaults);
  SetKey(*set->next, 1, 3, 4.0f);
  testing::TempDir dir;
  std::FILE* f = std::fopen((dir / "c.txt").c_str(), "wb");
  TextWriter w(f);
  WriteChannelSet(w, *set);
  std::fclose(f);
  const std::string text = testing::ReadFile(dir / "c.txt");
  EXPECT_EQ(text.substr(0, 49), "10 16 2\n-1 -1 -1 -1 0 0 5 -1 1\narm\nmodels/arm.seg");
  TextReader r(text, "c.txt");
  const void* target = &text;
  Result<std::unique_ptr<ChannelSet>> back =
      ReadChannelSet(r, [&](const std::string& name) -> const void* {
        return name == "models/arm.seg" ? target : nullptr;
      });
  ASSERT_TRUE(back) << back.failure().detail;
  const ChannelSet& b = **back;
  EXPECT_EQ(b.reference, target);
  EXPECT_EQ(b.channels[5].flags, kChannelShown | kChannelEditable);
  EXPECT_EQ(Xs(b, 0), (std::vector<float>{0, 8}));
  EXPECT_EQ(b.channels[0].keys->next->OutBias(), (Bias{10, 0, 1.25f}));
  ASSERT_NE(b.next, nullptr);
  EXPECT_EQ(b.next->name, "extra");
  EXPECT_EQ(Xs(*b.next, 1), (std::vector<float>{0, 2}));
  EXPECT_EQ(r.LinesRemaining(), 0u);
}

TEST(ChannelFileTest, OlderVersionsAndFailures) {
  // Version 0: frame divisor 30 and value divisor 2; the channel's value
  // multiplier 4.
  const std::string v0 =
      "1 16 30 0 2\nold\ndummypathname\n1 4 0\n2\n1\n0 1 0\n0\n0\n1\n60 3 0\n0\n0\n0\n";
  TextReader r0(v0, "v0");
  Result<std::unique_ptr<ChannelSet>> s0 = ReadChannelSet(r0);
  ASSERT_TRUE(s0) << s0.failure().detail;
  EXPECT_EQ(Xs(**s0, 0), (std::vector<float>{0, 2}));
  EXPECT_EQ((*s0)->channels[0].keys->next->position.y, 6.0f);
  EXPECT_TRUE((*s0)->referenceName.empty());
  // Version 1: no editor line.
  TextReader r1("1 16 1\nv1\ndummypathname\n1\n0\n0\n", "v1");
  Result<std::unique_ptr<ChannelSet>> s1 = ReadChannelSet(r1);
  ASSERT_TRUE(s1);
  EXPECT_EQ((*s1)->view[2], -1.0f);
  TextReader r3("1 16 3\n", "v3");
  Result<std::unique_ptr<ChannelSet>> s3 = ReadChannelSet(r3);
  ASSERT_FALSE(s3);
  EXPECT_EQ(s3.failure().message, "Requires Newer Software");
  for (const std::string bad :
       {"1 16\n", "1 16 2\n0 0 0 0 0 0 0 0\n", "300 16 2\n", "1 16 1\nx\ndummypathname\n1\n5000\n",
        "1 16 1\nx\ndummypathname\n1\n1\n1\nnan 0 0\n0\n0\n0\n", "1 16 1\nx\n"}) {
    TextReader r(bad, "bad");
    Result<std::unique_ptr<ChannelSet>> s = ReadChannelSet(r);
    EXPECT_FALSE(s) << bad;
    if (!s) {
      EXPECT_EQ(s.failure().message, "Trouble Opening Channel");
    }
  }
}

void Select(ChannelSet& set, int channel, int keyIndex) {
  ControlPoint* k = set.channels[static_cast<std::size_t>(channel)].keys;
  for (int i = 0; i < keyIndex; ++i) {
    k = k->next;
  }
  k->flags |= kPointSelected;
}

TEST(ChannelEditorTest, MoveAndScaleConstraints) {
  auto set = Skeletal();
  for (float f : {1.0f, 5.0f, 9.0f}) {
    SetKey(*set, 0, f, f);
  }
  set->channels[0].flags |= kChannelEditable;
  Select(*set, 0, 1);
  MoveSelectedKeys(*set, 10.3f, 1.0f);  // past the next key: one frame before it
  EXPECT_EQ(Xs(*set, 0), (std::vector<float>{0, 7, 8}));
  EXPECT_EQ(set->channels[0].keys->next->position.y, 6.0f);
  MoveSelectedKeys(*set, -20.0f, 0.0f);
  EXPECT_EQ(Xs(*set, 0), (std::vector<float>{0, 1, 8}));
  Select(*set, 0, 0);
  MoveSelectedKeys(*set, 3.0f, 0.0f);
  EXPECT_EQ(set->channels[0].keys->position.x, 0.0f);  // the first key stays at frame 1
  // Scaling keeps 0.01 apart without rounding.
  ScaleSelectedKeys(*set, 0.0f, 20.0f, 2.0f);
  EXPECT_EQ(set->channels[0].keys->position.x, 0.0f);
  EXPECT_NEAR(set->channels[0].keys->next->position.x, 7.99f, 1e-5f);
  // Channels that are not editable are left alone.
  SetKey(*set, 1, 1, 0);
  SetKey(*set, 1, 4, 0);
  Select(*set, 1, 1);
  MoveSelectedKeys(*set, 2.0f, 0.0f);
  EXPECT_EQ(Xs(*set, 1), (std::vector<float>{0, 3}));
}

TEST(ChannelEditorTest, PickNearestEditableKey) {
  auto set = Skeletal();
  SetKey(*set, 0, 1, 0);
  SetKey(*set, 0, 6, 10);
  SetKey(*set, 1, 6, 0);
  EXPECT_FALSE(PickKey(*set, 5, 10, 1.0f));  // nothing editable
  set->channels[0].flags |= kChannelEditable;
  set->channels[1].flags |= kChannelEditable;
  auto pick = PickKey(*set, 5, 8, 1.0f);
  ASSERT_TRUE(pick);
  EXPECT_EQ(pick->channel, 0);
  EXPECT_EQ(pick->key->position.x, 5.0f);
  pick = PickKey(*set, 5, 8, 0.01f);  // a small vertical scale favours x
  ASSERT_TRUE(pick);
  EXPECT_EQ(pick->key->position.y, 10.0f);
}

TEST(ChannelEditorTest, UndoAndRedoOfEachRecord) {
  auto set = Skeletal();
  set->channels[0].flags |= kChannelEditable;
  SetKey(*set, 0, 1, 0);
  SetKey(*set, 0, 5, 4);
  UndoHistory history(-1);

  ControlPoint* added = SetKey(*set, 0, 9, 8);
  history.Push(AddRecord(0, *added));
  EXPECT_EQ(history.UndoMenuText(), "Undo Add\tCtrl-Z");
  ASSERT_TRUE(history.Undo(*set));
  EXPECT_EQ(Xs(*set, 0), (std::vector<float>{0, 4}));
  EXPECT_EQ(history.RedoMenuText(), "Redo Add\tCtrl-Y");
  ASSERT_TRUE(history.Redo(*set));
  EXPECT_EQ(Xs(*set, 0), (std::vector<float>{0, 4, 8}));

  Select(*set, 0, 1);
  history.Push(SnapshotSelection(*set, "Move"));
  MoveSelectedKeys(*set, 2, 1);
  EXPECT_EQ(Xs(*set, 0), (std::vector<float>{0, 6, 8}));
  history.Undo(*set);
  EXPECT_EQ(Xs(*set, 0), (std::vector<float>{0, 4, 8}));
  EXPECT_EQ(set->channels[0].keys->next->position.y, 4.0f);
  history.Redo(*set);
  EXPECT_EQ(Xs(*set, 0), (std::vector<float>{0, 6, 8}));

  history.Push(SnapshotSelection(*set, "Bias"));
  set->channels[0].keys->next->SetInBias({45, 0, 2});
  history.Undo(*set);
  EXPECT_EQ(set->channels[0].keys->next->InBias(), kNeutralBias);

  history.Push(SnapshotSelection(*set, "Scale"));
  ScaleSelectedKeys(*set, 0, 1, 3);
  history.Undo(*set);
  EXPECT_EQ(set->channels[0].keys->next->position.y, 5.0f);

  ControlPoint* doomed = set->channels[0].keys->next->next;
  const std::int32_t serial = doomed->number;
  history.Push(DeleteRecord(
      {KeyCopy{0, doomed->position, doomed->InBias(), doomed->OutBias(), doomed->flags, serial}}));
  DeleteKey(*set, set->channels[0], doomed);
  EXPECT_EQ(Xs(*set, 0), (std::vector<float>{0, 6}));
  history.Undo(*set);
  EXPECT_EQ(Xs(*set, 0), (std::vector<float>{0, 6, 8}));
  EXPECT_NE(FindKeyBySerial(set->channels[0], serial), nullptr);
  history.Redo(*set);
  EXPECT_EQ(Xs(*set, 0), (std::vector<float>{0, 6}));
}

TEST(ChannelEditorTest, HistoryDepth) {
  auto set = Skeletal();
  UndoHistory limited(2);
  for (int i = 0; i < 5; ++i) {
    limited.Push(SnapshotSelection(*set, "Move"));
  }
  EXPECT_EQ(limited.Depth(), 2u);
  testing::TempDir dir;
  SettingsFile settings(dir / "z.ini");
  EXPECT_LT(UndoHistory::FromSettings(settings).Levels(), 0);  // unlimited by default
  settings.write_setting("CHANNEL", "UnlimitedUndo", "OFF");
  settings.write_setting("CHANNEL", "UndoLevels", "3");
  EXPECT_EQ(UndoHistory::FromSettings(settings).Levels(), 3);
}

}  // namespace
}  // namespace zentrope
