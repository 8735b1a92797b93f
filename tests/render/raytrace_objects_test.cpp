// Tests of raytrace_objects: the slab test, flat-polygon hits, object boxes,
// classification of added patches and the lazy halves of curved ones.
#include "render/raytrace_objects.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include "material/material.h"
#include "render/ray_patches.h"
#include "shell/memory_pool.h"
#include "support/memory_limit.h"

namespace zentrope {
namespace {

using testing::LimitScope;
using testing::QuarterCylinder;
using testing::Square;

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

Box MakeBox(Vector3 lo, Vector3 hi) {
  Box b;
  b.lo = lo;
  b.hi = hi;
  return b;
}

class RaytraceObjectsTest : public ::testing::Test {
 protected:
  void SetUp() override { MemoryPool::Main().set_limit(std::int64_t{1} << 30); }
};

// Catches: entry and exit swapped for negative directions, the entry not
// clamped at the origin, a box behind the origin hit, an empty box hit.
TEST(SlabTestTest, EntryExitInsideBehindEmpty) {
  const Box box = MakeBox({-1, -1, 10}, {1, 1, 20});
  float entry = 0, exit = 0;
  ASSERT_TRUE(SlabTest(box, Ray({0, 0, 0}, {0, 0, 1}), entry, exit));
  EXPECT_FLOAT_EQ(entry, 10.0f);
  EXPECT_FLOAT_EQ(exit, 20.0f);
  ASSERT_TRUE(SlabTest(box, Ray({0, 0, 30}, {0, 0, -1}), entry, exit));
  EXPECT_FLOAT_EQ(entry, 10.0f);
  EXPECT_FLOAT_EQ(exit, 20.0f);
  ASSERT_TRUE(SlabTest(box, Ray({0, 0, 15}, {0, 0, 1}), entry, exit));
  EXPECT_FLOAT_EQ(entry, 0.0f);
  EXPECT_FLOAT_EQ(exit, 5.0f);
  EXPECT_FALSE(SlabTest(box, Ray({0, 0, 30}, {0, 0, 1}), entry, exit));   // behind
  EXPECT_FALSE(SlabTest(box, Ray({5, 0, 0}, {0, 0, 1}), entry, exit));    // beside
  EXPECT_FALSE(SlabTest(Box{}, Ray({0, 0, 0}, {0, 0, 1}), entry, exit));  // empty
  // Diagonal: enters through x = 1 at t = √2·... the slab of x lies 1..3.
  const float s = std::sqrt(0.5f);
  ASSERT_TRUE(
      SlabTest(MakeBox({1, -10, -10}, {3, 10, 10}), Ray({0, 0, 0}, {s, s, 0}), entry, exit));
  EXPECT_NEAR(entry, 1.0f / s, 1e-5f);
  EXPECT_NEAR(exit, 3.0f / s, 1e-5f);
}

// Catches: 0·inf = NaN on a zero direction component turned into a hit for
// an origin outside the slab, or into a miss for one on its face.
TEST(SlabTestTest, ZeroDirectionComponents) {
  const Box box = MakeBox({-1, -1, 10}, {1, 1, 20});
  float entry = 0, exit = 0;
  for (float zero : {0.0f, -0.0f}) {
    // Parallel to x, inside, outside, on the low face and on the high face.
    EXPECT_TRUE(SlabTest(box, Ray({0, 0, 0}, {zero, zero, 1}), entry, exit));
    EXPECT_FALSE(SlabTest(box, Ray({2, 0, 0}, {zero, zero, 1}), entry, exit));
    EXPECT_FALSE(SlabTest(box, Ray({-2, 0, 0}, {zero, zero, 1}), entry, exit));
    EXPECT_TRUE(SlabTest(box, Ray({-1, 0, 0}, {zero, zero, 1}), entry, exit));
    EXPECT_TRUE(SlabTest(box, Ray({1, 1, 0}, {zero, zero, 1}), entry, exit));
    EXPECT_FLOAT_EQ(entry, 10.0f);
    EXPECT_FLOAT_EQ(exit, 20.0f);
  }
  // A box flat in x (a wall) with the origin in its plane.
  EXPECT_TRUE(SlabTest(MakeBox({0, -1, 10}, {0, 1, 20}), Ray({0, 0, 0}, {0, 0, 1}), entry, exit));
  EXPECT_FALSE(SlabTest(MakeBox({0, -1, 10}, {0, 1, 20}), Ray({0, 2, 0}, {0, 0, 1}), entry, exit));
}

// A flat object made by hand (objects are not copyable: built in place).
void MakeFlat(RayObject& o, const RenderPatch& patch, const std::array<Vector3, 4>& normals) {
  o.patch = patch;
  o.normals = normals;
  o.box = ObjectBox(patch, RaytraceShape::kFlat);
}

// Catches: the wrong corners' (u, v) given to a triangle, the piece's range
// ignored, or the second triangle (P0, P2, P3) never tested.
TEST(IntersectFlatTest, UvWithinThePatchRangeOnBothTriangles) {
  RenderPatch r = Square(0, 0, 10, 10, 5);
  r.uLo = 0.5f;
  r.uHi = 0.75f;
  r.vLo = 0.25f;
  r.vHi = 0.5f;
  RayObject o;
  MakeFlat(o, r, {});
  FlatHit hit;
  // Below the diagonal P0→P2 (triangle P0, P1, P2): x = 8, y = 2.
  ASSERT_TRUE(IntersectFlat(o, Ray({8, 2, 0}, {0, 0, 1}), hit));
  EXPECT_FLOAT_EQ(hit.t, 5.0f);
  EXPECT_NEAR(hit.u, 0.5f + 0.8f * 0.25f, 1e-6f);
  EXPECT_NEAR(hit.v, 0.25f + 0.2f * 0.25f, 1e-6f);
  // Above it (triangle P0, P2, P3): x = 3, y = 9.
  ASSERT_TRUE(IntersectFlat(o, Ray({3, 9, 0}, {0, 0, 1}), hit));
  EXPECT_NEAR(hit.u, 0.5f + 0.3f * 0.25f, 1e-6f);
  EXPECT_NEAR(hit.v, 0.25f + 0.9f * 0.25f, 1e-6f);
  // Outside, edge-on and behind.
  EXPECT_FALSE(IntersectFlat(o, Ray({11, 5, 0}, {0, 0, 1}), hit));
  EXPECT_FALSE(IntersectFlat(o, Ray({-5, 5, 5}, {1, 0, 0}), hit));
  EXPECT_FALSE(IntersectFlat(o, Ray({5, 5, 10}, {0, 0, 1}), hit));
}

// Catches: rays through an edge two pieces share slipping between them by
// rounding (a seam of dots showing the far side of the surface): every ray
// aimed at a point of the shared edge must hit one of the two pieces.
TEST(IntersectFlatTest, RaysThroughASharedEdgeAlwaysHit) {
  // Two tilted pieces sharing the edge a→b, at coordinates no float holds
  // exactly.
  const Vector3 a{0.1f, -7.3f, 3.7f}, b{0.3f, 9.1f, 4.9f};
  const Vector3 left{-6.7f, 1.3f, 2.2f}, right{7.1f, 0.7f, 6.3f};
  RenderPatch l, r;
  l.p = {left, a, b, left};  // three-sided: P0 = P3
  r.p = {a, right, right, b};
  RayObject lo, ro;
  MakeFlat(lo, l, {});
  MakeFlat(ro, r, {});
  const Vector3 eye{0.37f, 1.1f, 60.3f};
  int missed = 0;
  for (int i = 0; i <= 2000; ++i) {
    const float s = static_cast<float>(i) / 2000.0f;
    const Vector3 onEdge = a + (b - a) * s;
    const Vector3 d = Normalized(onEdge - eye);
    FlatHit hit;
    if (!IntersectFlat(lo, Ray(eye, d), hit) && !IntersectFlat(ro, Ray(eye, d), hit)) {
      ++missed;
    }
  }
  EXPECT_EQ(missed, 0);
}

// Catches: corner normals not interpolated by the barycentric weights, or a
// non-unit result.
TEST(IntersectFlatTest, NormalInterpolatedAndUnit) {
  const RenderPatch r = Square(0, 0, 10, 10, 0);
  const float s = std::sqrt(0.5f);
  // N0 = N1 = −z, N2 = N3 = (s, 0, −s).
  RayObject o;
  MakeFlat(o, r, {Vector3{0, 0, -1}, Vector3{0, 0, -1}, Vector3{s, 0, -s}, Vector3{s, 0, -s}});
  FlatHit hit;
  // At x = 10, y = 5 on the first triangle: weights P0 0, P1 0.5, P2 0.5.
  ASSERT_TRUE(IntersectFlat(o, Ray({10, 5, -1}, {0, 0, 1}), hit));
  const Vector3 expected = Normalized(Vector3{0, 0, -1} * 0.5f + Vector3{s, 0, -s} * 0.5f);
  EXPECT_NEAR(hit.normal.x, expected.x, 1e-5f);
  EXPECT_NEAR(hit.normal.z, expected.z, 1e-5f);
  EXPECT_NEAR(Length(hit.normal), 1.0f, 1e-6f);
}

// Catches: zero or cancelling corner normals giving a zero or NaN normal
// instead of the face's (oriented as v tangent × u tangent, here −z).
TEST(IntersectFlatTest, ZeroOrCancellingNormalsFallBackToTheFace) {
  const RenderPatch r = Square(0, 0, 10, 10, 0);
  FlatHit hit;
  RayObject zero;
  MakeFlat(zero, r, {});
  ASSERT_TRUE(IntersectFlat(zero, Ray({3, 9, -1}, {0, 0, 1}), hit));
  EXPECT_FLOAT_EQ(hit.normal.z, -1.0f);
  ASSERT_TRUE(IntersectFlat(zero, Ray({8, 2, -1}, {0, 0, 1}), hit));
  EXPECT_FLOAT_EQ(hit.normal.z, -1.0f);
  // N0 and N2 opposite: at the middle of the diagonal they cancel.
  RayObject cancel;
  MakeFlat(cancel, r, {Vector3{1, 0, 0}, Vector3{}, Vector3{-1, 0, 0}, Vector3{}});
  ASSERT_TRUE(IntersectFlat(cancel, Ray({5, 5, -1}, {0, 0, 1}), hit));
  EXPECT_TRUE(std::isfinite(hit.normal.x) && std::isfinite(hit.normal.z));
  EXPECT_NEAR(Length(hit.normal), 1.0f, 1e-6f);
}

// Catches: a three-sided piece tested as two triangles (its second is a
// line) or its (u, v) taken from the square's diagonal split: u runs from
// the point corner to the P1→P2 edge, v along it.
TEST(IntersectFlatTest, ThreeSidedPieceUsesOneTriangle) {
  RenderPatch r;
  r.p = {Vector3{0, 0, 0}, Vector3{10, -10, 0}, Vector3{10, 10, 0}, Vector3{0, 0, 0}};
  RayObject o;
  MakeFlat(o, r, {});
  FlatHit hit;
  ASSERT_TRUE(IntersectFlat(o, Ray({5, 2.5f, -1}, {0, 0, 1}), hit));
  EXPECT_NEAR(hit.u, 0.5f, 1e-6f);
  EXPECT_NEAR(hit.v, 0.75f, 1e-6f);
  EXPECT_FALSE(IntersectFlat(o, Ray({5, 6, -1}, {0, 0, 1}), hit));
}

// Catches: a curved box built from the corners only: the arc of the quarter
// cylinder reaches x = z = R·√½ beyond the chord, and its handles further.
TEST(ObjectBoxTest, CurvedBoxHoldsTheHandles) {
  const RenderPatch r = QuarterCylinder(100.0f, 50.0f);
  const Box box = ObjectBox(r, RaytraceShape::kCurvedUFirst);
  // Handles at (100, 0, 55.2) and (55.2, 0, 100): the box reaches x, z =
  // 100 at both ends, so the corners alone would give the same; the
  // distinguishing part is the chord-side bound: nothing below 0.
  EXPECT_LE(box.lo.x, 0.0f);
  EXPECT_GE(box.hi.x, 100.0f);
  EXPECT_GE(box.hi.z, 100.0f);
  EXPECT_LE(box.lo.y, 0.0f);
  EXPECT_GE(box.hi.y, 50.0f);
  // A bulging edge: P0 (0,0,0) to P1 (100,0,0) with handles lifting it to
  // z = 50: the Bézier points reach 50 and the curve 37.5.
  RenderPatch bulge = Square(0, 0, 100, 100, 0);
  bulge.t0u = {100, 0, 150};
  bulge.t1u = {100, 0, -150};
  const Box b2 = ObjectBox(bulge, RaytraceShape::kCurvedUFirst);
  EXPECT_GE(b2.hi.z, 50.0f);
  EXPECT_LT(b2.hi.z, 50.0f + ObjectBoxMargin(b2) + 1e-3f);
}

// Walks every half of the object down to flat pieces (at most maxLevel
// deep), calling visit(piece, parent) for each half.
void Walk(const RaytraceObjects& scene, const RayObject& o, int maxLevel,
          const std::function<void(const RayObject&, const RayObject&)>& visit) {
  if (o.shape == RaytraceShape::kFlat || o.level >= maxLevel) {
    return;
  }
  const RayObject* h = scene.Halves(o);
  ASSERT_NE(h, nullptr);
  for (int i = 0; i < 2; ++i) {
    visit(h[i], o);
    Walk(scene, h[i], maxLevel, visit);
  }
}

bool Inside(const Box& box, const Vector3& p) {
  return p.x >= box.lo.x && p.x <= box.hi.x && p.y >= box.lo.y && p.y <= box.hi.y &&
         p.z >= box.lo.z && p.z <= box.hi.z;
}

// Catches: a curved box that the surface of its deep halves leaves (the
// middle cuts or the margin missing), so rays passing just inside the true
// surface miss the root box. Every corner made by any halving lies on the
// surface the halves converge to; each must lie in the root's box and in
// every ancestor's.
TEST_F(RaytraceObjectsTest, DeepHalvesStayInsideTheirAncestorsBoxes) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> U(-1.0f, 1.0f);
  const auto jitter = [&](float s) { return Vector3{U(rng) * s, U(rng) * s, U(rng) * s}; };
  int checked = 0;
  for (int trial = 0; trial < 24; ++trial) {
    const float handles = trial % 2 ? 150.0f : 60.0f;  // up to 1.5 × the chords
    RenderPatch r;
    r.p = {Vector3{0, 0, 0} + jitter(30), Vector3{100, 0, 0} + jitter(30),
           Vector3{100, 100, 0} + jitter(30), Vector3{0, 100, 0} + jitter(30)};
    if (trial % 6 == 0) {
      r.p[3] = r.p[0];  // three-sided
    }
    r.t0u = r.p[1] - r.p[0] + jitter(handles);
    r.t1u = r.p[1] - r.p[0] + jitter(handles);
    r.t3u = r.p[2] - r.p[3] + jitter(handles);
    r.t2u = r.p[2] - r.p[3] + jitter(handles);
    r.t0v = r.p[3] - r.p[0] + jitter(handles);
    r.t3v = r.p[3] - r.p[0] + jitter(handles);
    r.t1v = r.p[2] - r.p[1] + jitter(handles);
    r.t2v = r.p[2] - r.p[1] + jitter(handles);
    RaytraceObjects scene;
    const RayObject* root = scene.AddPatch(r, nullptr);
    ASSERT_NE(root, nullptr);
    if (root->shape == RaytraceShape::kFlat) {
      continue;
    }
    // Ancestors by level along the current path.
    std::vector<const RayObject*> path{root};
    Walk(scene, *root, 9, [&](const RayObject& half, const RayObject& parent) {
      path.resize(parent.level + 1);
      ASSERT_EQ(path.back(), &parent);
      path.push_back(&half);
      for (const Vector3& p : half.patch.p) {
        for (std::size_t a = 0; a + 1 < path.size(); ++a) {
          EXPECT_TRUE(Inside(path[a]->box, p))
              << "trial " << trial << " level " << int(half.level) << " ancestor " << a;
          ++checked;
        }
      }
    });
  }
  EXPECT_GT(checked, 1000);
}

// Catches: non-finite or pointlike patches added (NaN boxes poison the tree).
TEST_F(RaytraceObjectsTest, BadPatchesAreNotAdded) {
  RaytraceObjects scene;
  RenderPatch nan = Square(0, 0, 10, 10, 0);
  nan.p[2].y = kNaN;
  EXPECT_EQ(scene.AddPatch(nan, nullptr), nullptr);
  RenderPatch inf = Square(0, 0, 10, 10, 0);
  inf.t1v.x = kInf;
  EXPECT_EQ(scene.AddPatch(inf, nullptr), nullptr);
  RenderPatch point;
  point.p = {Vector3{3, 3, 3}, Vector3{3, 3, 3}, Vector3{3, 3, 3}, Vector3{3, 3, 3}};
  point.t0u = {10, 0, 0};
  EXPECT_EQ(scene.AddPatch(point, nullptr), nullptr);
  EXPECT_TRUE(scene.roots().empty());
  EXPECT_EQ(scene.Count(), 0u);
  // A line (two distinct corners) can still be added; rays pass it edge-on.
  RenderPatch line = Square(0, 0, 10, 0, 0);
  EXPECT_NE(scene.AddPatch(line, nullptr), nullptr);
}

// Catches: the classification, the corner normals or the flags and shading
// not stored with the object.
TEST_F(RaytraceObjectsTest, AddPatchClassifiesAndKeepsNormalsFlagsShading) {
  RaytraceObjects scene;
  RayShading& shading = scene.AddShading();
  const RayObject* flat = scene.AddPatch(Square(0, 0, 10, 10, 0), &shading, 0x03);
  ASSERT_NE(flat, nullptr);
  EXPECT_EQ(flat->shape, RaytraceShape::kFlat);
  EXPECT_EQ(flat->flags, 0x03);
  EXPECT_EQ(flat->shading, &shading);
  EXPECT_EQ(flat->level, 0);
  EXPECT_EQ(flat->normals[0], (Vector3{0, 0, -1}));
  // The cylinder's u edges bulge (arcs), its v edges do not: cut across u.
  const RenderPatch cyl = QuarterCylinder(100.0f, 50.0f);
  const RayObject* curved = scene.AddPatch(cyl, &shading);
  ASSERT_NE(curved, nullptr);
  EXPECT_EQ(curved->shape, RaytraceShape::kCurvedUFirst);
  EXPECT_EQ(curved->normals, CornerNormals(cyl));
  EXPECT_EQ(scene.roots().size(), 2u);
}

// Catches: halves remade on every call, not contiguous, their (u, v) range
// reset to 0..1 by the reclassification, level or flags not carried.
TEST_F(RaytraceObjectsTest, HalvesAreMadeOnceWithTheirOwnRange) {
  RaytraceObjects scene;
  RayShading& shading = scene.AddShading();
  const RayObject* curved =
      scene.AddPatch(QuarterCylinder(100.0f, 50.0f), &shading, ray_object_flags::kNoShadows);
  ASSERT_NE(curved, nullptr);
  EXPECT_EQ(curved->halves.load(), nullptr);
  const RayObject* h = scene.Halves(*curved);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(scene.Halves(*curved), h);
  EXPECT_EQ(curved->halves.load(), h);
  EXPECT_EQ(scene.Count(), 3u);
  // Cut across u: u ranges 0..½ and ½..1, v whole.
  EXPECT_EQ(h[0].patch.uLo, 0.0f);
  EXPECT_EQ(h[0].patch.uHi, 0.5f);
  EXPECT_EQ(h[1].patch.uLo, 0.5f);
  EXPECT_EQ(h[1].patch.uHi, 1.0f);
  EXPECT_EQ(h[1].patch.vLo, 0.0f);
  EXPECT_EQ(h[1].patch.vHi, 1.0f);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(h[i].level, 1);
    EXPECT_EQ(h[i].flags, ray_object_flags::kNoShadows);
    EXPECT_EQ(h[i].shading, &shading);
  }
  // The cut runs through the arc's middle, (R·√½, y, R·√½).
  EXPECT_NEAR(h[0].patch.p[1].x, 70.7107f, 1e-2f);
  EXPECT_NEAR(h[0].patch.p[1].z, 70.7107f, 1e-2f);
  // A second level keeps nesting the range: u 0..¼.
  const RayObject* hh = scene.Halves(h[0]);
  ASSERT_NE(hh, nullptr);
  EXPECT_EQ(hh[0].patch.uHi, 0.25f);
  EXPECT_EQ(hh[0].level, 2);
  // A flat object has no halves.
  const RayObject* flat = scene.AddPatch(Square(0, 0, 10, 10, 0), nullptr);
  EXPECT_EQ(scene.Halves(*flat), nullptr);
}

