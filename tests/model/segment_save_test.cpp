// Saving segments: which files are written, in which order, with which
// messages, and that nothing is lost when a save fails.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "model/segment_file.h"
#include "support/file_limits.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::ReadFile;
using testing::RunWithFileSizeLimit;
using testing::SourceDir;
using testing::TempDir;
using testing::TemporariesIn;
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

// Catches: a resave whose group file fails after the segment file was
// already replaced (a segment out of step with its groups), or that leaves
// temporaries behind.
TEST(SegmentSaveTest, ACompanionFailureWritesNothing) {
  TempDir dir;
  SegmentRegistry registry;
  Segment seg = OpenBox(dir, registry);
  const std::string oldSeg = ReadFile(dir / "box.seg");
  const std::string oldGroups = ReadFile(dir / "box.grp");
  seg.Splines().FindByNumber(1)->position.x += 1;  // the .seg changes
  // A group file far larger than the segment: past a limit the segment
  // itself stays under (the segment is a few hundred bytes).
  for (int g = 0; g < 200; ++g) {
    seg.groups.push_back({"group " + std::to_string(g), {0, 0, 0}, {1, 2, 3, 4, 5, 6, 7, 8}});
  }
  seg.MarkModified(kSegmentSplinesChanged | kSegmentGroupsChanged);
  const int result = RunWithFileSizeLimit(4096, [&] {
    const SaveReport report = SaveSegment(seg);
    return report.failures == std::vector<std::string>{"Trouble Saving Group List."} &&
                   report.reason == std::strerror(EFBIG) && seg.IsModified(kSegmentSplinesChanged)
               ? 0
               : 1;
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ReadFile(dir / "box.seg"), oldSeg);
  EXPECT_EQ(ReadFile(dir / "box.grp"), oldGroups);
  EXPECT_EQ(TemporariesIn(dir.path()), 0);
  // A folder where the group file goes: refused before anything is renamed.
  std::filesystem::remove(dir / "box.grp");
  std::filesystem::create_directory(dir / "box.grp");
  const SaveReport report = SaveSegment(seg);
  EXPECT_EQ(report.failures, (std::vector<std::string>{"Trouble Saving Group List."}));
  EXPECT_EQ(report.reason, std::strerror(EISDIR));
  EXPECT_EQ(ReadFile(dir / "box.seg"), oldSeg);
  EXPECT_TRUE(seg.IsModified(kSegmentSplinesChanged));
  EXPECT_EQ(TemporariesIn(dir.path()), 0);
}

// Catches: Save As over an existing segment keeping that segment's group,
// surface-map and colour files, which then come back with the new model.
TEST(SegmentSaveTest, SaveAsRemovesCompanionsTheSegmentLacks) {
  TempDir dir;
  SegmentRegistry registry;
  Segment seg = OpenBox(dir, registry);
  const std::string boxGroups = ReadFile(dir / "box.grp");
  for (const char* name : {"old.seg", "old.grp", "old.sur", "OLD.COL"}) {
    WriteFile(dir / name, "a stale file\n");
  }
  // With groups: the group file is rewritten, the others go.
  ASSERT_TRUE(SaveSegmentAs(seg, (dir / "old.seg").string(), true, registry).Ok());
  EXPECT_EQ(ReadFile(dir / "old.grp"), boxGroups);
  EXPECT_FALSE(std::filesystem::exists(dir / "old.sur"));
  EXPECT_FALSE(std::filesystem::exists(dir / "OLD.COL"));  // found whatever its case
  // Without groups, over a file that has some: no group file.
  seg.groups.clear();
  WriteFile(dir / "again.grp", boxGroups);
  ASSERT_TRUE(SaveSegmentAs(seg, (dir / "again.seg").string(), true, registry).Ok());
  EXPECT_FALSE(std::filesystem::exists(dir / "again.grp"));
  Result<Segment> reopened = OpenSegment((dir / "again.seg").string(), registry);
  ASSERT_TRUE(reopened);
  EXPECT_TRUE(reopened->groups.empty());
  // A selection saved over a segment with groups does not inherit them.
  WriteFile(dir / "part.grp", boxGroups);
  seg.Splines().FindByNumber(1)->flags |= kPointSelected;
  ASSERT_TRUE(SaveSelectionAsSegment(seg, (dir / "part").string(), true, registry).Ok());
  EXPECT_FALSE(std::filesystem::exists(dir / "part.grp"));
}

// Catches: a failed Save As leaving the segment named after a file that was
// never written.
TEST(SegmentSaveTest, FailedSaveAsKeepsTheOldName) {
  TempDir dir;
  SegmentRegistry registry;
  Segment seg = OpenBox(dir, registry);
  std::filesystem::create_directory(dir / "blocked.seg");
  EXPECT_FALSE(SaveSegmentAs(seg, (dir / "blocked.seg").string(), true, registry).Ok());
  EXPECT_EQ(seg.path, (dir / "box.seg").string());
  EXPECT_FALSE(std::filesystem::exists(dir / "blocked.grp"));
}

// Catches: a Save As to a folder name ("out/") or to an empty name adding
// ".seg" and writing hidden ".seg" and ".seg.grp" files, or writing nothing
// and reporting success.
TEST(SegmentSaveTest, SaveAsWithoutAFileNameIsRefused) {
  TempDir dir;
  SegmentRegistry registry;
  Segment seg = OpenBox(dir, registry);
  std::filesystem::create_directory(dir / "out");
  for (const std::string& name : {(dir / "out").string() + "/", std::string()}) {
    const SaveReport report = SaveSegmentAs(seg, name, true, registry);
    EXPECT_FALSE(report.Ok()) << name;
    EXPECT_EQ(report.reason, "no file name given") << name;
    EXPECT_EQ(seg.path, (dir / "box.seg").string());
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));
}

}  // namespace
}  // namespace zentrope
