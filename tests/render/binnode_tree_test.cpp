// Tests of binnode_tree: the doubled-centre build (leaf size, axis, split
// value, alternate dealing and list order), the best-first nearest hit with
// its guards, curved patches cut on contact, threads, and bad input.
#include "render/binnode_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "render/ray_patches.h"
#include "render/render_errors.h"
#include "shell/interrupt.h"
#include "shell/memory_pool.h"

namespace zentrope {
namespace {

using testing::QuarterCylinder;
using testing::Square;
using testing::SquareAt;

// Sets an object's box outright so that the build's arithmetic on doubled
// centres is exact in the test.
void SetBox(RayObject* o, Vector3 lo, Vector3 hi) {
  o->box.lo = lo;
  o->box.hi = hi;
}

// An object whose doubled centre is exactly 2·c.
RayObject* AddAt(RaytraceObjects& scene, Vector3 c, float h = 1.0f) {
  RayObject* o = scene.AddPatch(SquareAt(c.x, c.y, c.z, h), nullptr);
  SetBox(o, c - Vector3{h, h, h}, c + Vector3{h, h, h});
  return o;
}

std::vector<const RayObject*> LeafList(const BinnodeTree& tree, int node) {
  const Binnode& n = tree.nodes()[node];
  EXPECT_TRUE(n.leaf);
  return {tree.leafObjects().begin() + n.first, tree.leafObjects().begin() + n.first + n.count};
}

class BinnodeTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MemoryPool::Main().set_limit(std::int64_t{1} << 30);
    escape_pressed();  // drop a stale request
  }
};

// Catches: a node of exactly 8 objects split (leaf test < 8 instead of < 9).
TEST_F(BinnodeTreeTest, EightObjectsMakeOneLeaf) {
  RaytraceObjects scene;
  for (int i = 0; i < 8; ++i) {
    AddAt(scene, {100.0f * i, 0.0f, 0.0f});
  }
  BinnodeTree tree;
  ASSERT_EQ(tree.Build(scene), 0);
  ASSERT_EQ(tree.nodes().size(), 1u);
  EXPECT_TRUE(tree.nodes()[0].leaf);
  EXPECT_EQ(tree.nodes()[0].count, 8);
}

// Catches: a node of 9 objects kept as a leaf; child boxes not the union of
// their objects' boxes.
TEST_F(BinnodeTreeTest, NineObjectsAreSplit) {
  RaytraceObjects scene;
  for (int i = 0; i < 9; ++i) {
    AddAt(scene, {100.0f * i, 0.0f, 0.0f});
  }
  BinnodeTree tree;
  ASSERT_EQ(tree.Build(scene), 0);
  ASSERT_EQ(tree.nodes().size(), 3u);
  const Binnode& root = tree.nodes()[0];
  EXPECT_FALSE(root.leaf);
  // Doubled centres 0..1600, split 800: x 0..300 first, 400..800 second.
  const Binnode& first = tree.nodes()[root.first];
  const Binnode& second = tree.nodes()[root.first + 1];
  EXPECT_EQ(first.count, 4);
  EXPECT_EQ(second.count, 5);
  EXPECT_EQ(first.box.lo.x, -1.0f);
  EXPECT_EQ(first.box.hi.x, 301.0f);
  EXPECT_EQ(second.box.lo.x, 399.0f);
  EXPECT_EQ(second.box.hi.x, 801.0f);
  EXPECT_EQ(root.box.lo.x, -1.0f);
  EXPECT_EQ(root.box.hi.x, 801.0f);
}

