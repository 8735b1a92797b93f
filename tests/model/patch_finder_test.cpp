// Patch search on hand-made meshes with known patch counts.
#include <gtest/gtest.h>

#include <vector>

#include "core/spline.h"
#include "model/lathe.h"
#include "model/patch_finder.h"
#include "model/segment_file.h"
#include "shell/interrupt.h"
#include "shell/memory_pool.h"
#include "support/expect_vector.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::VectorNear;

void Stack(ControlPoint* below, ControlPoint* above) {
  while (below->attachedAbove) {
    below = below->attachedAbove;
  }
  below->attachedAbove = above;
  above->attachedTo = below;
}

// rows × columns points: a horizontal spline per row and a vertical spline
// per column, the vertical points stacked on the horizontal ones.
Segment Grid(int rows, int columns) {
  Segment seg;
  std::vector<std::vector<ControlPoint*>> across(rows);
  for (int r = 0; r < rows; ++r) {
    std::vector<Vector3> pos;
    for (int c = 0; c < columns; ++c) {
      pos.push_back({static_cast<float>(c), static_cast<float>(r) * 1.5f, 0});
    }
    for (ControlPoint* p = seg.Splines().AppendSpline(pos); p; p = p->next) {
      across[r].push_back(p);
    }
  }
  for (int c = 0; c < columns; ++c) {
    std::vector<Vector3> pos;
    for (int r = 0; r < rows; ++r) {
      pos.push_back(across[r][c]->position);
    }
    int r = 0;
    for (ControlPoint* p = seg.Splines().AppendSpline(pos); p; p = p->next) {
      Stack(across[r++][c], p);
    }
  }
  seg.Renumber();
  seg.Splines().PlaceStacksAndTangents();
  seg.SplinesEdited();
  return seg;
}

std::pair<int, int> Count(Segment& seg) {
  EXPECT_EQ(FindPatches(seg), PatchSearch::kDone);
  int three = 0, four = 0;
  for (const Patch& p : seg.patches) {
    (p.ThreeSided() ? three : four) += 1;
  }
  return {three, four};
}

TEST(PatchFinderTest, SquareOfFourSplinesIsOnePatch) {
  Segment seg = Grid(2, 2);
  EXPECT_EQ(Count(seg), std::make_pair(0, 1));
}

TEST(PatchFinderTest, ThreeByThreeGrid) {
  Segment seg = Grid(3, 3);
  EXPECT_EQ(Count(seg), std::make_pair(0, 4));
  Segment wide = Grid(4, 6);
  EXPECT_EQ(Count(wide), std::make_pair(0, 15));
}

TEST(PatchFinderTest, ClosedLoopAloneIsNoPatch) {
  Segment seg;
  const Vector3 square[] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  seg.Splines().AppendSpline(square, true);
  seg.Renumber();
  seg.SplinesEdited();
  EXPECT_EQ(Count(seg), std::make_pair(0, 0));
}

TEST(PatchFinderTest, TriangleOfThreeSplines) {
  Segment seg;
  const Vector3 a{0, 0, 0}, b{4, 0, 0}, c{2, 3, 0};
  const Vector3 ab[] = {a, b}, bc[] = {b, c}, ca[] = {c, a};
  ControlPoint* s1 = seg.Splines().AppendSpline(ab);
  ControlPoint* s2 = seg.Splines().AppendSpline(bc);
  ControlPoint* s3 = seg.Splines().AppendSpline(ca);
  Stack(s1->next, s2);
  Stack(s2->next, s3);
  Stack(s1, s3->next);
  seg.Renumber();
  seg.SplinesEdited();
  ASSERT_EQ(Count(seg), std::make_pair(1, 0));
  const Patch& p = seg.patches[0];
  // The fourth corner repeats the first; slot 4 is zero.
  EXPECT_EQ(p.corners[3], p.corners[0]);
  EXPECT_EQ(p.cornerNumbers[2], p.cornerNumbers[3]);
  EXPECT_EQ(p.StartTangent(3), Vector3{});
  // The three sides are the three spline segments.
  for (int slot = 0; slot < 3; ++slot) {
    const Vector3 mid = p.BoundaryPoint(slot, 0.5f);
    const bool onAnEdge = VectorNear(mid, (a + b) * 0.5f, 1e-5f) ||
                          VectorNear(mid, (b + c) * 0.5f, 1e-5f) ||
                          VectorNear(mid, (c + a) * 0.5f, 1e-5f);
    EXPECT_TRUE(onAnEdge) << slot;
  }
}

