// Patch tessellation: subdivision settings, the edge measures, halving, the
// split-stack walk and the segment walk with its targets.
#include "render/tessellation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <tuple>
#include <vector>

#include "material/material.h"
#include "model/lathe.h"
#include "model/patch_finder.h"
#include "render/render_errors.h"
#include "shell/interrupt.h"
#include "shell/memory_pool.h"
#include "shell/settings.h"
#include "support/expect_vector.h"
#include "support/temp_dir.h"

namespace zentrope {
namespace {

using testing::TempDir;
using testing::VectorNear;
using testing::WriteFile;

// The flat square (0,0,0)..(s,s,0): u along x, v along y, straight edges
// whose tangents equal their chords (uniform speed).
RenderPatch FlatSquare(float s) {
  RenderPatch r;
  r.p = {Vector3{0, 0, 0}, Vector3{s, 0, 0}, Vector3{s, s, 0}, Vector3{0, s, 0}};
  r.t0u = r.t1u = r.t3u = r.t2u = {s, 0, 0};
  r.t0v = r.t3v = r.t1v = r.t2v = {0, s, 0};
  return r;
}

// A square whose edges bulge far out of their chords in z: after ten
// halvings its pieces are still about 30 across and still curved.
RenderPatch WildPatch() {
  RenderPatch r = FlatSquare(1000);
  r.t0u = {1000, 0, 90000};
  r.t1u = {1000, 0, -90000};
  r.t3u = {1000, 0, -70000};
  r.t2u = {1000, 0, 80000};
  r.t0v = {0, 1000, 60000};
  r.t3v = {0, 1000, -90000};
  r.t1v = {0, 1000, 90000};
  r.t2v = {0, 1000, -50000};
  return r;
}

// Three-sided: P3 repeats P0, and the P0→P3 edge has zero tangents.
RenderPatch Triangle(float s) {
  RenderPatch r;
  r.p = {Vector3{0, 0, 0}, Vector3{s, 0, 0}, Vector3{0, s, 0}, Vector3{0, 0, 0}};
  r.t0u = r.t1u = {s, 0, 0};
  r.t3u = r.t2u = {0, s, 0};
  r.t1v = r.t2v = {-s, s, 0};
  r.t0v = r.t3v = {};
  return r;
}

struct Recorder final : PieceTarget {
  std::vector<Piece> pieces;
  std::vector<PatchContext> contexts;
  int failAt = -1;  // refuse the piece with this index
  bool AcceptPiece(const PatchContext& patch, const Piece& piece) override {
    if (static_cast<int>(pieces.size()) == failAt) {
      return false;
    }
    pieces.push_back(piece);
    contexts.push_back(patch);
    return true;
  }
};

SubdivisionSettings Fixed(int level) {
  SubdivisionSettings s;
  s.fixedLevel = level;
  return s;
}

SubdivisionSettings Variable(float threshold) {
  SubdivisionSettings s;
  s.variable = true;
  s.threshold = threshold;
  return s;
}

std::vector<Piece> Tessellate(const RenderPatch& r, const SubdivisionSettings& s) {
  Recorder rec;
  EXPECT_TRUE(TessellatePatch(r, PatchContext{}, s, rec));
  return rec.pieces;
}

// How many halvings a piece took: its ranges are 2^-a by 2^-b.
int Halvings(const Piece& p) {
  return static_cast<int>(std::lround(-std::log2(p.uHi - p.uLo) - std::log2(p.vHi - p.vLo)));
}

// The pieces tile the unit square: each range is an exact binary fraction
// (ends are multiples of its width), no two overlap, and their areas add to 1.
::testing::AssertionResult TilesUnitSquare(const std::vector<Piece>& pieces) {
  double area = 0;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const Piece& a = pieces[i];
    for (float lo : {a.uLo, a.vLo}) {
      if (lo < 0)
        return ::testing::AssertionFailure() << "range below 0 in piece " << i;
    }
    if (a.uHi > 1 || a.vHi > 1)
      return ::testing::AssertionFailure() << "range past 1 in " << i;
    const float du = a.uHi - a.uLo, dv = a.vHi - a.vLo;
    if (std::exp2(std::round(std::log2(du))) != du || std::fmod(a.uLo, du) != 0 ||
        std::exp2(std::round(std::log2(dv))) != dv || std::fmod(a.vLo, dv) != 0) {
      return ::testing::AssertionFailure() << "piece " << i << " is not a binary cell";
    }
    area += static_cast<double>(du) * dv;
    for (std::size_t j = 0; j < i; ++j) {
      const Piece& b = pieces[j];
      if (a.uLo < b.uHi && b.uLo < a.uHi && a.vLo < b.vHi && b.vLo < a.vHi) {
        return ::testing::AssertionFailure() << "pieces " << j << " and " << i << " overlap";
      }
    }
  }
  if (area != 1.0)
    return ::testing::AssertionFailure() << "area " << area;
  return ::testing::AssertionSuccess();
}

// Independent cubic Bézier evaluation.
Vector3 Bezier(const Vector3& a, const Vector3& ta, const Vector3& tb, const Vector3& b, float s) {
  const Vector3 c1 = a + ta / 3.0f, c2 = b - tb / 3.0f;
  const float r = 1 - s;
  return a * (r * r * r) + c1 * (3 * s * r * r) + c2 * (3 * s * s * r) + b * (s * s * s);
}

// ---- Subdivision settings ----

// Catches: the dialog's piece counts taken as levels, or odd counts not
// falling back to a single piece.
TEST(SubdivisionSettingsTest, PieceCountsToLevels) {
  EXPECT_EQ(SubdivisionSettings::LevelForPieces(0), 0);
  EXPECT_EQ(SubdivisionSettings::LevelForPieces(4), 2);
  EXPECT_EQ(SubdivisionSettings::LevelForPieces(16), 4);
  EXPECT_EQ(SubdivisionSettings::LevelForPieces(64), 6);
  for (int other : {1, 2, 5, 8, 32, 65, 128, -4}) {
    EXPECT_EQ(SubdivisionSettings::LevelForPieces(other), 0) << other;
  }
}

// Catches: the negative multiplier stored as 1/m instead of −1/m, the
// threshold taken as m itself, or m = 0 dividing into a NaN or a zero.
TEST(SubdivisionSettingsTest, MultiplierToThreshold) {
  EXPECT_EQ(SubdivisionSettings::ThresholdForMultiplier(-4), 4.0f);
  EXPECT_EQ(SubdivisionSettings::ThresholdForMultiplier(4), 0.25f);
  EXPECT_EQ(SubdivisionSettings::ThresholdForMultiplier(1), 1.0f);
  EXPECT_EQ(SubdivisionSettings::ThresholdForMultiplier(-1), 1.0f);
  const float none = SubdivisionSettings::ThresholdForMultiplier(0);
  EXPECT_TRUE(std::isinf(none) && none > 0);
}

// Catches: the GLOBAL keys misspelt or read from another section, or the
// defaults (4 pieces, fixed, multiplier 0) not applied to a missing file.
TEST(SubdivisionSettingsTest, FromSettingsFile) {
  TempDir dir;
  const SubdivisionSettings d = SubdivisionSettings::FromSettings(SettingsFile(dir / "none.ini"));
  EXPECT_EQ(d.fixedLevel, 2);
  EXPECT_FALSE(d.variable);
  EXPECT_TRUE(std::isinf(d.threshold));

  WriteFile(dir / "z.ini",
            "[GLOBAL]\nSubDivisions=64\nVariableSubDivision=ON\nSubDivisionMultiplier=-4\n");
  const SubdivisionSettings s = SubdivisionSettings::FromSettings(SettingsFile(dir / "z.ini"));
  EXPECT_EQ(s.fixedLevel, 6);
  EXPECT_TRUE(s.variable);
  EXPECT_EQ(s.threshold, 4.0f);
}

// ---- Edge measures ----

// Catches: the handle distance measured from the chord's line with the
// tangent instead of a third of it, or the smaller handle returned.
TEST(EdgeBulgeTest, LargerHandleDistanceFromChord) {
  // Handles (1, 2, 0) and (0, −3, 0) over a chord along x: distances 2 and 3.
  EXPECT_FLOAT_EQ(EdgeBulge({0, 0, 0}, {3, 6, 0}, {0, -9, 0}, {10, 0, 0}), 3.0f);
  // Handles along the chord do not bulge; a zero handle does not either.
  EXPECT_EQ(EdgeBulge({0, 0, 0}, {30, 0, 0}, {}, {10, 0, 0}), 0.0f);
}

// Catches: short edges measured like long ones, so tiny patches with large
// tangents are halved down to the level limit.
TEST(EdgeBulgeTest, ShortEdgeNeverCurved) {
  EXPECT_EQ(EdgeBulge({0, 0, 0}, {0, 1e6f, 0}, {0, 0, -1e6f}, {1.99f, 0, 0}), 0.0f);
  EXPECT_GT(EdgeBulge({0, 0, 0}, {0, 1e6f, 0}, {0, 0, -1e6f}, {2.0f, 0, 0}), 1e5f);
  // So a whole patch with edges below 2.0 is emitted uncut however tight the
  // threshold.
  RenderPatch small = FlatSquare(1.5f);
  small.t0u = {1.5f, 0, 500};
  small.t1v = {0, 1.5f, -500};
  EXPECT_EQ(Tessellate(small, Variable(1e-6f)).size(), 1u);
}

// Catches: a zero-length edge normalised into NaN tangents.
TEST(StraightenEdgeTest, ZeroLengthEdgeZeroesTangents) {
  Vector3 ta{1, 2, 3}, tb{-4, 5, 6};
  StraightenEdge({7, 7, 7}, ta, tb, {7, 7, 7});
  EXPECT_EQ(ta, Vector3{});
  EXPECT_EQ(tb, Vector3{});
}

// Catches: the tangents set to the chord itself instead of keeping their
// own lengths, or turned against the chord.
TEST(StraightenEdgeTest, TangentsAlongChordKeepLengths) {
  Vector3 ta{5, 0, 0}, tb{0, 0, -2};
  StraightenEdge({1, 1, 1}, ta, tb, {1, 4, 5});  // chord (0, 3, 4), length 5
  EXPECT_TRUE(VectorNear(ta, {0, 3, 4}, 1e-6f));
  EXPECT_TRUE(VectorNear(tb, {0, 1.2f, 1.6f}, 1e-6f));
}

// Catches: a wrong de Casteljau (quarter points off the curve), or half
// tangents not rescaled to the half's own parameter.
TEST(HalveCubicTest, HalvesReproduceTheCurve) {
  const Vector3 a{0, 0, 0}, ta{3, 9, 0}, tb{6, -3, 3}, b{10, 2, 1};
  const std::array<CubicEdge, 2> h = HalveCubic(a, ta, tb, b);
  EXPECT_EQ(h[0].a, a);
  EXPECT_EQ(h[1].b, b);
  EXPECT_EQ(h[0].b, h[1].a);
  EXPECT_EQ(h[0].tb, h[1].ta);
  for (float s : {0.25f, 0.5f, 0.75f}) {
    EXPECT_TRUE(VectorNear(Bezier(h[0].a, h[0].ta, h[0].tb, h[0].b, s), Bezier(a, ta, tb, b, s / 2),
                           1e-5f));
    EXPECT_TRUE(VectorNear(Bezier(h[1].a, h[1].ta, h[1].tb, h[1].b, s),
                           Bezier(a, ta, tb, b, 0.5f + s / 2), 1e-5f));
  }
  // The end tangents are the whole curve's, at half speed.
  EXPECT_EQ(h[0].ta, ta * 0.5f);
  EXPECT_EQ(h[1].tb, tb * 0.5f);
}

// ---- Corner normals ----

// Catches: the cross product taken in the other order (normals flipped), or
// a three-sided patch's point corner given the cross of its zero tangents.
TEST(CornerNormalsTest, OrderAndThreeSided) {
  const std::array<Vector3, 4> n = CornerNormals(FlatSquare(4));
  for (const Vector3& v : n) {
    EXPECT_EQ(v, (Vector3{0, 0, -1}));  // (0,4,0) × (4,0,0) = (0,0,−16)
  }
  const RenderPatch tri = Triangle(4);
  const std::array<Vector3, 4> t = CornerNormals(tri);
  EXPECT_EQ(t[0], Normalized(Cross(tri.t3u, tri.t0u)));
  EXPECT_EQ(t[0], (Vector3{0, 0, -1}));
  EXPECT_EQ(t[3], t[0]);
}

// ---- Halving ----

// Catches: the three-sided shrink of the cut's tangents missing or applied
// after the second half copied them, or kept halves' tangents swapped.
TEST(HalveTest, ThreeSidedUCutTangentsShrink) {
  SplitEntry whole{Triangle(4), {}, 0};
  whole.patch.t0v = {4, 4, 0};
  whole.patch.t3v = {0, 8, 0};
  SplitEntry a, b;
  HalveU(whole, a, b);
  const Vector3 tm1 = (whole.patch.t0v + whole.patch.t1v) * 0.5f * 0.25f;
  const Vector3 tm2 = (whole.patch.t3v + whole.patch.t2v) * 0.5f * 0.25f;
  EXPECT_EQ(a.patch.t0v, (Vector3{1, 1, 0}));
  EXPECT_EQ(a.patch.t3v, (Vector3{0, 2, 0}));
  EXPECT_EQ(a.patch.t1v, tm1);
  EXPECT_EQ(a.patch.t2v, tm2);
  EXPECT_EQ(b.patch.t0v, tm1);
  EXPECT_EQ(b.patch.t3v, tm2);
  EXPECT_EQ(b.patch.t1v, whole.patch.t1v);
  EXPECT_EQ(b.patch.t2v, whole.patch.t2v);
  EXPECT_EQ(a.level, 1);
  EXPECT_EQ(b.level, 1);
  // Four-sided: no shrink.
  SplitEntry square{FlatSquare(4), {}, -3};
  HalveU(square, a, b);
  EXPECT_EQ(a.patch.t1v, (Vector3{0, 4, 0}));
  EXPECT_EQ(b.patch.t0v, (Vector3{0, 4, 0}));
  EXPECT_EQ(a.level, -2);
}

// Catches: a fixed-mode three-sided piece's point edge split as a cubic
// (moving the point corner), or its tangents shared out wrongly.
TEST(HalveTest, ThreeSidedVCutKeepsThePoint) {
  SplitEntry whole{Triangle(4), {}, 1};
  whole.patch.t0v = {4, 0, 0};
  whole.patch.t3v = {0, 8, 0};
  SplitEntry a, b;
  HalveV(whole, a, b);
  EXPECT_EQ(a.patch.p[0], whole.patch.p[0]);
  EXPECT_EQ(a.patch.p[3], whole.patch.p[0]);
  EXPECT_EQ(b.patch.p[0], whole.patch.p[0]);
  EXPECT_EQ(b.patch.p[3], whole.patch.p[0]);
  EXPECT_EQ(a.patch.t0v, (Vector3{2, 0, 0}));
  EXPECT_EQ(a.patch.t3v, (Vector3{1, 2, 0}));
  EXPECT_EQ(b.patch.t0v, (Vector3{1, 2, 0}));
  EXPECT_EQ(b.patch.t3v, (Vector3{0, 4, 0}));
  EXPECT_EQ(a.patch.vHi, 0.5f);
  EXPECT_EQ(b.patch.vLo, 0.5f);
  // The cut's u tangents are the averages of the kept u edges'.
  EXPECT_EQ(a.patch.t3u, (whole.patch.t0u + whole.patch.t3u) * 0.5f);
  EXPECT_EQ(b.patch.t1u, (whole.patch.t1u + whole.patch.t2u) * 0.5f);
  // Below level 0 the edge is halved as a cubic like any other.
  whole.level = -1;
  HalveV(whole, a, b);
  EXPECT_NE(a.patch.p[3], whole.patch.p[0]);
}

// ---- Fixed subdivision ----

// Catches: the wrong number of halvings per level, gaps or overlaps between
// the pieces' ranges, or ranges that are not exact binary fractions.
TEST(TessellateTest, FixedCountsTileTheSquare) {
  for (int pieces : {0, 4, 16, 64}) {
    const std::vector<Piece> out =
        Tessellate(WildPatch(), Fixed(SubdivisionSettings::LevelForPieces(pieces)));
    EXPECT_EQ(out.size(), static_cast<std::size_t>(std::max(pieces, 1))) << pieces;
    EXPECT_TRUE(TilesUnitSquare(out)) << pieces;
    // Alternating directions: u is cut as often as v, so the cells are square.
    for (const Piece& p : out) {
      EXPECT_EQ(p.uHi - p.uLo, p.vHi - p.vLo);
    }
  }
}

// Catches: the first halving taken across the v edges (level 0 is even).
TEST(TessellateTest, FirstHalvingIsAcrossU) {
  const RenderPatch r = FlatSquare(4);
  const std::vector<Piece> out = Tessellate(r, Fixed(1));
  ASSERT_EQ(out.size(), 2u);
  for (const Piece& p : out) {
    EXPECT_EQ(p.vLo, 0.0f);
    EXPECT_EQ(p.vHi, 1.0f);
    EXPECT_EQ(p.uHi - p.uLo, 0.5f);
  }
  // The u 0..½ half ends at the middles of P0→P1 and P3→P2.
  const Piece& left = out[1];
  ASSERT_EQ(left.uLo, 0.0f);
  EXPECT_TRUE(VectorNear(left.corners[1], {2, 0, 0}, 1e-6f));
  EXPECT_TRUE(VectorNear(left.corners[2], {2, 4, 0}, 1e-6f));
}

// Catches: the halves pushed in the other order, or popped breadth first,
// so that pieces reach the targets in another order than documented.
TEST(TessellateTest, DocumentedPieceOrder) {
  const std::vector<Piece> out = Tessellate(FlatSquare(4), Fixed(2));
  using Range = std::tuple<float, float, float, float>;
  std::vector<Range> got;
  for (const Piece& p : out)
    got.emplace_back(p.uLo, p.uHi, p.vLo, p.vHi);
  const std::vector<Range> want = {Range{0.5f, 1, 0.5f, 1}, Range{0.5f, 1, 0, 0.5f},
                                   Range{0, 0.5f, 0.5f, 1}, Range{0, 0.5f, 0, 0.5f}};
  EXPECT_EQ(got, want);
}

// Catches: pieces of a flat patch leaving its plane, outer corners moved, or
// cut normals differing from the patch's.
TEST(TessellateTest, FlatSquarePiecesKeepCornersAndNormals) {
  const RenderPatch r = FlatSquare(4);
  const std::array<Vector3, 4> n = CornerNormals(r);
  const std::vector<Piece> out = Tessellate(r, Fixed(6));
  ASSERT_EQ(out.size(), 64u);
  std::set<std::tuple<float, float, float>> outer;
  for (const Piece& p : out) {
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(p.corners[i].z, 0.0f);
      EXPECT_EQ(p.normals[i], n[0]);
      // Each corner sits at its (u, v) on the square.
      const float u = (i == 1 || i == 2) ? p.uHi : p.uLo;
      const float v = (i >= 2) ? p.vHi : p.vLo;
      EXPECT_TRUE(VectorNear(p.corners[i], {4 * u, 4 * v, 0}, 1e-5f));
      if ((u == 0 || u == 1) && (v == 0 || v == 1)) {
        EXPECT_EQ(p.corners[i], r.p[(u == 0) ? (v == 0 ? 0 : 3) : (v == 0 ? 1 : 2)]);
        outer.emplace(p.corners[i].x, p.corners[i].y, p.corners[i].z);
      }
    }
  }
  EXPECT_EQ(outer.size(), 4u);
}