// Catches: dealing starting with the first child, or lists appended instead
// of pushed at the head. Nine objects 1 unit apart (doubled spread 16 on x
// would split, so they lie along x by 0.5: spread 8 < 10).
TEST_F(BinnodeTreeTest, SmallSpreadDealsAlternatelyToSecondFirst) {
  RaytraceObjects scene;
  std::vector<RayObject*> o;
  for (int i = 0; i < 9; ++i) {
    o.push_back(AddAt(scene, {0.5f * i, 0.0f, 0.0f}));
  }
  BinnodeTree tree;
  ASSERT_EQ(tree.Build(scene), 0);
  const Binnode& root = tree.nodes()[0];
  ASSERT_FALSE(root.leaf);
  // o0 → second, o1 → first, o2 → second ...; each pushed at the head.
  EXPECT_EQ(LeafList(tree, root.first), (std::vector<const RayObject*>{o[7], o[5], o[3], o[1]}));
  EXPECT_EQ(LeafList(tree, root.first + 1),
            (std::vector<const RayObject*>{o[8], o[6], o[4], o[2], o[0]}));
}

// Catches: the split side reversed (c > split instead of ≥), the split value
// not the middle of the centre range, or lists not head-pushed.
TEST_F(BinnodeTreeTest, SplitValueIsMiddleOfCentresAndEqualGoesSecond) {
  RaytraceObjects scene;
  std::vector<RayObject*> o;
  // Doubled centres on x: 0, 2, 4, 6, 20, 30, 38, 39, 40 → split (0 + 40)/2
  // = 20: the object with c = 20 goes to the second child.
  const float xs[] = {0.0f, 1.0f, 2.0f, 3.0f, 10.0f, 15.0f, 19.0f, 19.5f, 20.0f};
  for (float x : xs) {
    o.push_back(AddAt(scene, {x, 0.0f, 0.0f}));
  }
  BinnodeTree tree;
  ASSERT_EQ(tree.Build(scene), 0);
  const Binnode& root = tree.nodes()[0];
  ASSERT_FALSE(root.leaf);
  EXPECT_EQ(LeafList(tree, root.first), (std::vector<const RayObject*>{o[3], o[2], o[1], o[0]}));
  EXPECT_EQ(LeafList(tree, root.first + 1),
            (std::vector<const RayObject*>{o[8], o[7], o[6], o[5], o[4]}));
}

// Builds nine objects spread by (sx, sy, sz) per step and returns the axis
// the root split on, read from which children the extreme objects reached.
int SplitAxis(float sx, float sy, float sz) {
  RaytraceObjects scene;
  std::vector<RayObject*> o;
  for (int i = 0; i < 9; ++i) {
    // Reverse order on y and a zig-zag on z, so each axis splits the list
    // in its own way.
    const float fi = static_cast<float>(i);
    const float fy = static_cast<float>(8 - i);
    const float fz = static_cast<float>((i * 5) % 9);
    o.push_back(AddAt(scene, {sx * fi, sy * fy, sz * fz}));
  }
  BinnodeTree tree;
  EXPECT_EQ(tree.Build(scene), 0);
  const Binnode& root = tree.nodes()[0];
  const std::vector<const RayObject*> second = LeafList(tree, root.first + 1);
  std::vector<int> members;
  for (int i = 0; i < 9; ++i) {
    if (std::find(second.begin(), second.end(), o[i]) != second.end()) {
      members.push_back(i);
    }
  }
  // Doubled centres 0..16·s on every axis, split 8·s: on x objects 4..8
  // reach the second child, on y (8 − i ≥ 4) objects 0..4, on z the objects
  // with (5·i mod 9) ≥ 4.
  if (members == std::vector<int>{4, 5, 6, 7, 8}) {
    return 0;
  }
  if (members == std::vector<int>{0, 1, 2, 3, 4}) {
    return 1;
  }
  if (members == std::vector<int>{1, 3, 5, 7, 8}) {
    return 2;
  }
  return -1;
}

// Catches: the wrong axis chosen, or ties broken towards y or z.
TEST_F(BinnodeTreeTest, AxisOfLargestSpreadWithTiesToXThenY) {
  EXPECT_EQ(SplitAxis(10.0f, 5.0f, 5.0f), 0);
  EXPECT_EQ(SplitAxis(5.0f, 10.0f, 5.0f), 1);
  EXPECT_EQ(SplitAxis(5.0f, 5.0f, 10.0f), 2);
  EXPECT_EQ(SplitAxis(10.0f, 10.0f, 10.0f), 0);  // all equal: x
  EXPECT_EQ(SplitAxis(10.0f, 10.0f, 5.0f), 0);   // x = y: x
  EXPECT_EQ(SplitAxis(10.0f, 5.0f, 10.0f), 0);   // x = z: x
  EXPECT_EQ(SplitAxis(5.0f, 10.0f, 10.0f), 1);   // y = z: y
}