// Catches: a v-first object cut across u (or the reverse).
TEST_F(RaytraceObjectsTest, VFirstObjectsAreCutAcrossV) {
  RaytraceObjects scene;
  // The cylinder turned so that its arcs are the v edges.
  const RenderPatch c = QuarterCylinder(100.0f, 50.0f);
  RenderPatch r;
  r.p = {c.p[0], c.p[3], c.p[2], c.p[1]};
  r.t0u = r.t3u = r.t1u = r.t2u = {0, 50, 0};
  r.t0v = c.t0u;
  r.t3v = c.t1u;
  r.t1v = c.t3u;
  r.t2v = c.t2u;
  const RayObject* curved = scene.AddPatch(r, nullptr);
  ASSERT_NE(curved, nullptr);
  ASSERT_EQ(curved->shape, RaytraceShape::kCurvedVFirst);
  const RayObject* h = scene.Halves(*curved);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h[0].patch.vHi, 0.5f);
  EXPECT_EQ(h[1].patch.vLo, 0.5f);
  EXPECT_EQ(h[0].patch.uHi, 1.0f);
}

// Catches: a patch that never flattens cut without end (memory and time
// without bound): past the level cap a half is taken as flat.
TEST_F(RaytraceObjectsTest, HugeTangentsStopAtTheLevelCap) {
  RaytraceObjects scene;
  RenderPatch r = Square(0, 0, 1000, 1000, 0);
  r.t0u = {1.0e20f, 0, 1.0e20f};
  r.t1u = {1.0e20f, 0, -1.0e20f};
  r.t0v = {0, 1.0e20f, 1.0e20f};
  r.t3v = {0, 1.0e20f, -1.0e20f};
  const RayObject* o = scene.AddPatch(r, nullptr);
  ASSERT_NE(o, nullptr);
  int steps = 0;
  while (o->shape != RaytraceShape::kFlat) {
    const RayObject* h = scene.Halves(*o);
    ASSERT_NE(h, nullptr);
    o = &h[steps % 2];
    ASSERT_LE(++steps, 64);
  }
  EXPECT_LE(o->level, 24);
}