// ---- Variable subdivision ----

// Catches: the level counted up from 0 with no limit, or halving continued
// past ten cuts on a patch that never becomes flat.
TEST(TessellateTest, VariableNeverHalvesMoreThanTenTimes) {
  const std::vector<Piece> out = Tessellate(WildPatch(), Variable(1e-6f));
  EXPECT_LE(out.size(), 1024u);
  EXPECT_GT(out.size(), 64u);
  int deepest = 0;
  for (const Piece& p : out)
    deepest = std::max(deepest, Halvings(p));
  EXPECT_EQ(deepest, 10);
  EXPECT_TRUE(TilesUnitSquare(out));
}

// Catches: the unbounded threshold (multiplier 0) still cutting curved
// patches, or a threshold test with < where ≤ belongs.
TEST(TessellateTest, VariableThresholds) {
  const float infinite = SubdivisionSettings::ThresholdForMultiplier(0);
  EXPECT_EQ(Tessellate(WildPatch(), Variable(infinite)).size(), 1u);
  // Straight edges bulge 0, which is within a threshold of 0.
  EXPECT_EQ(Tessellate(FlatSquare(10), Variable(0.0f)).size(), 1u);
  // Only the v edges bulge (handles 10 off their chords): one v cut; the
  // halves' v edges bulge about 1.4 and the cut is straight, so both stay.
  RenderPatch r = FlatSquare(10);
  r.t0v = {30, 10, 0};
  r.t3v = {-30, 10, 0};
  r.t1v = {30, 10, 0};
  r.t2v = {-30, 10, 0};
  const std::vector<Piece> out = Tessellate(r, Variable(9.0f));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].uHi - out[0].uLo, 1.0f);
  EXPECT_EQ(out[0].vHi - out[0].vLo, 0.5f);
}