// Catches: hidden objects kept in the tree, or an empty scene crashing.
TEST_F(BinnodeTreeTest, HiddenObjectsLeftOutAndEmptySceneMisses) {
  RaytraceObjects scene;
  BinnodeTree tree;
  ASSERT_EQ(tree.Build(scene), 0);
  EXPECT_TRUE(tree.Empty());
  HitRecord hit;
  EXPECT_FALSE(tree.NearestHit({0, 0, -10}, {0, 0, 1}, hit));

  scene.AddPatch(SquareAt(0, 0, 0, 10), nullptr, ray_object_flags::kHidden);
  ASSERT_EQ(tree.Build(scene), 0);
  EXPECT_FALSE(tree.NearestHit({0, 0, -10}, {0, 0, 1}, hit));
}

// Catches: a miss reported as a hit, or the hit record's fields wrong.
TEST_F(BinnodeTreeTest, HitAndMissOnAFlatSquare) {
  RaytraceObjects scene;
  const RayObject* square = scene.AddPatch(Square(-10, -10, 10, 10, 5), nullptr);
  ASSERT_NE(square, nullptr);
  BinnodeTree tree;
  ASSERT_EQ(tree.Build(scene), 0);
  HitRecord hit;
  EXPECT_FALSE(tree.NearestHit({20, 0, -10}, {0, 0, 1}, hit));
  EXPECT_FALSE(tree.NearestHit({0, 0, -10}, {0, 0, -1}, hit));  // square behind
  ASSERT_TRUE(tree.NearestHit({5, -5, -10}, {0, 0, 1}, hit));
  EXPECT_FLOAT_EQ(hit.t, 15.0f);
  EXPECT_FLOAT_EQ(hit.point.z, 5.0f);
  EXPECT_EQ(hit.object, square);
  // u runs with x from -10 to 10, v with y.
  EXPECT_NEAR(hit.u, 0.75f, 1e-6f);
  EXPECT_NEAR(hit.v, 0.25f, 1e-6f);
  // v tangent × u tangent = y × x = −z.
  EXPECT_NEAR(hit.normal.z, -1.0f, 1e-6f);
}

// Catches: the self-hit guard missing, or a guarded hit ending the search
// instead of the next hit being taken.
TEST_F(BinnodeTreeTest, HitCloserThanOneIsPassedOver) {
  RaytraceObjects scene;
  scene.AddPatch(Square(-10, -10, 10, 10, 0.5f), nullptr);
  const RayObject* far = scene.AddPatch(Square(-10, -10, 10, 10, 30.0f), nullptr);
  BinnodeTree tree;
  ASSERT_EQ(tree.Build(scene), 0);
  HitRecord hit;
  ASSERT_TRUE(tree.NearestHit({0, 0, 0}, {0, 0, 1}, hit));
  EXPECT_EQ(hit.object, far);
  EXPECT_FLOAT_EQ(hit.t, 30.0f);
  // At exactly 1.0 the hit counts.
  ASSERT_TRUE(tree.NearestHit({0, 0, -0.5f}, {0, 0, 1}, hit));
  EXPECT_FLOAT_EQ(hit.t, 1.0f);
}