TEST(PatchFinderTest, BoundariesFollowTheSplines) {
  Segment seg = Grid(3, 3);
  // Bend the mesh so that tangents matter.
  seg.working.ForEachPoint(
      [](ControlPoint& p) { p.position.z = p.position.x * p.position.x * 0.3f - p.position.y; });
  seg.working.ComputeAllTangents();
  ASSERT_EQ(FindPatches(seg), PatchSearch::kDone);
  ASSERT_EQ(seg.patches.size(), 4u);
  static constexpr int kStart[4] = {0, 1, 3, 0};
  static constexpr int kEnd[4] = {1, 2, 2, 3};
  for (const Patch& p : seg.patches) {
    for (int slot = 0; slot < 4; ++slot) {
      ControlPoint* s = p.corners[kStart[slot]];
      ControlPoint* e = p.corners[kEnd[slot]];
      for (float t : {0.25f, 0.5f, 0.8f}) {
        const Vector3 boundary = p.BoundaryPoint(slot, t);
        // The same curve, walked from whichever end the spline starts at.
        const auto onSpline = [&](ControlPoint* x, ControlPoint* y, float u) {
          for (ControlPoint* q : {x, x->attachedTo, x->attachedAbove}) {
            if (q && q->next && q->next->position == y->position) {
              return VectorNear(SegmentPoint(*q, u), boundary, 1e-4f);
            }
          }
          return ::testing::AssertionFailure() << "no segment";
        };
        EXPECT_TRUE(onSpline(s, e, t) || onSpline(e, s, 1.0f - t)) << "slot " << slot;
      }
    }
  }
}

TEST(PatchFinderTest, LatheGivesOnePatchPerCell) {
  Segment seg;
  const Vector3 profile[] = {{2, 0, 0}, {3, 1, 0}, {3, 2, 0}, {2, 3, 0}, {1, 4, 0}};
  ControlPoint* first = seg.Splines().AppendSpline(profile);
  ASSERT_TRUE(Lathe(seg, first, 6));
  // The profile itself plus 5 rings of 6 and 6 meridians of 5.
  EXPECT_EQ(seg.Splines().Splines().size(), 1u + 5u + 6u);
  seg.Renumber();
  seg.SplinesEdited();
  EXPECT_EQ(Count(seg), std::make_pair(0, 4 * 6));
}

TEST(PatchFinderTest, LatheRings) {
  Segment seg;
  seg.pivot = {1, 0, 2};
  const Vector3 profile[] = {{11, 5, 2}, {1, 7, 2}, {4, 9, 6}};
  ControlPoint* first = seg.Splines().AppendSpline(profile);
  ASSERT_TRUE(Lathe(seg, first->next, 8));
  const auto& splines = seg.Splines().Splines();
  ASSERT_EQ(splines.size(), 1u + 3u + 8u);
  // Ring of the point 10 from the axis: angles 0, 45, ... from (pivot.x + 10).
  ControlPoint* ring = splines[1].first;
  EXPECT_TRUE(VectorNear(ring->position, {11, 5, 2}, 1e-5f));
  EXPECT_TRUE(VectorNear(ring->next->position, {1 + 7.0710678f, 5, 2 + 7.0710678f}, 1e-4f));
  EXPECT_TRUE(ring->prev->ClosesLoop());
  // A point on the axis gives coincident ring points.
  ControlPoint* axis = splines[2].first;
  EXPECT_EQ(axis->position, axis->next->position);
  // Meridians are open (the profile is), stacked on the rings.
  ControlPoint* meridian = splines[4].first;
  EXPECT_EQ(meridian->prev, nullptr);
  EXPECT_EQ(meridian->attachedTo, ring);
  EXPECT_FALSE(Lathe(seg, first, 0));
  EXPECT_EQ(seg.Splines().Splines().size(), 12u);
}

TEST(PatchFinderTest, ColoursFindTheirPatches) {
  Segment seg = Grid(3, 3);
  ASSERT_EQ(FindPatches(seg), PatchSearch::kDone);
  const PatchKey key = seg.patches[1].cornerNumbers;
  ColourGroup red;
  red.colour = {0.5f, 0.25f, 0.125f};
  red.keys.push_back({key[3], key[1], key[0], key[2]});  // any order
  ColourGroup material;
  material.colour = {kUseMaterial, 0, 0};
  material.materialPath = "wood.mat";
  material.keys.push_back(seg.patches[2].cornerNumbers);
  seg.colours = {red, material};
  ASSERT_EQ(FindPatches(seg), PatchSearch::kDone);
  EXPECT_EQ(seg.patches[1].attribute.kind, PatchAttribute::Kind::kColour);
  EXPECT_EQ(seg.patches[1].attribute.colour, (Vector3{0.5f, 0.25f, 0.125f}));
  EXPECT_TRUE(seg.patches[1].patchFlags & kPatchHasColour);
  EXPECT_EQ(seg.patches[2].attribute.kind, PatchAttribute::Kind::kMaterial);
  EXPECT_EQ(seg.patches[2].attribute.materialPath, "wood.mat");
  EXPECT_EQ(seg.patches[0].attribute.kind, PatchAttribute::Kind::kNone);
}

