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

#include "render/render_errors.h"
#include "shell/interrupt.h"
#include "shell/memory_pool.h"

namespace zentrope {
namespace {

// A flat square in the plane z = z0 from (x0, y0) to (x1, y1), edges
// straight (tangents along the chords).
RenderPatch Square(float x0, float y0, float x1, float y1, float z0) {
  RenderPatch r;
  r.p = {Vector3{x0, y0, z0}, Vector3{x1, y0, z0}, Vector3{x1, y1, z0}, Vector3{x0, y1, z0}};
  r.t0u = r.t1u = r.p[1] - r.p[0];
  r.t3u = r.t2u = r.p[2] - r.p[3];
  r.t0v = r.t3v = r.p[3] - r.p[0];
  r.t1v = r.t2v = r.p[2] - r.p[1];
  return r;
}

// A square of side 2·h centred on (x, y) at depth z.
RenderPatch SquareAt(float x, float y, float z, float h = 1.0f) {
  return Square(x - h, y - h, x + h, y + h, z);
}

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

}  // namespace
}  // namespace zentrope