// Catches: transparent-to-rays objects, hidden objects or the ignored object
// stopping a ray.
TEST_F(BinnodeTreeTest, TransparentHiddenAndIgnoredArePassedOver) {
  RaytraceObjects scene;
  scene.AddPatch(Square(-10, -10, 10, 10, 10), nullptr, ray_object_flags::kTransparentToRays);
  scene.AddPatch(Square(-10, -10, 10, 10, 20), nullptr, ray_object_flags::kHidden);
  const RayObject* third = scene.AddPatch(Square(-10, -10, 10, 10, 30), nullptr);
  const RayObject* fourth =
      scene.AddPatch(Square(-10, -10, 10, 10, 40), nullptr, ray_object_flags::kNoShadows);
  BinnodeTree tree;
  ASSERT_EQ(tree.Build(scene), 0);
  HitRecord hit;
  ASSERT_TRUE(tree.NearestHit({0, 0, 0}, {0, 0, 1}, hit));
  EXPECT_EQ(hit.object, third);
  ASSERT_TRUE(tree.NearestHit({0, 0, 0}, {0, 0, 1}, hit, kNoHit, third));
  EXPECT_EQ(hit.object, fourth);
  EXPECT_EQ(hit.flags, ray_object_flags::kNoShadows);
}

// Catches: the maximum distance ignored (shadow rays finding occluders
// beyond the light) or applied without its 1.0 slack.
TEST_F(BinnodeTreeTest, MaximumDistancePlusOne) {
  RaytraceObjects scene;
  scene.AddPatch(Square(-10, -10, 10, 10, 30), nullptr);
  BinnodeTree tree;
  ASSERT_EQ(tree.Build(scene), 0);
  HitRecord hit;
  EXPECT_FALSE(tree.NearestHit({0, 0, 0}, {0, 0, 1}, hit, 28.5f));
  EXPECT_TRUE(tree.NearestHit({0, 0, 0}, {0, 0, 1}, hit, 29.5f));
}

// Catches: the farther of two objects returned because it was tested first
// (best-first order or the stop rule wrong), over many objects in many leaves.
TEST_F(BinnodeTreeTest, NearestOfManyLayers) {
  RaytraceObjects scene;
  // 50 layers at z = 10, 20, ... each of 4 tiles, added in shuffled order.
  for (int k = 0; k < 50; ++k) {
    const int layer = (k * 17) % 50;
    const float z = 10.0f * (layer + 1);
    for (int j = 0; j < 4; ++j) {
      const float x = -20.0f + 10.0f * j;
      scene.AddPatch(Square(x, -10, x + 10, 10, z), nullptr);
    }
  }
  BinnodeTree tree;
  ASSERT_EQ(tree.Build(scene), 0);
  for (int i = 0; i < 40; ++i) {
    const float x = -19.5f + i;
    HitRecord hit;
    ASSERT_TRUE(tree.NearestHit({x, 0.25f, 0}, {0, 0, 1}, hit));
    EXPECT_FLOAT_EQ(hit.t, 10.0f);
    ASSERT_TRUE(tree.NearestHit({x, 0.25f, 1000}, {0, 0, -1}, hit));
    EXPECT_FLOAT_EQ(hit.t, 500.0f);
  }
}

// A scene of quarter cylinders stacked along y (radius 100, each 20 high)
// with their tree.
struct CylinderScene {
  RaytraceObjects objects;
  BinnodeTree tree;
  explicit CylinderScene(int count = 12) {
    for (int i = 0; i < count; ++i) {
      objects.AddPatch(QuarterCylinder(100.0f, 20.0f, 20.0f * i), nullptr);
    }
    EXPECT_EQ(tree.Build(objects), 0);
  }
};

// A ray from the cylinder's axis outwards at angle a (radians) and height y.
struct AxisRay {
  Vector3 origin, direction;
};
AxisRay OutwardRay(float a, float y) {
  return {{0, y, 0}, {std::cos(a), 0, std::sin(a)}};
}

class CurvedHitTest : public BinnodeTreeTest {};