// Catches: two threads cutting the same object each making their own halves
// (rays then disagree on the surface), or a data race on the arena.
TEST_F(RaytraceObjectsTest, RacingThreadsSeeTheSameHalves) {
  RaytraceObjects scene;
  std::vector<const RayObject*> curved;
  for (int i = 0; i < 64; ++i) {
    RenderPatch r = QuarterCylinder(100.0f + i, 50.0f);
    curved.push_back(scene.AddPatch(r, nullptr));
  }
  std::vector<const RayObject*> seen[2];
  const auto work = [&](int k) {
    for (int round = 0; round < 3; ++round) {
      for (const RayObject* o : curved) {
        const RayObject* h = scene.Halves(*o);
        seen[k].push_back(h);
        seen[k].push_back(scene.Halves(h[k]));
      }
    }
  };
  std::thread a(work, 0);
  std::thread b(work, 1);
  a.join();
  b.join();
  for (std::size_t i = 0; i < seen[0].size(); i += 2) {
    EXPECT_EQ(seen[0][i], seen[1][i]);
  }
  EXPECT_EQ(scene.Count(), 64u + 64u * 2u + 64u * 4u);
  EXPECT_FALSE(scene.OutOfMemory());
}

// Catches: halves that cannot be allocated crashing, or reported as made;
// the next ray must see the same answer (no halves) too.
TEST_F(RaytraceObjectsTest, HalvesRefusedByTheMemoryLimit) {
  RaytraceObjects scene;
  std::vector<const RayObject*> curved;
  for (int i = 0; i < 400; ++i) {
    curved.push_back(scene.AddPatch(QuarterCylinder(100.0f + i, 50.0f), nullptr));
  }
  LimitScope limit(MemoryPool::Main().total_allocated());
  const RayObject* refused = nullptr;
  for (const RayObject* o : curved) {
    if (!scene.Halves(*o)) {
      refused = o;
      break;
    }
  }
  ASSERT_NE(refused, nullptr);
  EXPECT_TRUE(scene.OutOfMemory());
  EXPECT_EQ(scene.Halves(*refused), nullptr);
}