// Catches: the three-sided exception missing, so the point edge is cut
// first, or N3 differing from N0.
TEST(TessellateTest, ThreeSidedNeverCutAcrossVFirst) {
  RenderPatch tri = Triangle(20);
  // Make the P1→P2 edge (a v edge) strongly curved, the u edges straight.
  tri.t1v = {-20, 20, 90};
  tri.t2v = {-20, 20, -90};
  const std::vector<Piece> out = Tessellate(tri, Variable(0.5f));
  ASSERT_GT(out.size(), 1u);
  EXPECT_TRUE(TilesUnitSquare(out));
  bool anyVCut = false;
  for (const Piece& p : out) {
    EXPECT_LT(p.uHi - p.uLo, 1.0f);  // the first cut was across u
    if (p.uLo == 0.0f) {
      // The pieces at the point corner stay three-sided and so are never
      // cut across v.
      EXPECT_EQ(p.vHi - p.vLo, 1.0f);
      EXPECT_EQ(p.corners[0], p.corners[3]);
      EXPECT_EQ(p.normals[0], p.normals[3]);
    }
    anyVCut = anyVCut || p.vHi - p.vLo < 1.0f;
  }
  EXPECT_TRUE(anyVCut);  // the four-sided remainder may be
  const std::vector<Piece> whole = Tessellate(tri, Fixed(0));
  ASSERT_EQ(whole.size(), 1u);
  EXPECT_EQ(whole[0].normals[0], whole[0].normals[3]);
}