// Catches: a curved patch intersected as its corners' flat quad (the chord
// lies up to 29 units inside the arc), halves not searched, or the (u, v)
// and normal of a half not within the whole patch.
TEST_F(CurvedHitTest, CurvedPatchIsCutOnContactAndHitNearTheSurface) {
  CylinderScene scene;
  const std::size_t before = scene.objects.Count();
  for (int i = 1; i < 40; ++i) {
    const float a = 1.5707963f * i / 40.0f;
    const float y = 3.0f + 5.77f * i;
    const AxisRay ray = OutwardRay(a, y);
    HitRecord hit;
    ASSERT_TRUE(scene.tree.NearestHit(ray.origin, ray.direction, hit)) << i;
    // The pieces end flat when their edges bulge at most 0.1: the chord of
    // such a piece lies within 0.1 of the arc, the arc within 0.03 of the
    // circle.
    EXPECT_NEAR(hit.t, 100.0f, 0.15f) << i;
    EXPECT_NEAR(hit.point.y, y, 1e-3f);
    ASSERT_NE(hit.object, nullptr);
    EXPECT_EQ(hit.object->shape, RaytraceShape::kFlat);
    EXPECT_GT(hit.object->level, 0);
    // u runs with the angle (a cubic, not exactly proportional), v with the
    // height within its cylinder.
    EXPECT_NEAR(hit.u, a / 1.5707963f, 0.02f) << i;
    EXPECT_NEAR(hit.v, std::fmod(y, 20.0f) / 20.0f, 1e-3f) << i;
    // Corner normals v × u: (0, H, 0) × (0, 0, k) = +x at P0, outwards
    // along (cos a, 0, sin a).
    EXPECT_NEAR(Dot(hit.normal, ray.direction), 1.0f, 2e-3f) << i;
    EXPECT_NEAR(Length(hit.normal), 1.0f, 1e-5f);
  }
  EXPECT_GT(scene.objects.Count(), before);
}

// Catches: the hit depending on which curved objects other rays cut first
// (a half's box or classification differing by the order of cutting).
TEST_F(CurvedHitTest, SameHitWhetherCutBeforeOrNot) {
  std::vector<HitRecord> fresh;
  {
    CylinderScene scene;
    for (int i = 0; i < 50; ++i) {
      const AxisRay ray = OutwardRay(0.031f * i, 4.7f * i + 1.0f);
      HitRecord hit;
      ASSERT_TRUE(scene.tree.NearestHit(ray.origin, ray.direction, hit));
      fresh.push_back(hit);
    }
  }
  CylinderScene scene;
  // Other rays first: from outside, inwards, across the whole surface.
  for (int i = 0; i < 400; ++i) {
    const float a = 0.0039f * i;
    const Vector3 from{300 * std::cos(a), 0.6f * i, 300 * std::sin(a)};
    HitRecord hit;
    scene.tree.NearestHit(from, Normalized(Vector3{} - Vector3{from.x, 0, from.z}), hit);
  }
  for (int i = 0; i < 50; ++i) {
    const AxisRay ray = OutwardRay(0.031f * i, 4.7f * i + 1.0f);
    HitRecord hit;
    ASSERT_TRUE(scene.tree.NearestHit(ray.origin, ray.direction, hit));
    EXPECT_EQ(hit.t, fresh[i].t) << i;
    EXPECT_EQ(hit.u, fresh[i].u);
    EXPECT_EQ(hit.v, fresh[i].v);
    EXPECT_EQ(hit.normal, fresh[i].normal);
  }
}

