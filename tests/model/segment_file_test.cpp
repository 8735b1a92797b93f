// Reading, writing and merging segment and group files.
#include <gtest/gtest.h>

#include "core/spline.h"
#include "model/attach_stack.h"
#include "model/segment_file.h"
#include "shell/memory_pool.h"
#include "support/expect_vector.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::ReadFile;
using testing::SourceDir;
using testing::TempDir;
using testing::VectorNear;
using testing::WriteFile;

std::string BoxText() {
  return ReadFile(SourceDir() / "examples" / "box.seg");
}

// A small segment: header, bounds, pivot, then the spline lines given.
std::string Seg(const std::string& splines, const std::string& header = "SCUL 2 0 1 0 0 0") {
  return header + "\n0\n0 0 0 1 1 1\n0 0 0\n" + splines;
}

Result<SegmentData> Parse(const std::string& text) {
  return ParseSegment(text, "test.seg");
}

TEST(SegmentFileTest, ReadsTheBoxExample) {
  Result<SegmentData> data = Parse(BoxText());
  ASSERT_TRUE(data) << data.failure().detail;
  EXPECT_EQ(data->version, 2);
  EXPECT_EQ(data->splines->Splines().size(), 7u);
  EXPECT_EQ(data->splines->PointCount(), 18u);
  EXPECT_EQ(data->highestNumber, 18);
  EXPECT_EQ(data->pivot, (Vector3{0, 5, 0}));
  SplineSet& set = *data->splines;
  // Stacked points take their bottom's position though none was stored.
  EXPECT_EQ(set.FindByNumber(10)->position, set.FindByNumber(5)->position);
  EXPECT_EQ(StackBottom(set.FindByNumber(9)), set.FindByNumber(1));
  // The rings are closed; their last points close them.
  ControlPoint* ring = set.Splines()[0].first;
  EXPECT_TRUE(ring->prev->ClosesLoop());
  EXPECT_EQ(ring->prev->number, 4);
  // The hook lies on the segment from 1 to 2 at its parameter.
  ControlPoint* hook = set.FindByNumber(17);
  ASSERT_TRUE(hook->IsHook());
  EXPECT_EQ(SplinePointUnderHook(*hook), set.FindByNumber(1));
  EXPECT_TRUE(VectorNear(hook->position, SegmentPoint(*set.FindByNumber(1), 0.5f), 0));
  // Bias of the free end.
  EXPECT_EQ(set.FindByNumber(18)->InBias(), (Bias{10, 0, 1.5f}));
  EXPECT_EQ(set.FindByNumber(18)->OutBias(), kNeutralBias);
}

TEST(SegmentFileTest, WriteReadWriteIsByteIdentical) {
  TempDir dir;
  Result<SegmentData> data = Parse(BoxText());
  ASSERT_TRUE(data);
  Segment seg;
  seg.splines = data->splines;
  seg.pivot = data->pivot;
  seg.highestNumber = data->highestNumber;
  ASSERT_EQ(WriteSegment(seg, dir / "a.seg", seg.Splines()), SaveStatus::kSaved);
  Result<SegmentData> again = Parse(ReadFile(dir / "a.seg"));
  ASSERT_TRUE(again) << again.failure().detail;
  Segment seg2;
  seg2.splines = again->splines;
  seg2.pivot = again->pivot;
  seg2.highestNumber = again->highestNumber;
  ASSERT_EQ(WriteSegment(seg2, dir / "b.seg", seg2.Splines()), SaveStatus::kSaved);
  EXPECT_EQ(ReadFile(dir / "a.seg"), ReadFile(dir / "b.seg"));
  // And the model read back is the same model.
  data->splines->ForEachPoint([&](ControlPoint& p) {
    ControlPoint* q = again->splines->FindByNumber(p.number);
    ASSERT_NE(q, nullptr);
    EXPECT_TRUE(VectorNear(q->position, p.position, 1e-5f)) << p.number;
    EXPECT_EQ(q->flags, p.flags);
    EXPECT_EQ(q->InBias(), p.InBias());
    EXPECT_EQ(StackBottom(q)->number, StackBottom(&p)->number);
  });
}