// Catches: fixed-mode three-sided pieces cut across their point edge with
// HalveCubic (a moved corner) instead of keeping P0.
TEST(TessellateTest, FixedThreeSidedKeepsThePointCorner) {
  const std::vector<Piece> out = Tessellate(Triangle(8), Fixed(4));
  ASSERT_EQ(out.size(), 16u);
  EXPECT_TRUE(TilesUnitSquare(out));
  for (const Piece& p : out) {
    if (p.uLo == 0.0f) {
      EXPECT_EQ(p.corners[0], (Vector3{0, 0, 0}));
      EXPECT_EQ(p.corners[3], (Vector3{0, 0, 0}));
    }
  }
}

// Catches: a refused piece ignored (the walk goes on and reports success).
TEST(TessellateTest, RefusingTargetFails) {
  Recorder rec;
  rec.failAt = 2;
  EXPECT_FALSE(TessellatePatch(FlatSquare(4), PatchContext{}, Fixed(4), rec));
  EXPECT_EQ(rec.pieces.size(), 2u);  // nothing more after the refusal
}

// Catches: the context not handed on unchanged with every piece.
TEST(TessellateTest, ContextPassedUnchanged) {
  Material m;
  const Vector3 colour{0.5f, 0.25f, 1};
  PatchContext ctx;
  ctx.patchNumber = 7;
  ctx.material = &m;
  ctx.cornerWords = {1, 2, 3, 4};
  ctx.patchColour = &colour;
  Recorder rec;
  ASSERT_TRUE(TessellatePatch(FlatSquare(4), ctx, Fixed(2), rec));
  ASSERT_EQ(rec.contexts.size(), 4u);
  for (const PatchContext& c : rec.contexts) {
    EXPECT_EQ(c.patchNumber, 7);
    EXPECT_EQ(c.material, &m);
    EXPECT_EQ(c.cornerWords, ctx.cornerWords);
    EXPECT_EQ(c.patchColour, &colour);
  }
}