// Catches: the shadow question answered differently from the nearest hit
// (the 1.0 guard, the distance limit, ignored or passed-over objects, or a
// curved object's halves not met): for every ray, something lies within the
// distance exactly when the nearest hit does.
TEST_F(CurvedHitTest, AnyHitAgreesWithTheNearestHit) {
  CylinderScene scene;
  // Flat squares in the way too, one of them transparent to rays.
  for (int i = 0; i < 30; ++i) {
    RayObject* o =
        scene.objects.AddPatch(SquareAt(40.0f + 7.0f * i, 3.0f * i, 60.0f, 9.0f), nullptr,
                               i == 7 ? ray_object_flags::kTransparentToRays : std::uint8_t{0});
    ASSERT_NE(o, nullptr);
  }
  ASSERT_EQ(scene.tree.Build(scene.objects), 0);
  int blocked = 0, open = 0;
  for (int i = 0; i < 600; ++i) {
    const float a = 0.0027f * i;
    const Vector3 from{250.0f * std::cos(a * 3.0f), 0.41f * i, 250.0f * std::sin(a) - 20.0f};
    const Vector3 to{10.0f * std::sin(0.7f * i), 0.37f * i + 5.0f, 30.0f};
    const Vector3 d = Normalized(to - from);
    const float distance = (i % 3 == 0) ? 1.0e8f : Length(to - from) * (0.2f + 0.001f * i);
    HitRecord first;
    const bool near = scene.tree.NearestHit(from, d, first, distance) && first.t < distance;
    // The same ray again, ignoring the piece it met first.
    const bool any = scene.tree.AnyHit(from, d, distance);
    EXPECT_EQ(any, near) << i;
    if (near) {
      HitRecord second;
      const bool nearPast =
          scene.tree.NearestHit(from, d, second, distance, first.object) && second.t < distance;
      EXPECT_EQ(scene.tree.AnyHit(from, d, distance, first.object), nearPast) << i;
    }
    (near ? blocked : open) += 1;
  }
  // Both answers were asked for.
  EXPECT_GT(blocked, 50);
  EXPECT_GT(open, 50);
  // Hits nearer than 1.0 do not count: a square 0.5 ahead is not in the way.
  RaytraceObjects objects;
  objects.AddPatch(SquareAt(0, 0, 0.5f, 2.0f), nullptr);
  BinnodeTree tree;
  ASSERT_EQ(tree.Build(objects), 0);
  EXPECT_FALSE(tree.AnyHit({0, 0, 0}, {0, 0, 1}, 100.0f));
  EXPECT_FALSE(tree.AnyHit({0, 0, -5}, {0, 0, 1}, 5.5f));  // at 5.5: not before it
  EXPECT_TRUE(tree.AnyHit({0, 0, -5}, {0, 0, 1}, 5.6f));
}

// Catches: a race in the first cut (two threads making different halves or
// one reading a half being filled): both threads must get the hits a single
// thread gets.
TEST_F(CurvedHitTest, TwoThreadsRacingGetIdenticalHits) {
  std::vector<float> expected;
  {
    CylinderScene scene;
    for (int i = 0; i < 300; ++i) {
      const AxisRay ray = OutwardRay(0.0052f * i, 0.79f * i + 0.5f);
      HitRecord hit;
      expected.push_back(scene.tree.NearestHit(ray.origin, ray.direction, hit) ? hit.t : -1.0f);
    }
  }
  for (int round = 0; round < 4; ++round) {
    CylinderScene scene;
    std::vector<float> got[2];
    const auto work = [&](int k) {
      for (int i = 0; i < 300; ++i) {
        const AxisRay ray = OutwardRay(0.0052f * i, 0.79f * i + 0.5f);
        HitRecord hit;
        got[k].push_back(scene.tree.NearestHit(ray.origin, ray.direction, hit) ? hit.t : -1.0f);
      }
    };
    std::thread a(work, 0);
    std::thread b(work, 1);
    a.join();
    b.join();
    EXPECT_EQ(got[0], expected);
    EXPECT_EQ(got[1], expected);
  }
}