TEST(SegmentFileTest, BiasLines) {
  SplineSet set;
  const Vector3 pos[] = {{0, 0, 0}, {1, 0, 0}};
  ControlPoint* p = set.AppendSpline(pos);
  p->magnitudeOut = 1.0000001f;
  p->number = 1;
  p->next->number = 2;
  Segment seg;
  seg.splines = std::make_shared<SplineSet>(std::move(set));
  seg.highestNumber = 2;
  TempDir dir;
  ASSERT_EQ(WriteSegment(seg, dir / "b.seg", seg.Splines()), SaveStatus::kSaved);
  EXPECT_EQ(ReadFile(dir / "b.seg"),
            "SCUL 2 0 1 0 0 0\n0\n0 0 0 1 0 0\n0 0 0\n1\n2\n"
            "1 0 1\n0 0 0\n0\n0 0 1\n"
            "1 0 2\n1 0 0\n0\n0\n");
  // A single "0" reads back as the neutral bias.
  Result<SegmentData> back = Parse(ReadFile(dir / "b.seg"));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->splines->FindByNumber(2)->InBias(), kNeutralBias);
}

TEST(SegmentFileTest, OnePointLoopLoadsOpen) {
  Result<SegmentData> data = Parse(Seg("1\n1\n5 0 1\n1 2 3\n0\n0\n"));
  ASSERT_TRUE(data) << data.failure().detail;
  ControlPoint* p = data->splines->Splines()[0].first;
  EXPECT_FALSE(p->ClosesLoop());
  EXPECT_EQ(p->next, nullptr);
  EXPECT_EQ(p->prev, nullptr);
}

