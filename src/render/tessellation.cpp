// Patch tessellation by halving, on a fixed stack.
#include "render/tessellation.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <type_traits>

#include "core/control_point.h"
#include "model/patch.h"
#include "model/segment.h"
#include "render/render_errors.h"
#include "shell/interrupt.h"
#include "shell/settings.h"

namespace zentrope {

namespace {

// Variable mode starts this many levels below zero, so a piece is halved at
// most this often.
constexpr std::int16_t kVariableStartLevel = -10;
// Fixed mode is cut no deeper than variable mode can go.
constexpr int kMaxFixedLevel = 10;
constexpr int kStackEntries = 64;
// Raytracer classification: edges bulging more than kCurvedBulge stay curved;
// those between kStraightenBulge and kCurvedBulge are straightened.
constexpr float kStraightenBulge = 0.01f;
constexpr float kCurvedBulge = 0.1f;

// Normalized(Cross(a, b)) in single precision: the hot loop's normals.
inline Vector3 UnitCross(const Vector3& a, const Vector3& b) {
  const Vector3 c = Cross(a, b);
  const float len = std::sqrt(c.x * c.x + c.y * c.y + c.z * c.z);
  return len == 0.0f ? c : c / len;
}

// Transform::ApplyToPoint's arithmetic (double sums), inlined for the
// per-patch copy; with zero translation it gives the linear part alone.
inline Vector3 Apply(const Transform& m, const Vector3& p, bool translate) {
  const auto row = [&](int r) {
    const double sum = static_cast<double>(m.t[3 * r]) * p.x +
                       static_cast<double>(m.t[3 * r + 1]) * p.y +
                       static_cast<double>(m.t[3 * r + 2]) * p.z + (translate ? m.t[9 + r] : 0.0f);
    return static_cast<float>(sum);
  };
  return {row(0), row(1), row(2)};
}

// A slot's tangent with its orientation bits applied.
inline Vector3 SlotTangent(const Patch& patch, const Vector3* tangent, int slot) {
  const Vector3 t = tangent ? *tangent : Vector3{};
  return (patch.patchFlags & kSlotBits[slot]) ? -t : t;
}

class DiscardTarget final : public PieceTarget {
 public:
  bool AcceptPiece(const PatchContext&, const Piece&) override { return true; }
};

}  // namespace

std::optional<RenderPatch> BuildRenderPatch(const Patch& patch, const Transform& objectTransform) {
  for (int i = 0; i < 4; ++i) {
    const ControlPoint* corner = patch.corners[i];
    if (corner == nullptr) {
      return std::nullopt;
    }
    const bool linked = (patch.patchFlags & (kCornerIsPoint << i)) != 0;
    if (linked && corner->Has(kPointHidden)) {
      return std::nullopt;
    }
  }
  RenderPatch r;
  for (int i = 0; i < 4; ++i) {
    r.p[i] = patch.corners[i]->position;
  }
  // Slots: 0 is P0→P1, 1 is P1→P2, 2 is P3→P2, 3 is P0→P3.
  r.t0u = SlotTangent(patch, patch.tangentsA[0], 0);
  r.t1v = SlotTangent(patch, patch.tangentsA[1], 1);
  r.t3u = SlotTangent(patch, patch.tangentsA[2], 2);
  r.t0v = SlotTangent(patch, patch.tangentsA[3], 3);
  r.t1u = SlotTangent(patch, patch.tangentsB[0], 0);
  r.t2v = SlotTangent(patch, patch.tangentsB[1], 1);
  r.t2u = SlotTangent(patch, patch.tangentsB[2], 2);
  r.t3v = SlotTangent(patch, patch.tangentsB[3], 3);

  for (Vector3& p : r.p) {
    p = Apply(objectTransform, p, true);
  }
  for (Vector3* t : {&r.t0u, &r.t1v, &r.t3u, &r.t0v, &r.t1u, &r.t2v, &r.t2u, &r.t3v}) {
    *t = Apply(objectTransform, *t, false);
  }
  return r;
}

int SubdivisionSettings::LevelForPieces(int pieces) {
  switch (pieces) {
    case 4:
      return 2;
    case 16:
      return 4;
    case 64:
      return 6;
    default:
      return 0;
  }
}

float SubdivisionSettings::ThresholdForMultiplier(int multiplier) {
  float stored = static_cast<float>(multiplier);
  if (multiplier < 0) {
    stored = -1.0f / stored;
  }
  if (stored == 0.0f) {
    return std::numeric_limits<float>::infinity();
  }
  return 1.0f / stored;
}

SubdivisionSettings SubdivisionSettings::FromSettings(const SettingsFile& settings) {
  SubdivisionSettings s;
  s.fixedLevel = LevelForPieces(settings.read_setting_int("GLOBAL", "SubDivisions", 4));
  s.variable = settings.read_setting_switch("GLOBAL", "VariableSubDivision", false);
  s.threshold =
      ThresholdForMultiplier(settings.read_setting_int("GLOBAL", "SubDivisionMultiplier", 0));
  return s;
}

float EdgeBulge(const Vector3& a, const Vector3& ta, const Vector3& tb, const Vector3& b) {
  const Vector3 chord = b - a;
  const float d = Length(chord);
  if (d < 2.0f) {
    return 0.0f;
  }
  const auto handleBulge = [&](const Vector3& h) {
    const float hh = Dot(h, h);
    if (hh == 0.0f) {
      return 0.0f;
    }
    const float along = Dot(h, chord) / d;
    const float off = hh - along * along;
    return off <= 0.0f ? 0.0f : std::sqrt(off);
  };
  return std::max(handleBulge(ta / 3.0f), handleBulge(tb / 3.0f));
}

void StraightenEdge(const Vector3& a, Vector3& ta, Vector3& tb, const Vector3& b) {
  Vector3 direction = b - a;
  if (Normalize(direction) == 0.0f) {
    ta = {};
    tb = {};
    return;
  }
  ta = direction * Length(ta);
  tb = direction * Length(tb);
}

std::array<CubicEdge, 2> HalveCubic(const Vector3& a, const Vector3& ta, const Vector3& tb,
                                    const Vector3& b) {
  const Vector3 c1 = a + ta / 3.0f;
  const Vector3 c2 = b - tb / 3.0f;
  const Vector3 m01 = (a + c1) * 0.5f;
  const Vector3 m12 = (c1 + c2) * 0.5f;
  const Vector3 m23 = (c2 + b) * 0.5f;
  const Vector3 m012 = (m01 + m12) * 0.5f;
  const Vector3 m123 = (m12 + m23) * 0.5f;
  const Vector3 mid = (m012 + m123) * 0.5f;
  // The whole curve's derivative at 1/2 is 3·(m123 − m012); each half runs
  // at half that speed. Both halves share the one vector, so they meet
  // smoothly whatever the rounding.
  const Vector3 tMid = (m123 - m012) * 1.5f;
  return {CubicEdge{a, ta * 0.5f, tMid, mid}, CubicEdge{mid, tMid, tb * 0.5f, b}};
}

std::array<Vector3, 4> CornerNormals(const RenderPatch& r) {
  std::array<Vector3, 4> n;
  n[1] = UnitCross(r.t1v, r.t1u);
  n[2] = UnitCross(r.t2v, r.t2u);
  if (r.ThreeSided()) {
    // The P0→P3 edge is a point: its tangents say nothing, so the corner
    // takes its two u edges.
    n[0] = UnitCross(r.t3u, r.t0u);
    n[3] = n[0];
  } else {
    n[0] = UnitCross(r.t0v, r.t0u);
    n[3] = UnitCross(r.t3v, r.t3u);
  }
  return n;
}

void HalveU(const SplitEntry& piece, SplitEntry& first, SplitEntry& second) {
  const RenderPatch& r = piece.patch;
  const std::array<CubicEdge, 2> e01 = HalveCubic(r.p[0], r.t0u, r.t1u, r.p[1]);
  const std::array<CubicEdge, 2> e32 = HalveCubic(r.p[3], r.t3u, r.t2u, r.p[2]);
  Vector3 tm1 = (r.t0v + r.t1v) * 0.5f;
  Vector3 tm2 = (r.t3v + r.t2v) * 0.5f;
  const float uMid = (r.uLo + r.uHi) * 0.5f;

  const std::array<Vector3, 4> n = piece.normals;
  const auto level = static_cast<std::int16_t>(piece.level + 1);
  RenderPatch& a = first.patch;
  a = r;
  a.p = {r.p[0], e01[0].b, e32[0].b, r.p[3]};
  a.t0u = e01[0].ta;
  a.t1u = e01[0].tb;
  a.t3u = e32[0].ta;
  a.t2u = e32[0].tb;
  if (r.ThreeSided()) {
    // Near the point corner the cut's tangents shrink, as the patch does.
    a.t0v *= 0.25f;
    a.t3v *= 0.25f;
    tm1 *= 0.25f;
    tm2 *= 0.25f;
  }
  a.t1v = tm1;
  a.t2v = tm2;
  a.uHi = uMid;

  RenderPatch& b = second.patch;
  b = r;
  b.p = {e01[1].a, r.p[1], r.p[2], e32[1].a};
  b.t0u = e01[1].ta;
  b.t1u = e01[1].tb;
  b.t3u = e32[1].ta;
  b.t2u = e32[1].tb;
  b.t0v = tm1;
  b.t3v = tm2;
  b.uLo = uMid;

  const Vector3 n01 = UnitCross(a.t1v, a.t1u);
  const Vector3 n32 = UnitCross(a.t2v, a.t2u);
  first.normals = {n[0], n01, n32, n[3]};
  first.level = level;
  second.normals = {n01, n[1], n[2], n32};
  second.level = level;
}

void HalveV(const SplitEntry& piece, SplitEntry& first, SplitEntry& second) {
  const RenderPatch& r = piece.patch;
  const std::array<CubicEdge, 2> e12 = HalveCubic(r.p[1], r.t1v, r.t2v, r.p[2]);
  std::array<CubicEdge, 2> e03;
  if (piece.level >= 0 && r.ThreeSided()) {
    // The P0→P3 edge is a point: both halves keep it, and its tangents are
    // shared out between them.
    const Vector3 shared = (r.t0v + r.t3v) / 4.0f;
    e03[0] = {r.p[0], r.t0v / 2.0f, shared, r.p[0]};
    e03[1] = {r.p[0], shared, r.t3v / 2.0f, r.p[0]};
  } else {
    e03 = HalveCubic(r.p[0], r.t0v, r.t3v, r.p[3]);
  }
  const Vector3 tm03 = (r.t0u + r.t3u) * 0.5f;
  const Vector3 tm12 = (r.t1u + r.t2u) * 0.5f;
  const float vMid = (r.vLo + r.vHi) * 0.5f;

  const std::array<Vector3, 4> n = piece.normals;
  const auto level = static_cast<std::int16_t>(piece.level + 1);
  RenderPatch& a = first.patch;
  a = r;
  a.p = {r.p[0], r.p[1], e12[0].b, e03[0].b};
  a.t0v = e03[0].ta;
  a.t3v = e03[0].tb;
  a.t1v = e12[0].ta;
  a.t2v = e12[0].tb;
  a.t3u = tm03;
  a.t2u = tm12;
  a.vHi = vMid;

  RenderPatch& b = second.patch;
  b = r;
  b.p = {e03[1].a, e12[1].a, r.p[2], r.p[3]};
  b.t0v = e03[1].ta;
  b.t3v = e03[1].tb;
  b.t1v = e12[1].ta;
  b.t2v = e12[1].tb;
  b.t0u = tm03;
  b.t1u = tm12;
  b.vLo = vMid;

  const Vector3 n12 = UnitCross(a.t2v, a.t2u);
  const Vector3 n03 = UnitCross(a.t3v, a.t3u);
  first.normals = {n[0], n[1], n12, n03};
  first.level = level;
  second.normals = {n03, n12, n[2], n[3]};
  second.level = level;
}

bool TessellatePatch(const RenderPatch& patch, const PatchContext& context,
                     const SubdivisionSettings& subdivision, PieceTarget& target) {
  const bool variable = subdivision.variable;
  const int limit = variable ? 0 : std::clamp(subdivision.fixedLevel, 0, kMaxFixedLevel);
  const float t = subdivision.threshold;

  // Depth first, so at most limit + 1 entries (11 in variable mode) are live.
  // The entries are left uninitialised: clearing 64 of them for every patch
  // would cost more than cutting it.
  union Slot {
    Slot() {}
    SplitEntry entry;
  };
  static_assert(std::is_trivially_copyable_v<SplitEntry> &&
                std::is_trivially_destructible_v<SplitEntry>);
  std::array<Slot, kStackEntries> stack;
  int count = 0;
  // Brace initialisation: not every compiler builds an aggregate from
  // construct_at's parentheses.
  stack[count++].entry =
      SplitEntry{patch, CornerNormals(patch), variable ? kVariableStartLevel : std::int16_t{0}};

  while (count > 0) {
    SplitEntry piece = stack[--count].entry;
    RenderPatch& r = piece.patch;
    const int k = piece.level;
    float bu0 = 0, bu3 = 0, bv0 = 0, bv1 = 0;
    if (k < 0) {
      bu0 = EdgeBulge(r.p[0], r.t0u, r.t1u, r.p[1]);
      bu3 = EdgeBulge(r.p[3], r.t3u, r.t2u, r.p[2]);
      bv0 = EdgeBulge(r.p[0], r.t0v, r.t3v, r.p[3]);
      bv1 = EdgeBulge(r.p[1], r.t1v, r.t2v, r.p[2]);
    }
    const float mu = std::max(bu0, bu3);
    const float mv = std::max(bv0, bv1);

    enum class Step { kHalveU, kHalveV, kEmit } step = Step::kHalveU;
    if ((k < 0 && mv > t && mu <= mv && !r.ThreeSided()) || (k >= 0 && k < limit && (k & 1) != 0)) {
      step = Step::kHalveV;
    } else if ((k >= 0 && k >= limit) || (k < 0 && mu <= t && mv <= t)) {
      step = Step::kEmit;
    }

    if (step == Step::kEmit) {
      const Piece out{r.p, piece.normals, r.uLo, r.uHi, r.vLo, r.vHi};
      if (!target.AcceptPiece(context, out)) {
        return false;
      }
      continue;
    }
    if (count + 2 > kStackEntries) {
      return false;  // cannot happen within the level limits
    }
    // A nearly straight edge that is cut is made exactly straight, so that it
    // matches a neighbour that emits the same edge uncut.
    if (step == Step::kHalveV) {
      if (k < 0) {
        if (bv0 <= t)
          StraightenEdge(r.p[0], r.t0v, r.t3v, r.p[3]);
        if (bv1 <= t)
          StraightenEdge(r.p[1], r.t1v, r.t2v, r.p[2]);
      }
      HalveV(piece, *std::construct_at(&stack[count].entry),
             *std::construct_at(&stack[count + 1].entry));
    } else {
      if (k < 0) {
        if (bu0 <= t)
          StraightenEdge(r.p[0], r.t0u, r.t1u, r.p[1]);
        if (bu3 <= t)
          StraightenEdge(r.p[3], r.t3u, r.t2u, r.p[2]);
      }
      HalveU(piece, *std::construct_at(&stack[count].entry),
             *std::construct_at(&stack[count + 1].entry));
    }
    count += 2;
  }
  return true;
}

int DrawSegmentPatches(const Segment& segment, const Transform& objectTransform,
                       std::uint32_t flags, const Material* segmentMaterial,
                       const MaterialLookup& materials, const SubdivisionSettings& subdivision,
                       const TessellationTargets& targets) {
  using namespace tessellation_flags;
  if ((flags & kBicubicExport) != 0) {
    return targets.bicubicExport ? targets.bicubicExport(segment) : render_error::kAborted;
  }
  DiscardTarget discard;
  PieceTarget* target = targets.zBuffer;
  if ((flags & kDxfFaces) != 0) {
    target = targets.dxfFaces;
  } else if ((flags & kObjFaces) != 0) {
    target = targets.objFaces;
  } else if ((flags & kDiscard) != 0) {
    target = &discard;
  }
  if (target == nullptr) {
    return render_error::kAborted;
  }

  return DrawPatchRange(segment, objectTransform, 0, segment.patches.size(), segmentMaterial,
                        materials, subdivision, *target);
}

int DrawPatchRange(const Segment& segment, const Transform& objectTransform, std::size_t first,
                   std::size_t last, const Material* segmentMaterial,
                   const MaterialLookup& materials, const SubdivisionSettings& subdivision,
                   PieceTarget& target) {
  last = std::min(last, segment.patches.size());
  for (std::size_t index = first; index < last; ++index) {
    const Patch& patch = segment.patches[index];
    if (escape_pressed()) {
      return render_error::kAborted;
    }
    const std::optional<RenderPatch> renderPatch = BuildRenderPatch(patch, objectTransform);
    if (!renderPatch) {
      continue;
    }
    PatchContext context;
    context.patchNumber = static_cast<int>(index + 1);
    context.segment = &segment;
    context.material = segmentMaterial;
    context.cornerWords = patch.cornerNumbers;
    const PatchAttribute& attribute = patch.attribute;
    if (attribute.kind == PatchAttribute::Kind::kColour) {
      context.patchColour = &attribute.colour;
    } else if (attribute.kind == PatchAttribute::Kind::kMaterial && materials) {
      if (const Material* own = materials(attribute.materialPath)) {
        context.material = own;
      }
    }
    if (!TessellatePatch(*renderPatch, context, subdivision, target)) {
      return render_error::kAborted;
    }
  }
  return render_error::kNone;
}

RaytracePatch PrepareRaytracePatch(const RenderPatch& patch) {
  RaytracePatch out;
  out.patch = patch;
  RenderPatch& r = out.patch;
  r.uLo = 0.0f;
  r.uHi = 1.0f;
  r.vLo = 0.0f;
  r.vHi = 1.0f;
  out.threeSided = r.ThreeSided();

  const float bu0 = EdgeBulge(r.p[0], r.t0u, r.t1u, r.p[1]);
  const float bu3 = EdgeBulge(r.p[3], r.t3u, r.t2u, r.p[2]);
  const float bv0 = EdgeBulge(r.p[0], r.t0v, r.t3v, r.p[3]);
  const float bv1 = EdgeBulge(r.p[1], r.t1v, r.t2v, r.p[2]);
  const auto nearlyStraight = [](float bulge) {
    return bulge > kStraightenBulge && bulge <= kCurvedBulge;
  };
  if (nearlyStraight(bu0))
    StraightenEdge(r.p[0], r.t0u, r.t1u, r.p[1]);
  if (nearlyStraight(bu3))
    StraightenEdge(r.p[3], r.t3u, r.t2u, r.p[2]);
  if (nearlyStraight(bv0))
    StraightenEdge(r.p[0], r.t0v, r.t3v, r.p[3]);
  if (nearlyStraight(bv1))
    StraightenEdge(r.p[1], r.t1v, r.t2v, r.p[2]);

  // The bulges measured before straightening decide.
  const float mu = std::max(bu0, bu3);
  const float mv = std::max(bv0, bv1);
  if (mv > kCurvedBulge && mv >= mu) {
    out.shape = out.threeSided ? RaytraceShape::kCurvedUFirst : RaytraceShape::kCurvedVFirst;
  } else if (mu <= kCurvedBulge) {
    out.shape = RaytraceShape::kFlat;
  } else {
    out.shape = RaytraceShape::kCurvedUFirst;
  }
  return out;
}

}  // namespace zentrope
