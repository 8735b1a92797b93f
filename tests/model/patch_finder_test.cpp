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

// A triangle of three two-point splines a→b, b→c, c→a, stacked at the
// corners, plus a dangling two-point spline (a spoke, closing no loop) from
// each corner listed: a spoke makes that corner's attach stack one taller.
Segment TriangleWithSpokes(const std::vector<Vector3>& spokes) {
  Segment seg;
  const Vector3 a{0, 0, 0}, b{4, 0, 0}, c{2, 3, 0};
  const Vector3 ab[] = {a, b}, bc[] = {b, c}, ca[] = {c, a};
  ControlPoint* s1 = seg.Splines().AppendSpline(ab);
  ControlPoint* s2 = seg.Splines().AppendSpline(bc);
  ControlPoint* s3 = seg.Splines().AppendSpline(ca);
  Stack(s1->next, s2);
  Stack(s2->next, s3);
  Stack(s1, s3->next);
  for (const Vector3& corner : spokes) {
    const Vector3 spoke[] = {corner, corner + Vector3{0, 0, 5}};
    ControlPoint* s = seg.Splines().AppendSpline(spoke);
    Stack(corner == a ? s1 : corner == b ? s1->next : s2->next, s);
  }
  seg.Renumber();
  seg.SplinesEdited();
  return seg;
}