TEST(SegmentFileTest, VersionOneNumbersPointsInFileOrder) {
  Result<SegmentData> data =
      ParseSegment(ReadFile(SourceDir() / "examples" / "crlf_v1.seg"), "crlf_v1.seg");
  ASSERT_TRUE(data) << data.failure().detail;
  std::vector<std::int32_t> numbers;
  data->splines->ForEachPoint([&](ControlPoint& p) { numbers.push_back(p.number); });
  EXPECT_EQ(numbers, (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(data->highestNumber, 3);
}

// Catches: version 1's line a read with the later layout (second field
// the stacked flag, third the number), so that a stacked point loses its
// stack or the file fails. Version 1 is flags, a reserved value, the
// stacked flag; points are numbered 1, 2, ... in file order, so "2" on the
// stacked point's line b names the second point of the file.
TEST(SegmentFileTest, VersionOneStackedPointReadsWithItsStack) {
  Result<SegmentData> data =
      Parse(Seg("2\n2\n1 1 0\n0 0 0\n0\n0\n1 0 0\n2 0 0\n0\n0\n"
                "2\n1 0 0\n2 3 0\n0\n0\n1 0 1\n2\n0\n0\n",
                "SCUL 1 0 1 0 0 0"));
  ASSERT_TRUE(data) << data.failure().detail;
  const auto& splines = data->splines->Splines();
  ASSERT_EQ(splines.size(), 2u);
  ControlPoint* below = splines[0].first->next;
  ControlPoint* stacked = splines[1].first->next;
  ASSERT_NE(below, nullptr);
  ASSERT_NE(stacked, nullptr);
  EXPECT_EQ(below->number, 2);
  EXPECT_EQ(stacked->number, 4);
  EXPECT_EQ(stacked->attachedTo, below);
  EXPECT_EQ(below->attachedAbove, stacked);
  EXPECT_TRUE(VectorNear(stacked->position, {2, 0, 0}, 0.0f));  // the bottom's position, not stored
  EXPECT_EQ(splines[0].first->attachedAbove, nullptr) << "a reserved value of 1 is not a stack";
  EXPECT_EQ(data->highestNumber, 4);
}

TEST(SegmentFileTest, MissingNumbersTakeTheRunningCounter) {
  // The second point has number 0: it takes the counter's 2.
  Result<SegmentData> data =
      Parse(Seg("1\n3\n1 0 7\n0 0 0\n0\n0\n1 0 0\n1 0 0\n0\n0\n1 0\n2 0 0\n0\n0\n"));
  ASSERT_TRUE(data) << data.failure().detail;
  std::vector<std::int32_t> numbers;
  data->splines->ForEachPoint([&](ControlPoint& p) { numbers.push_back(p.number); });
  EXPECT_EQ(numbers, (std::vector<std::int32_t>{7, 2, 3}));
}

// Catches: a number given twice kept by both points, so that a stack on it
// named one point when read and another after a save (a resave of a resave
// differed), and a renumbering that ran into the placeholder numbers.
TEST(SegmentFileTest, NumbersGivenTwiceAreMadeUnique) {
  // Points 5, 5 and 6, the last stacked on 5: the stack goes to the first 5,
  // and the second 5 takes the number after the file's highest (6), 7.
  Result<SegmentData> data =
      Parse(Seg("1\n3\n1 0 5\n0 0 0\n0\n0\n1 0 5\n1 0 0\n0\n0\n0 1 6\n5\n0\n0\n"));
  ASSERT_TRUE(data) << data.failure().detail;
  std::vector<ControlPoint*> points;
  data->splines->ForEachPoint([&](ControlPoint& p) { points.push_back(&p); });
  ASSERT_EQ(points.size(), 3u);
  EXPECT_EQ(points[0]->number, 5);
  EXPECT_EQ(points[1]->number, 7);
  EXPECT_EQ(points[2]->number, 6);
  EXPECT_EQ(points[2]->attachedTo, points[0]);
  EXPECT_EQ(data->highestNumber, 7);

  // The highest number below the placeholders, twice: nothing is left.
  EXPECT_FALSE(Parse(Seg("1\n2\n1 0 99999999\n0 0 0\n0\n0\n1 0 99999999\n1 0 0\n0\n0\n")));
}

TEST(SegmentFileTest, EditingFlagsAreNotRead) {
  Result<SegmentData> data = Parse(Seg("1\n2\n97 0 1\n0 0 0\n0\n0\n1 0 2\n1 0 0\n0\n0\n"));
  ASSERT_TRUE(data);
  EXPECT_EQ(data->splines->FindByNumber(1)->flags, kPointSmooth);
}

// Every way a file can be wrong fails with the document's message.
TEST(SegmentFileTest, BadInputFailsCleanly) {
  const std::string point = "1 0 1\n0 0 0\n0\n0\n";
  const std::string point2 = "1 0 2\n1 0 0\n0\n0\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"empty", ""},
      {"wrong tag", Seg("1\n2\n" + point + point2, "SCUX 2 0 1 0 0 0")},
      {"newer version", Seg("1\n2\n" + point + point2, "SCUL 3 0 1 0 0 0")},
      {"short header", Seg("1\n2\n" + point + point2, "SCUL 2 0 1 0 0")},
      {"short bounds", "SCUL 2 0 1 0 0 0\n0\n0 0 0 1 1\n0 0 0\n1\n2\n" + point + point2},
      {"short pivot", "SCUL 2 0 1 0 0 0\n0\n0 0 0 1 1 1\n0 0\n1\n2\n" + point + point2},
      {"no splines", Seg("0\n")},
      {"empty splines only", Seg("2\n0\n0\n")},
      {"absurd spline count", Seg("32767\n2\n" + point + point2)},
      {"negative spline count", Seg("-1\n2\n" + point + point2)},
      {"absurd point count", Seg("1\n30000\n" + point + point2)},
      {"negative point count", Seg("1\n-2\n" + point + point2)},
      {"non-number position", Seg("1\n2\n1 0 1\nx y z\n0\n0\n" + point2)},
      {"nan position", Seg("1\n2\n1 0 1\nnan 0 0\n0\n0\n" + point2)},
      {"short position", Seg("1\n2\n1 0 1\n0 0\n0\n0\n" + point2)},
      {"missing bias", Seg("1\n2\n1 0 1\n0 0 0\n\n0\n" + point2)},
      {"stacked on nothing", Seg("1\n2\n" + point + "1 1 2\n99\n0\n0\n")},
      {"stacked on itself", Seg("1\n2\n" + point + "1 1 2\n2\n0\n0\n")},
      {"stack loop",
       Seg("2\n2\n1 1 1\n3\n0\n0\n" + point2 + "2\n1 1 3\n1\n0\n0\n1 0 4\n0 0 1\n0\n0\n")},
      {"negative number", Seg("1\n2\n1 0 -5\n0 0 0\n0\n0\n" + point2)},
      {"overlong line",
       Seg("1\n2\n" + point + "1 0 2\n1 0 0" + std::string(300, ' ') + "\n0\n0\n")},
      {"truncated", Seg("1\n2\n" + point + "1 0 2\n1 0 0\n")},
      // Catches: 65537 splines read as 1 through a 16-bit wrap, the rest
      // of the file ignored.
      {"spline count wraps", Seg("65537\n2\n" + point + point2)},
      {"point count wraps", Seg("1\n65538\n" + point + point2)},
      // Catches: a second spline after the counted one ignored, so a
      // resave would drop it.
      {"data after the last spline", Seg("1\n2\n" + point + point2 + "2\n" + point + point2)},
  };
  for (const auto& [what, text] : cases) {
    Result<SegmentData> data = Parse(text);
    EXPECT_FALSE(data) << what;
    if (!data) {
      EXPECT_EQ(data.failure().message, "Trouble Opening Segment") << what;
    }
  }
}

TEST(SegmentFileTest, EveryTruncatedPrefixFails) {
  const std::string box = BoxText();
  for (std::size_t n = 0; n + 1 < box.size(); ++n) {
    ASSERT_FALSE(Parse(box.substr(0, n))) << "prefix of " << n << " bytes";
  }
  EXPECT_TRUE(Parse(box.substr(0, box.size() - 1)));  // only the last line end missing
}

TEST(SegmentFileTest, AbsurdCountsAllocateNothing) {
  const std::int64_t before = MemoryPool::Main().total_allocated();
  EXPECT_FALSE(Parse(Seg("32767\n2\n1 0 1\n0 0 0\n0\n0\n")));
  EXPECT_EQ(MemoryPool::Main().total_allocated(), before);
}

TEST(SegmentFileTest, SharedOpenCountsUses) {
  TempDir dir;
  WriteFile(dir / "box.seg", BoxText());
  SegmentRegistry registry;
  const std::string name = (dir / "box.seg").string();
  Result<Segment> a = OpenSegment(name, registry);
  Result<Segment> b = OpenSegment(name, registry);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->splines.get(), b->splines.get());
  EXPECT_EQ(registry.UseCount(name), 2);
  EXPECT_EQ(b->highestNumber, 18);
  EXPECT_EQ(a->groups.size(), 0u);  // no group file beside it
  // Merging always reads the file.
  Result<SegmentData> merged = ReadSegment(name, /*merge=*/true, registry);
  ASSERT_TRUE(merged);
  EXPECT_NE(merged->splines.get(), a->splines.get());
  EXPECT_EQ(registry.UseCount(name), 2);
}