// ---- Render patches from segment patches ----

struct HandPatch {
  std::array<ControlPoint, 4> points;
  std::array<Vector3, 8> tangents;
  Patch patch;
  HandPatch() {
    const Vector3 corners[4] = {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}};
    for (int i = 0; i < 4; ++i) {
      points[i].position = corners[i];
      patch.corners[i] = &points[i];
      patch.cornerNumbers[i] = 10 + i;
    }
    // Distinct tangents per slot end: slot i start = (i+1, 0, 0), end = (0, i+1, 0).
    for (int i = 0; i < 4; ++i) {
      tangents[2 * i] = {static_cast<float>(i + 1), 0, 0};
      tangents[2 * i + 1] = {0, static_cast<float>(i + 1), 0};
      patch.tangentsA[i] = &tangents[2 * i];
      patch.tangentsB[i] = &tangents[2 * i + 1];
    }
  }
};

// Catches: slot tangents put into the wrong fields, orientation bits not
// applied, or the translation added to tangents.
TEST(BuildRenderPatchTest, FieldOrderSignsAndTransform) {
  HandPatch h;
  h.patch.patchFlags = 3 | 192;  // slots 1 and 4 reversed
  Transform t = Transform::FromParts(Matrix3::Identity(), {100, 200, 300});
  t.t[0] = 2;  // x doubled
  const std::optional<RenderPatch> r = BuildRenderPatch(h.patch, t);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->p[1], (Vector3{108, 200, 300}));
  EXPECT_EQ(r->p[3], (Vector3{100, 204, 300}));
  EXPECT_EQ(r->t0u, (Vector3{-2, 0, 0}));  // slot 1 start, negated, x doubled
  EXPECT_EQ(r->t1u, (Vector3{0, -1, 0}));  // slot 1 end, negated
  EXPECT_EQ(r->t1v, (Vector3{4, 0, 0}));   // slot 2 start
  EXPECT_EQ(r->t2v, (Vector3{0, 2, 0}));   // slot 2 end
  EXPECT_EQ(r->t3u, (Vector3{6, 0, 0}));   // slot 3 start
  EXPECT_EQ(r->t2u, (Vector3{0, 3, 0}));   // slot 3 end
  EXPECT_EQ(r->t0v, (Vector3{-8, 0, 0}));  // slot 4 start, negated
  EXPECT_EQ(r->t3v, (Vector3{0, -4, 0}));  // slot 4 end, negated
  EXPECT_EQ(r->uLo, 0.0f);
  EXPECT_EQ(r->uHi, 1.0f);
  EXPECT_EQ(r->vLo, 0.0f);
  EXPECT_EQ(r->vHi, 1.0f);
}