TEST(PatchFinderTest, TriangleOfThreeSplines) {
  const Vector3 a{0, 0, 0}, b{4, 0, 0}, c{2, 3, 0};
  Segment seg = TriangleWithSpokes({});
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

// Slots 1 to 3 of a three-sided patch run corner 1→2, 2→3 and 4(=1)→3; slot 4
// is empty. Every edge here is a straight two-point spline, whose tangents
// are (P0 − P1)/2 at both ends, so its Bézier control points sit 1/6 and 5/6
// of the way along: at s = 0.25 the curve is 3·0.25·0.75²/6 + 3·0.25²·0.75·5/6
// + 0.25³ = 0.203125 of the way from the slot's start to its end.
::testing::AssertionResult SlotsJoinTheirCorners(const Patch& p) {
  static constexpr int kStart[3] = {0, 1, 3};
  static constexpr int kEnd[3] = {1, 2, 2};
  for (int slot = 0; slot < 3; ++slot) {
    const Vector3 s = p.corners[kStart[slot]]->position;
    const Vector3 e = p.corners[kEnd[slot]]->position;
    if (auto r = VectorNear(p.BoundaryPoint(slot, 0.25f), s + (e - s) * 0.203125f, 1e-5f); !r) {
      return r << " slot " << slot + 1;
    }
  }
  if (!(p.StartTangent(3) == Vector3{}) || !(p.EndTangent(3) == Vector3{})) {
    return ::testing::AssertionFailure() << "slot 4 is not empty";
  }
  return ::testing::AssertionSuccess();
}

// Catches: the tallest-stack choice of a triangle's first corner with a tie
// broken towards the second corner instead of the third, a stack only as tall
// as another taken for the start, or a wrong corner order for a choice.
TEST(PatchFinderTest, TriangleStartsAtTheTallestStack) {
  const Vector3 a{0, 0, 0}, b{4, 0, 0}, c{2, 3, 0};
  // The first walk is a → b → c (spline order, next side first), so S = a,
  // C2 = b, C3 = c; the key is (C2, C3, S, S) whichever corner comes first.
  // Stack heights without spokes are 1 each.
  struct Case {
    std::vector<Vector3> spokes;
    Vector3 first, second, third;
  };
  const Case cases[] = {
      {{}, c, a, b},      // all equal: C3 is at least as tall as C2 → (C3, S, C2)
      {{c}, c, a, b},     // C3 tallest
      {{b, c}, c, a, b},  // C2 and C3 tie: C3
      {{a}, a, b, c},     // S strictly tallest → (S, C2, C3)
      {{b}, b, a, c},     // C2 taller than C3, S not strictly tallest → (C2, S, C3)
      {{a, b}, b, a, c},  // S only as tall as C2: not S; C3 shorter than C2: C2
  };
  for (const Case& k : cases) {
    Segment seg = TriangleWithSpokes(k.spokes);
    ASSERT_EQ(Count(seg), std::make_pair(1, 0)) << k.spokes.size();
    const Patch& p = seg.patches[0];
    SCOPED_TRACE(::testing::Message()
                 << "first corner expected at " << k.first.x << "," << k.first.y);
    EXPECT_EQ(p.corners[0]->position, k.first);
    EXPECT_EQ(p.corners[1]->position, k.second);
    EXPECT_EQ(p.corners[2]->position, k.third);
    EXPECT_EQ(p.corners[3], p.corners[0]);
    // Bottom numbers after renumbering in spline order: a = 1, b = 2, c = 4.
    EXPECT_EQ(p.cornerNumbers, (PatchKey{2, 4, 1, 1}));
    EXPECT_TRUE(SlotsJoinTheirCorners(p));
  }
}

// Catches: a triangle's first corner chosen without looking at where earlier
// patches start (or the wrong corner of an earlier patch remembered).
TEST(PatchFinderTest, TriangleStartsWhereAnEarlierPatchStarts) {
  // Two triangles a-b-c and b-d-c sharing the edge b-c, with a spoke at d.
  Segment seg;
  const Vector3 a{0, 0, 0}, b{4, 0, 0}, c{2, 3, 0}, d{6, 3, 0};
  const Vector3 ab[] = {a, b}, bc[] = {b, c}, ca[] = {c, a}, bd[] = {b, d}, dc[] = {d, c},
                spoke[] = {d, d + Vector3{0, 0, 5}};
  ControlPoint* s1 = seg.Splines().AppendSpline(ab);
  ControlPoint* s2 = seg.Splines().AppendSpline(bc);
  ControlPoint* s3 = seg.Splines().AppendSpline(ca);
  ControlPoint* s4 = seg.Splines().AppendSpline(bd);
  ControlPoint* s5 = seg.Splines().AppendSpline(dc);
  ControlPoint* s6 = seg.Splines().AppendSpline(spoke);
  Stack(s1, s3->next);
  Stack(s1->next, s2);
  Stack(s1->next, s4);
  Stack(s2->next, s3);
  Stack(s2->next, s5->next);
  Stack(s4->next, s5);
  Stack(s4->next, s6);
  seg.Renumber();
  seg.SplinesEdited();
  // The quad a-b-d-c holds three numbers of the first triangle and its fourth:
  // a duplicate, so only the two triangles are patches.
  ASSERT_EQ(Count(seg), std::make_pair(2, 0));
  // First found from a: a → b → c; stack heights a 1, b 2, c 2, so the tie
  // goes to C3 and the patch starts at c.
  const Patch& first = seg.patches[0];
  EXPECT_EQ(first.corners[0]->position, c);
  EXPECT_EQ(first.corners[1]->position, a);
  EXPECT_EQ(first.corners[2]->position, b);
  // Then from b along s2: b → c → d. Every stack is 2 high (d's through the
  // spoke), so by height it would start at C3 = d; but the first patch starts
  // at C2 = c, which wins: corners (C2, S, C3) = (c, b, d).
  const Patch& second = seg.patches[1];
  EXPECT_EQ(second.corners[0]->position, c);
  EXPECT_EQ(second.corners[1]->position, b);
  EXPECT_EQ(second.corners[2]->position, d);
  EXPECT_EQ(second.corners[3], second.corners[0]);
  EXPECT_TRUE(SlotsJoinTheirCorners(first));
  EXPECT_TRUE(SlotsJoinTheirCorners(second));
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

// Catches: a meridian point given the profile point's Out bias on its In side
// (or the In bias on both sides), or its smooth flag not copied.
TEST(PatchFinderTest, LatheMeridiansCarryTheProfileBias) {
  Segment seg;
  const Vector3 profile[] = {{2, 0, 0}, {3, 1, 0}, {4, 2, 0}};
  ControlPoint* first = seg.Splines().AppendSpline(profile);
  ControlPoint* middle = first->next;
  ControlPoint* last = middle->next;
  first->SetInBias({10, 20, 1.5f});
  first->SetOutBias({-30, 40, 0.75f});
  middle->SetInBias({0, 0, 2});
  middle->SetOutBias({0, 0, 0.5f});
  last->SetInBias({5, 0, 1});
  last->SetOutBias({0, -15, 3});
  last->Set(kPointSmooth, false);
  ASSERT_TRUE(Lathe(seg, middle, 4));
  const auto& splines = seg.Splines().Splines();
  ASSERT_EQ(splines.size(), 1u + 3u + 4u);
  // Rings are made fresh: smooth and neutral.
  for (std::size_t i = 1; i <= 3; ++i) {
    EXPECT_EQ(splines[i].first->InBias(), kNeutralBias);
    EXPECT_EQ(splines[i].first->OutBias(), kNeutralBias);
  }
  for (std::size_t j = 4; j < splines.size(); ++j) {
    const ControlPoint* q = splines[j].first;
    for (const ControlPoint* source : {first, middle, last}) {
      ASSERT_NE(q, nullptr);
      EXPECT_EQ(q->InBias(), source->InBias()) << "meridian " << j - 4;
      EXPECT_EQ(q->OutBias(), source->OutBias()) << "meridian " << j - 4;
      EXPECT_EQ(q->Has(kPointSmooth), source->Has(kPointSmooth)) << "meridian " << j - 4;
      q = q->next;
    }
  }
  // Meridian 0 lies at θ = 0, on the profile's own points (2,0,0), (3,1,0),
  // (4,2,0). Its smooth middle point has chord D = (2,0,0) − (4,2,0) split
  // evenly (both neighbours √2 away): base tangents (−1,−1,0) each. The
  // points are collinear, so the reference normal is zero and only Magnitude
  // acts: In 2 gives (−2,−2,0), Out 0.5 gives (−0.5,−0.5,0).
  const ControlPoint* m = splines[4].first->next;
  EXPECT_TRUE(VectorNear(m->inTangent, {-2, -2, 0}, 1e-5f));
  EXPECT_TRUE(VectorNear(m->outTangent, {-0.5f, -0.5f, 0}, 1e-5f));
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
  // Catches: a second colour group after the counted one ignored, so that
  // the next save of the segment drops it.
  EXPECT_FALSE(ParseColours("COLO 1 0 1 0 0 0\n0\n1\n1\n1 0 0\n1 2 3 4\n1\n0 1 0\n5 6 7 8\n",
                            "extra", dir.path()));
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