TEST(SegmentFileTest, OpenReadsGroupsAndBuildsTheWorkingCopy) {
  SegmentRegistry registry;
  Result<Segment> seg = OpenSegment((SourceDir() / "examples" / "box.seg").string(), registry);
  ASSERT_TRUE(seg) << seg.failure().detail;
  ASSERT_EQ(seg->groups.size(), 2u);
  EXPECT_EQ(seg->groups[1].name, "top ring");
  EXPECT_EQ(seg->groups[1].members, (std::vector<std::int32_t>{5, 6, 7, 8}));
  EXPECT_EQ(seg->working.PointCount(), 18u);
  EXPECT_TRUE(seg->IsModified(kSegmentPatchesStale));
}

TEST(SegmentFileTest, ImportMergesAboutThePivot) {
  TempDir dir;
  WriteFile(dir / "piece.seg",
            Seg("1\n2\n1 0 1\n0 0 0\n0\n0\n1 0 2\n1 0 0\n0\n0\n", "SCUL 2 0 1 0 0 0"));
  Result<SegmentData> box = Parse(BoxText());
  ASSERT_TRUE(box);
  Segment seg;
  seg.splines = box->splines;
  seg.pivot = {100, 0, 0};
  seg.highestNumber = box->highestNumber;
  ASSERT_TRUE(ImportModel(seg, (dir / "piece.seg").string()).Ok());
  EXPECT_EQ(seg.Splines().Splines().size(), 8u);
  ControlPoint* first = seg.Splines().Splines()[7].first;
  EXPECT_EQ(first->number, 19);  // 1 + the open segment's highest number
  EXPECT_EQ(first->next->number, 20);
  EXPECT_EQ(first->position, (Vector3{100, 0, 0}));
  EXPECT_EQ(seg.highestNumber, 20);
  EXPECT_EQ(seg.working.PointCount(), 20u);
  EXPECT_TRUE(seg.IsModified(kSegmentSplinesChanged));

  // A failed import leaves the segment as it was.
  WriteFile(dir / "bad.seg", Seg("1\n2\n1 0 1\n0 0 0\n0\n0\n"));
  WriteFile(dir / "other.txt", "not a model\n");
  seg.ClearModified(0xffff);
  for (const char* name : {"bad.seg", "other.txt", "missing.seg"}) {
    const EditOutcome r = ImportModel(seg, (dir / name).string());
    EXPECT_EQ(r.message, "Trouble Opening Segment") << name;
  }
  EXPECT_EQ(seg.Splines().PointCount(), 20u);
  EXPECT_EQ(seg.modified, 0);
}