// Catches: NaN corners, zero-size patches, zero direction components or NaN
// rays crashing, hanging or hitting.
TEST_F(BinnodeTreeTest, DegenerateInputNeverCrashesOrHangs) {
  RaytraceObjects scene;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  RenderPatch bad = Square(-10, -10, 10, 10, 50);
  bad.p[1].x = nan;
  EXPECT_EQ(scene.AddPatch(bad, nullptr), nullptr);
  RenderPatch point = Square(3, 3, 3, 3, 50);
  EXPECT_EQ(scene.AddPatch(point, nullptr), nullptr);
  // A sliver (two corners apart) and many identical objects in one place.
  scene.AddPatch(Square(-10, 0, 10, 0, 40), nullptr);
  for (int i = 0; i < 40; ++i) {
    scene.AddPatch(Square(-10, -10, 10, 10, 60), nullptr);
  }
  // A curved patch folded onto itself.
  RenderPatch folded = Square(0, 0, 0, 100, 70);
  folded.t0u = {300, 0, 300};
  folded.t1u = {-300, 0, 300};
  scene.AddPatch(folded, nullptr);
  BinnodeTree tree;
  ASSERT_EQ(tree.Build(scene), 0);
  HitRecord hit;
  ASSERT_TRUE(tree.NearestHit({0, 0, 0}, {0, 0, 1}, hit));  // axis-aligned
  EXPECT_FLOAT_EQ(hit.t, 60.0f);
  EXPECT_TRUE(std::isfinite(hit.normal.x) && std::isfinite(hit.normal.y));
  EXPECT_TRUE(tree.NearestHit({10, 10, 0}, {0, 0, 1}, hit));  // on box edges
  EXPECT_FALSE(tree.NearestHit({nan, 0, 0}, {0, 0, 1}, hit));
  EXPECT_FALSE(tree.NearestHit({0, 0, 0}, {nan, 0, 1}, hit));
  EXPECT_FALSE(tree.NearestHit({0, 0, 0}, {0, 0, 0}, hit));
  EXPECT_FALSE(tree.NearestHit({0, 0, 0}, {0, 0, 1}, hit, nan) && hit.t > 1.0e8f);
  for (int i = 0; i < 200; ++i) {
    const float a = 0.0314f * i;
    tree.NearestHit({std::cos(a) * 5, 50, std::sin(a) * 5}, {0, 0, 1}, hit);
    tree.NearestHit({0, 50, 150}, Normalized({std::cos(a), std::sin(a), -1}), hit);
  }
}

// Catches: a deep, lopsided scene (objects spread geometrically, so every
// split peels off a few) overflowing a recursive build.
TEST_F(BinnodeTreeTest, DeepTreeIsBuiltWithoutRecursion) {
  RaytraceObjects scene;
  float x = 0.0f;
  for (int i = 0; i < 3000; ++i) {
    scene.AddPatch(SquareAt(x, 0, 0, 0.5f), nullptr);
    x = x * 1.003f + 11.0f;
  }
  BinnodeTree tree;
  ASSERT_EQ(tree.Build(scene), 0);
  std::size_t leafTotal = 0;
  for (const Binnode& n : tree.nodes()) {
    if (n.leaf) {
      EXPECT_LE(n.count, kLeafObjects);
      EXPECT_GT(n.count, 0);
      leafTotal += n.count;
    }
  }
  EXPECT_EQ(leafTotal, 3000u);
  HitRecord hit;
  EXPECT_TRUE(tree.NearestHit({0, 0, -5}, {0, 0, 1}, hit));
}

// Catches: a refused node allocation crashing or reported as success.
TEST_F(BinnodeTreeTest, NodeMemoryRefusedGives803) {
  RaytraceObjects scene;
  for (int i = 0; i < 20000; ++i) {
    scene.AddPatch(SquareAt(3.0f * (i % 100), 3.0f * (i / 100), 0), nullptr);
  }
  BinnodeTree tree;
  {
    const std::int64_t saved = MemoryPool::Main().limit();
    MemoryPool::Main().set_limit(MemoryPool::Main().total_allocated());
    const int code = tree.Build(scene);
    MemoryPool::Main().set_limit(saved);
    EXPECT_EQ(code, render_error::kBinnodeMemory);
  }
  EXPECT_TRUE(tree.Empty());
  HitRecord hit;
  EXPECT_FALSE(tree.NearestHit({0, 0, -5}, {0, 0, 1}, hit));
  EXPECT_EQ(tree.Build(scene), 0);
  EXPECT_TRUE(tree.NearestHit({0, 0, -5}, {0, 0, 1}, hit));
}

// Catches: the Escape request not polled while building.
TEST_F(BinnodeTreeTest, EscapeWhileBuildingGives110) {
  RaytraceObjects scene;
  for (int i = 0; i < 100; ++i) {
    scene.AddPatch(SquareAt(3.0f * i, 0, 0), nullptr);
  }
  BinnodeTree tree;
  RequestEscape();
  EXPECT_EQ(tree.Build(scene), render_error::kAborted);
  EXPECT_TRUE(tree.Empty());
  EXPECT_EQ(tree.Build(scene), 0);
}

}  // namespace
}  // namespace zentrope