// Catches: hidden corners skipped whether or not the corner is a linked
// control point, or linked hidden corners drawn.
TEST(BuildRenderPatchTest, HiddenLinkedCornerSkipsPatch) {
  HandPatch h;
  h.points[2].Set(kPointHidden, true);
  EXPECT_TRUE(BuildRenderPatch(h.patch, Transform::Identity()));
  h.patch.patchFlags |= static_cast<std::uint16_t>(kCornerIsPoint << 2);
  EXPECT_FALSE(BuildRenderPatch(h.patch, Transform::Identity()));
  h.points[2].Set(kPointHidden, false);
  EXPECT_TRUE(BuildRenderPatch(h.patch, Transform::Identity()));
}

// ---- Segment walk ----

Segment LathedSegment(int sections) {
  Segment seg;
  const Vector3 profile[] = {{20, 0, 0}, {30, 10, 0}, {30, 20, 0}, {20, 30, 0}, {10, 40, 0}};
  ControlPoint* first = seg.Splines().AppendSpline(profile);
  EXPECT_TRUE(Lathe(seg, first, static_cast<std::int16_t>(sections)));
  seg.Renumber();
  seg.SplinesEdited();
  FindPatches(seg);
  return seg;
}

class DrawSegmentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MemoryPool::Main().set_limit(std::int64_t{1} << 30);
    escape_pressed();  // drop a stale request
  }
};