TEST(GroupFileTest, ReadsAndRejects) {
  Result<std::vector<Group>> g = ParseGroups(ReadFile(SourceDir() / "examples" / "box.grp"), "g");
  ASSERT_TRUE(g);
  EXPECT_EQ((*g)[0].name, "bottom ring");
  EXPECT_EQ((*g)[1].pivot, (Vector3{0, 10, 0}));
  for (const std::string bad :
       {"GROU 2 0 1 0 0 0\n0\n0\n", "GROU 1 0 1 0 0 0\n0\n32767\n", "GROU 1 0 1 0 0 0\n0\n-1\n",
        "GROU 1 0 1 0 0 0\n0\n1\n0 0 0\nname\n-3\n", "GROU 1 0 1 0 0 0\n0\n1\n0 0 0\nname\n2\n1\n",
        "GROU 1 0 1 0 0 0\n0\n1\n0 0\nname\n0\n", "SCUL 1 0 1 0 0 0\n0\n0\n"}) {
    EXPECT_FALSE(ParseGroups(bad, "g")) << bad;
  }
}

// Catches: a group or member count wrapping through 16 bits (65537 read
// as 1), and groups after the counted ones ignored: either way a resave
// would drop groups.
TEST(GroupFileTest, WrappedCountsAndDataAfterTheLastGroupAreRefused) {
  const std::string group = "0 0 0\nname\n1\n5\n";
  ASSERT_TRUE(ParseGroups("GROU 1 0 1 0 0 0\n0\n1\n" + group + "\n", "g"));
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"group count", "GROU 1 0 1 0 0 0\n0\n65537\n" + group + group},
      {"member count", "GROU 1 0 1 0 0 0\n0\n1\n0 0 0\nname\n65537\n5\n"},
      {"a second group", "GROU 1 0 1 0 0 0\n0\n1\n" + group + group},
  };
  for (const auto& c : cases) {
    Result<std::vector<Group>> g = ParseGroups(c.text, "g");
    ASSERT_FALSE(g) << c.what;
    EXPECT_EQ(g.failure().message, "Trouble Opening Segment") << c.what;
  }
}

}  // namespace
}  // namespace zentrope