TEST(PatchFinderTest, ColourFileKeepsThreeAndFourSidedKeys) {
  TempDir dir;
  testing::WriteFile(dir / "wood.mat", "material");
  std::vector<ColourGroup> groups(2);
  groups[0].name = "skin";
  groups[0].colour = {1, 0.5f, 0};
  groups[0].keys = {{4, 7, 9, 9}, {1, 2, 3, 4}};
  groups[1].colour = {kUseMaterial, 0, 0};
  groups[1].materialPath = (dir / "wood.mat").string();
  groups[1].keys = {{5, 6, 7, 8}};
  ASSERT_EQ(WriteColours(groups, dir / "a.col"), SaveStatus::kSaved);
  EXPECT_EQ(ReadFile(dir / "a.col"),
            "COLO 4 0 1 0 0 0\n0\n2\n2\n0\nskin\n1 0.5 0\n4 7 9 9\n1 2 3 4\n1\n1\nwood.mat\n"
            "5 6 7 8\n");
  Result<std::vector<ColourGroup>> back =
      ParseColours(ReadFile(dir / "a.col"), "a.col", dir.path());
  ASSERT_TRUE(back) << back.failure().detail;
  EXPECT_EQ((*back)[0].keys, groups[0].keys);
  EXPECT_EQ((*back)[1].materialPath, (dir / "wood.mat").string());
  // The three-sided key still matches its patch.
  EXPECT_EQ(LookupAttribute({9, 4, 7, 7}, *back).kind, PatchAttribute::Kind::kColour);
  EXPECT_EQ(LookupAttribute({9, 4, 8, 8}, *back).kind, PatchAttribute::Kind::kNone);
  // Older versions.
  EXPECT_TRUE(ParseColours("COLO 1 0 1 0 0 0\n0\n1\n1\n1 0 0\n1 2 3 4\n", "v1", dir.path()));
  EXPECT_TRUE(
      ParseColours("COLO 3 0 1 0 0 0\n0\n1\n1\nname\n0\n1 0 0\n1 2 3 4\n", "v3", dir.path()));
  EXPECT_FALSE(
      ParseColours("COLO 4 0 1 0 0 0\n0\n1\n1\n1\nmissing.mat\n1 2 3 4\n", "m", dir.path()));
  EXPECT_FALSE(
      ParseColours("COLO 4 0 1 0 0 0\n0\n1\n1\n0\nx\n1 0 0\n1 2 3\n", "short", dir.path()));
  EXPECT_FALSE(ParseColours("COLO 4 0 1 0 0 0\n0\n99999\n", "count", dir.path()));
}

TEST(PatchFinderTest, StopRequestKeepsWhatWasFound) {
  Segment seg = Grid(3, 3);
  RequestEscape();
  EXPECT_EQ(FindPatches(seg), PatchSearch::kStopped);
  EXPECT_TRUE(seg.patches.empty());
  EXPECT_EQ(EnsurePatches(seg), PatchSearch::kDone);  // stale flag from the edit
  EXPECT_EQ(seg.patches.size(), 4u);
}

// Holds the main pool's memory limit at the total in use (so that the
// patch array cannot grow into a new arena) for the life of the scope, with
// a hook counting the out-of-memory escapes; the hook gives the memory back
// on the call given (0: never).
class TightMemory {
 public:
  explicit TightMemory(int freeOnCall) : saved_(MemoryPool::Main().limit()) {
    MemoryPool& pool = MemoryPool::Main();
    pool.set_limit(pool.total_allocated());
    hook_ = pool.add_out_of_memory_hook([this, freeOnCall] {
      if (++calls == freeOnCall) {
        MemoryPool::Main().set_limit(saved_);
      }
    });
  }
  ~TightMemory() {
    MemoryPool::Main().remove_out_of_memory_hook(hook_);
    MemoryPool::Main().set_limit(saved_);
  }
  TightMemory(const TightMemory&) = delete;
  TightMemory& operator=(const TightMemory&) = delete;
  int calls = 0;

 private:
  std::int64_t saved_;
  int hook_ = 0;
};

// Catches: patch finding giving up on the first (or second) out-of-memory
// escape instead of searching again until the third.
TEST(PatchFinderTest, OutOfMemoryRetriesUntilTheThirdEscape) {
  // 400 patches: their array needs more than a standard arena.
  Segment seg = Grid(21, 21);
  {
    TightMemory tight(2);  // memory comes back while the second escape is taken
    EXPECT_EQ(FindPatches(seg), PatchSearch::kDone);
    EXPECT_EQ(tight.calls, 2);
  }
  EXPECT_EQ(seg.patches.size(), 400u);
  Segment fresh = Grid(21, 21);
  {
    TightMemory tight(0);
    EXPECT_EQ(FindPatches(fresh), PatchSearch::kOutOfMemory);
    EXPECT_EQ(tight.calls, 3) << "gives up on the third escape";
  }
  EXPECT_FALSE(MemoryPool::Main().escape_armed());
  EXPECT_EQ(FindPatches(fresh), PatchSearch::kDone);
  EXPECT_EQ(fresh.patches.size(), 400u);
}

}  // namespace
}  // namespace zentrope