// Catches: patches skipped or repeated, numbers not 1-based in list order, or
// corner words not the patch's numbers.
TEST_F(DrawSegmentTest, LatheGivesFourPiecesPerPatch) {
  TempDir dir;
  const Segment seg = LathedSegment(6);
  ASSERT_EQ(seg.patches.size(), 24u);  // 4 profile spans × 6 sections
  const SubdivisionSettings sub = SubdivisionSettings::FromSettings(SettingsFile(dir / "none.ini"));
  Material segMaterial;
  Recorder rec;
  TessellationTargets targets;
  targets.zBuffer = &rec;
  EXPECT_EQ(DrawSegmentPatches(seg, Transform::Identity(), 0, &segMaterial, {}, sub, targets), 0);
  ASSERT_EQ(rec.pieces.size(), 24u * 4u);
  for (std::size_t i = 0; i < rec.contexts.size(); ++i) {
    const PatchContext& c = rec.contexts[i];
    EXPECT_EQ(c.patchNumber, static_cast<int>(i / 4) + 1);
    EXPECT_EQ(c.cornerWords, seg.patches[i / 4].cornerNumbers);
    EXPECT_EQ(c.segment, &seg);
    EXPECT_EQ(c.material, &segMaterial);
    EXPECT_EQ(c.patchColour, nullptr);
  }
}

// Catches: flag bits mapped to the wrong target, discard calling a target,
// or bicubic export tessellated.
TEST_F(DrawSegmentTest, FlagsChooseTheTarget) {
  const Segment seg = LathedSegment(4);
  const std::size_t n = seg.patches.size();
  Recorder z, dxf, obj;
  TessellationTargets targets;
  targets.zBuffer = &z;
  targets.dxfFaces = &dxf;
  targets.objFaces = &obj;
  const SubdivisionSettings one = Fixed(0);
  using namespace tessellation_flags;
  EXPECT_EQ(DrawSegmentPatches(seg, {}, kDxfFaces, nullptr, {}, one, targets), 0);
  EXPECT_EQ(DrawSegmentPatches(seg, {}, kObjFaces, nullptr, {}, one, targets), 0);
  EXPECT_EQ(DrawSegmentPatches(seg, {}, kObjFaces | kDiscard, nullptr, {}, one, targets), 0);
  EXPECT_EQ(DrawSegmentPatches(seg, {}, kDiscard, nullptr, {}, one, targets), 0);
  EXPECT_EQ(z.pieces.size(), 0u);
  EXPECT_EQ(dxf.pieces.size(), n);
  EXPECT_EQ(obj.pieces.size(), 2 * n);
  // Bicubic export goes whole to its hook, and fails without one.
  EXPECT_EQ(DrawSegmentPatches(seg, {}, kBicubicExport, nullptr, {}, one, targets), 110);
  int calls = 0;
  targets.bicubicExport = [&](const Segment& s) {
    ++calls;
    return &s == &seg ? 0 : 1;
  };
  EXPECT_EQ(DrawSegmentPatches(seg, {}, kBicubicExport | kDxfFaces, nullptr, {}, one, targets), 0);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(dxf.pieces.size(), n);
  // A missing target fails instead of crashing.
  targets.zBuffer = nullptr;
  EXPECT_EQ(DrawSegmentPatches(seg, {}, 0, nullptr, {}, one, targets), 110);
}

// Catches: a patch colour replacing the segment's material, or a patch's
// material path not looked up through the caller.
TEST_F(DrawSegmentTest, PatchColourAndMaterial) {
  Segment seg = LathedSegment(4);
  seg.patches[0].attribute.kind = PatchAttribute::Kind::kColour;
  seg.patches[0].attribute.colour = {1, 0.5f, 0};
  seg.patches[1].attribute.kind = PatchAttribute::Kind::kMaterial;
  seg.patches[1].attribute.materialPath = "own.mat";
  seg.patches[2].attribute.kind = PatchAttribute::Kind::kMaterial;
  seg.patches[2].attribute.materialPath = "missing.mat";
  Material segMaterial, own;
  std::vector<std::string> asked;
  const MaterialLookup lookup = [&](const std::string& path) -> const Material* {
    asked.push_back(path);
    return path == "own.mat" ? &own : nullptr;
  };
  Recorder rec;
  TessellationTargets targets;
  targets.zBuffer = &rec;
  ASSERT_EQ(DrawSegmentPatches(seg, {}, 0, &segMaterial, lookup, Fixed(0), targets), 0);
  ASSERT_EQ(rec.contexts.size(), seg.patches.size());
  EXPECT_EQ(rec.contexts[0].material, &segMaterial);
  EXPECT_EQ(rec.contexts[0].patchColour, &seg.patches[0].attribute.colour);
  EXPECT_EQ(rec.contexts[1].material, &own);
  EXPECT_EQ(rec.contexts[1].patchColour, nullptr);
  EXPECT_EQ(rec.contexts[2].material, &segMaterial);  // an unknown material keeps the segment's
  EXPECT_EQ(rec.contexts[3].material, &segMaterial);
  EXPECT_EQ(asked, (std::vector<std::string>{"own.mat", "missing.mat"}));
}