// Catches: a shadow ray answered "something is in the way" for a scene
// that can let light through (a transparent material deep in a pattern
// tree, a transparency or cookie-cut map, a cookie-cut decal), which would
// lose the tint or the hole in the shadow.
TEST(SurelyOpaqueTest, AnythingThatLetsLightThroughIsNotOpaque) {
  EXPECT_TRUE(SurelyOpaque(nullptr));
  AttributeRecord solid;
  solid.colour = {0.5f, 0.5f, 0.5f};
  const auto plain = MakeAttributeMaterial("plain", solid);
  RayShading shading;
  shading.patch.material = plain.get();
  EXPECT_TRUE(SurelyOpaque(&shading));

  // A checker whose second leaf is glass.
  Material checker;
  checker.root = MakeNode(NodeKind::kChecker);
  checker.root->first = MakeNode(NodeKind::kAttribute);
  checker.root->second = MakeNode(NodeKind::kAttribute);
  checker.root->second->attributes.transparency = {0.0f, 0.0f, 0.4f};
  shading.patch.material = &checker;
  EXPECT_FALSE(SurelyOpaque(&shading));
  checker.root->second->attributes.transparency = {0.0f, 0.0f, 0.0f};
  EXPECT_TRUE(SurelyOpaque(&shading));

  for (std::int16_t kind : {map_kind::kTransparency, map_kind::kCookieCut, map_kind::kNormal}) {
    std::vector<ProjectedMap> maps(1);
    maps[0].kind = kind;
    shading.maps = &maps;
    EXPECT_EQ(SurelyOpaque(&shading), kind == map_kind::kNormal) << kind;
  }
  shading.maps = nullptr;
  SurfaceMap decal;
  decal.kind = map_kind::kCookieCut;
  shading.patchDecals.push_back({&decal, nullptr});
  EXPECT_FALSE(SurelyOpaque(&shading));
  decal.kind = map_kind::kNormal;
  EXPECT_TRUE(SurelyOpaque(&shading));

  // One such patch is enough for the whole frame.
  RaytraceObjects objects;
  objects.AddPatch(Square(0, 0, 1, 1, 5), nullptr);
  EXPECT_TRUE(objects.AllOpaque());
  decal.kind = map_kind::kCookieCut;
  objects.AddPatch(Square(0, 0, 1, 1, 6), &shading);
  EXPECT_FALSE(objects.AllOpaque());
}

}  // namespace
}  // namespace zentrope
