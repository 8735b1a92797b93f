// Saving segments: which files are written, in which order, with which
// messages, and that nothing is lost when a save fails.
#include <gtest/gtest.h>

#include "model/segment_file.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::ReadFile;
using testing::SourceDir;
using testing::TempDir;
using testing::WriteFile;

Segment OpenBox(const TempDir& dir, SegmentRegistry& registry) {
  WriteFile(dir / "box.seg", ReadFile(SourceDir() / "examples" / "box.seg"));
  WriteFile(dir / "box.grp", ReadFile(SourceDir() / "examples" / "box.grp"));
  Result<Segment> seg = OpenSegment((dir / "box.seg").string(), registry);
  EXPECT_TRUE(seg);
  return std::move(*seg);
}

TEST(SegmentSaveTest, WritesOnlyChangedFilesAndClearsTheirFlags) {
  TempDir dir;
  SegmentRegistry registry;
  Segment seg = OpenBox(dir, registry);
  std::filesystem::remove(dir / "box.seg");
  seg.MarkModified(kSegmentGroupsChanged);
  EXPECT_TRUE(SaveSegment(seg).Ok());
  EXPECT_FALSE(std::filesystem::exists(dir / "box.seg"));  // not changed, not written
  EXPECT_FALSE(seg.IsModified(kSegmentGroupsChanged));
  seg.MarkModified(kSegmentSplinesChanged);
  EXPECT_TRUE(SaveSegment(seg).Ok());
  EXPECT_TRUE(std::filesystem::exists(dir / "box.seg"));
  EXPECT_FALSE(seg.IsModified(kSegmentSplinesChanged));
}

TEST(SegmentSaveTest, NoGroupsNoGroupFile) {
  TempDir dir;
  SegmentRegistry registry;
  Segment seg = OpenBox(dir, registry);
  ASSERT_TRUE(RemoveGroup(seg, "bottom ring").Ok());
  ASSERT_TRUE(RemoveGroup(seg, "top ring").Ok());
  EXPECT_TRUE(SaveSegment(seg).Ok());
  // The old group file would bring the removed groups back.
  EXPECT_FALSE(std::filesystem::exists(dir / "box.grp"));
}

TEST(SegmentSaveTest, FailuresAreReportedInOrderAndTheRestGoesOn) {
  TempDir dir;
  SegmentRegistry registry;
  Segment seg = OpenBox(dir, registry);
  WriteFile(dir / "blocked", "a file where a folder should be");
  seg.path = (dir / "blocked" / "box.seg").string();
  seg.MarkModified(kSegmentSplinesChanged | kSegmentGroupsChanged);
  const SaveReport report = SaveSegment(seg);
  EXPECT_EQ(report.failures,
            (std::vector<std::string>{"Create Directory Error", "Trouble Saving Segment",
                                      "Create Directory Error", "Trouble Saving Group List."}));
  EXPECT_TRUE(seg.IsModified(kSegmentSplinesChanged));
  EXPECT_TRUE(seg.IsModified(kSegmentGroupsChanged));
}

TEST(SegmentSaveTest, FailedWriteKeepsThePreviousFile) {
  TempDir dir;
  SegmentRegistry registry;
  Segment seg = OpenBox(dir, registry);
  const std::string before = ReadFile(dir / "box.seg");
  // More splines than the file's 16-bit count can hold: refused, not cut.
  std::vector<Vector3> two(2);
  for (int i = 0; i < 32768; ++i) {
    ASSERT_NE(seg.Splines().AppendSpline(two), nullptr);
  }
  seg.MarkModified(kSegmentSplinesChanged);
  const SaveReport report = SaveSegment(seg);
  EXPECT_EQ(report.failures, (std::vector<std::string>{"Trouble Saving Segment"}));
  EXPECT_EQ(ReadFile(dir / "box.seg"), before);
}

TEST(SegmentSaveTest, SaveAsRules) {
  TempDir dir;
  SegmentRegistry registry;
  Segment seg = OpenBox(dir, registry);
  // Another open segment's name is refused.
  WriteFile(dir / "other.seg", ReadFile(SourceDir() / "examples" / "box.seg"));
  Result<Segment> other = OpenSegment((dir / "other.seg").string(), registry);
  ASSERT_TRUE(other);
  EXPECT_EQ(
      SaveSegmentAs(seg, (dir / "other.seg").string(), true, registry).failures,
      (std::vector<std::string>{"This Segment Is Already Used.\n\nDifferent Name Required."}));
  // An existing file needs the overwrite switch.
  WriteFile(dir / "taken.seg", "keep me");
  EXPECT_EQ(SaveSegmentAs(seg, (dir / "taken").string(), false, registry).failures,
            (std::vector<std::string>{"This File Already Exists.\n\nOverwrite Existing File?"}));
  EXPECT_EQ(ReadFile(dir / "taken.seg"), "keep me");
  // ".seg" is added to a name without a period; groups follow.
  ASSERT_TRUE(SaveSegmentAs(seg, (dir / "copy").string(), false, registry).Ok());
  EXPECT_EQ(seg.path, (dir / "copy.seg").string());
  EXPECT_TRUE(std::filesystem::exists(dir / "copy.grp"));
  EXPECT_EQ(registry.UseCount((dir / "copy.seg").string()), 1);
  EXPECT_EQ(registry.UseCount((dir / "box.seg").string()), 0);
  EXPECT_EQ(ReadFile(dir / "copy.grp"), ReadFile(dir / "box.grp"));
}

TEST(SegmentSaveTest, SelectionBecomesItsOwnSegment) {
  TempDir dir;
  SegmentRegistry registry;
  Segment seg = OpenBox(dir, registry);
  EXPECT_EQ(SaveSelectionAsSegment(seg, (dir / "sel").string(), false, registry).failures,
            (std::vector<std::string>{"None Selected"}));
  // The whole top ring and points 1 and 2 of the bottom ring.
  for (std::int32_t n : {1, 2, 5, 6, 7, 8}) {
    seg.Splines().FindByNumber(n)->flags |= kPointSelected;
  }
  ASSERT_TRUE(SaveSelectionAsSegment(seg, (dir / "sel").string(), false, registry).Ok());
  Result<SegmentData> sel = ReadSegment((dir / "sel.seg").string(), true, registry);
  ASSERT_TRUE(sel) << sel.failure().detail;
  EXPECT_EQ(sel->pivot, (Vector3{0, 5, 0}));
  ASSERT_EQ(sel->splines->Splines().size(), 2u);
  ControlPoint* run = sel->splines->Splines()[0].first;
  EXPECT_EQ(run->position, (Vector3{-10, -5, -10}));  // relative to the pivot
  EXPECT_EQ(run->next->next, nullptr);
  ControlPoint* ring = sel->splines->Splines()[1].first;
  EXPECT_TRUE(ring->prev && ring->prev->ClosesLoop());
  EXPECT_EQ(ring->position, (Vector3{-10, 5, -10}));
}

}  // namespace
}  // namespace zentrope