// Catches: a failed tessellation or an Escape press reported as success.
TEST_F(DrawSegmentTest, FailureAndEscapeGive110) {
  const Segment seg = LathedSegment(4);
  Recorder rec;
  rec.failAt = 5;
  TessellationTargets targets;
  targets.zBuffer = &rec;
  EXPECT_EQ(DrawSegmentPatches(seg, {}, 0, nullptr, {}, Fixed(2), targets), 110);
  EXPECT_EQ(rec.pieces.size(), 5u);

  Recorder fresh;
  targets.zBuffer = &fresh;
  RequestEscape();
  EXPECT_EQ(DrawSegmentPatches(seg, {}, 0, nullptr, {}, Fixed(2), targets), 110);
  EXPECT_EQ(fresh.pieces.size(), 0u);
  EXPECT_FALSE(escape_pressed());  // the request was taken
}

// Catches: hidden linked corners drawn in the segment walk, or the patch
// numbers of later patches shifted by the skipped one.
TEST_F(DrawSegmentTest, SkippedPatchKeepsNumbering) {
  Segment seg = LathedSegment(4);
  ControlPoint* hidden = seg.patches[0].corners[0];
  hidden->Set(kPointHidden, true);
  // Every patch with that point as a linked corner is skipped.
  std::vector<int> drawn;
  for (std::size_t i = 0; i < seg.patches.size(); ++i) {
    const Patch& p = seg.patches[i];
    bool skip = false;
    for (int c = 0; c < 4; ++c) {
      skip = skip || (p.corners[c] == hidden && (p.patchFlags & (kCornerIsPoint << c)) != 0);
    }
    if (!skip)
      drawn.push_back(static_cast<int>(i) + 1);
  }
  ASSERT_LT(drawn.size(), seg.patches.size());
  Recorder rec;
  TessellationTargets targets;
  targets.zBuffer = &rec;
  ASSERT_EQ(DrawSegmentPatches(seg, {}, 0, nullptr, {}, Fixed(0), targets), 0);
  std::vector<int> got;
  for (const PatchContext& c : rec.contexts)
    got.push_back(c.patchNumber);
  EXPECT_EQ(got, drawn);
  hidden->Set(kPointHidden, false);
}

// ---- Raytracer classification ----

// Catches: flat patches kept curved, curved v edges cut first across u, a
// three-sided patch given the v-first object, or the wrong threshold.
TEST(PrepareRaytracePatchTest, Shapes) {
  EXPECT_EQ(PrepareRaytracePatch(FlatSquare(10)).shape, RaytraceShape::kFlat);

  RenderPatch v = FlatSquare(10);
  v.t1v = {0, 10, 3};  // handle 1 off the P1→P2 chord
  EXPECT_EQ(PrepareRaytracePatch(v).shape, RaytraceShape::kCurvedVFirst);

  RenderPatch u = FlatSquare(10);
  u.t0u = {10, 0, 3};
  EXPECT_EQ(PrepareRaytracePatch(u).shape, RaytraceShape::kCurvedUFirst);

  RenderPatch tri = Triangle(10);
  tri.t1v = {-10, 10, 30};
  const RaytracePatch t = PrepareRaytracePatch(tri);
  EXPECT_TRUE(t.threeSided);
  EXPECT_EQ(t.shape, RaytraceShape::kCurvedUFirst);
}

// Catches: nearly straight edges left bulging in the copy, or edges
// straightened that should stay curved.
TEST(PrepareRaytracePatchTest, NearlyStraightEdgesStraightened) {
  RenderPatch r = FlatSquare(10);
  r.t0u = {10, 0, 0.15f};  // bulge 0.05: straightened
  r.t1v = {0, 10, 3};      // bulge 1: kept
  const RaytracePatch out = PrepareRaytracePatch(r);
  EXPECT_EQ(out.patch.t0u.z, 0.0f);
  EXPECT_NEAR(Length(out.patch.t0u), Length(r.t0u), 1e-5f);
  EXPECT_EQ(out.patch.t1v, r.t1v);
  EXPECT_EQ(out.patch.p, r.p);
  EXPECT_EQ(out.shape, RaytraceShape::kCurvedVFirst);
}

}  // namespace
}  // namespace zentrope
