// Tessellation: posed patches cut by halving into four-cornered pieces that
// are flat enough, each handed to one target (the z-buffer rasteriser, the
// DXF or OBJ face writers, or a target that discards it); and the one-off
// flat-or-curved classification of a patch for the raytracer. The halving,
// the edge-flatness measure and the edge straightening are shared by both.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>

#include "core/transform.h"
#include "core/vector3.h"
#include "render/piece_target.h"
#include "render/render_patch.h"

namespace zentrope {

struct Patch;
class Segment;
class SettingsFile;
struct Material;

// A patch's working copy: corners through the full object transform, the
// eight tangents (orientation bits applied) through its linear part. Nothing
// when a corner held as a control point reference is a hidden point.
std::optional<RenderPatch> BuildRenderPatch(const Patch& patch, const Transform& objectTransform);

// How finely patches are cut, from the GLOBAL settings "SubDivisions",
// "VariableSubDivision" and "SubDivisionMultiplier".
struct SubdivisionSettings {
  // Fixed mode: L halvings, alternating u and v (0, 2, 4, 6 for 1, 4, 16, 64
  // pieces).
  int fixedLevel = 2;
  // Variable mode: halve while an edge bulges more than the threshold, at
  // most ten times.
  bool variable = false;
  float threshold = std::numeric_limits<float>::infinity();

  // "SubDivisions" 0, 4, 16, 64 → 0, 2, 4, 6; any other count → 0.
  static int LevelForPieces(int pieces);
  // The stored multiplier is m, or −1/m for negative m; the threshold is its
  // reciprocal (so 1/m or −m), and m = 0 leaves every patch whole.
  static float ThresholdForMultiplier(int multiplier);
  static SubdivisionSettings FromSettings(const SettingsFile& settings);
};

// The greatest distance of the edge's two Bézier handles (TA/3 and TB/3) from
// the chord A→B; 0 for a chord shorter than 2.0.
float EdgeBulge(const Vector3& a, const Vector3& ta, const Vector3& tb, const Vector3& b);

// Turns both tangents onto the unit chord direction, keeping their lengths,
// so that the edge is exactly its chord; a zero-length edge loses both.
void StraightenEdge(const Vector3& a, Vector3& ta, Vector3& tb, const Vector3& b);

// One cubic edge: start, start tangent, end tangent, end (both tangents
// oriented start → end; Bézier A, A + TA/3, B − TB/3, B).
struct CubicEdge {
  Vector3 a, ta, tb, b;
};

// De Casteljau at 1/2; each half's tangents are derivatives in its own
// parameter.
std::array<CubicEdge, 2> HalveCubic(const Vector3& a, const Vector3& ta, const Vector3& tb,
                                    const Vector3& b);

// One entry of the split stack: a piece, its corner normals N0..N3 and its
// level (negative while variable mode may still halve it).
struct SplitEntry {
  RenderPatch patch;
  std::array<Vector3, 4> normals;
  std::int16_t level = 0;
};

// The normalised corner normals of a whole patch: N0 = T0v × T0u and so on;
// a three-sided patch has N0 = T3u × T0u and N3 = N0.
std::array<Vector3, 4> CornerNormals(const RenderPatch& patch);

// Cut across the u edges (M01 to M32) or across the v edges (M03 to M12).
// The halves carry level + 1; first is the one pushed first. Neither half
// may be the piece itself.
void HalveU(const SplitEntry& piece, SplitEntry& first, SplitEntry& second);
void HalveV(const SplitEntry& piece, SplitEntry& first, SplitEntry& second);

// Cuts one patch on a fixed 64-entry stack, depth first: a piece is popped,
// and either emitted or halved with both halves pushed (first, then second),
// so the second half is always cut and emitted before the first. For fixed
// subdivision the pieces therefore come out in decreasing order of their
// position in the cut tree: at "SubDivisions" 4, (u ½..1, v ½..1),
// (u ½..1, v 0..½), (u 0..½, v ½..1), (u 0..½, v 0..½). False when the target
// refuses a piece.
bool TessellatePatch(const RenderPatch& patch, const PatchContext& context,
                     const SubdivisionSettings& subdivision, PieceTarget& target);

// DrawSegmentPatches flag bits choosing the target.
namespace tessellation_flags {
inline constexpr std::uint32_t kDxfFaces = 0x40;
inline constexpr std::uint32_t kBicubicExport = 0x80;
inline constexpr std::uint32_t kObjFaces = 0x100;
inline constexpr std::uint32_t kDiscard = 0x2000;
}  // namespace tessellation_flags

// Where DrawSegmentPatches sends pieces. A missing face writer or z-buffer
// target fails the walk with 110; bicubic export is not tessellated and is
// handed whole to its hook (no hook: 110).
struct TessellationTargets {
  PieceTarget* zBuffer = nullptr;
  PieceTarget* dxfFaces = nullptr;
  PieceTarget* objFaces = nullptr;
  std::function<int(const Segment&)> bicubicExport;
};

// The material a patch's own material path names, or null for none; the
// caller decides how materials are loaded and cached.
using MaterialLookup = std::function<const Material*(const std::string& path)>;

// Tessellates every patch of the segment in list order (the caller has made
// the patch list current). Returns 0, 107 (memory) or 110 (a tessellation
// failed, a target is missing, or the user pressed Escape between patches).
int DrawSegmentPatches(const Segment& segment, const Transform& objectTransform,
                       std::uint32_t flags, const Material* segmentMaterial,
                       const MaterialLookup& materials, const SubdivisionSettings& subdivision,
                       const TessellationTargets& targets);

// The z-buffer part of DrawSegmentPatches for patches first..last − 1 (list
// positions), into one target: a renderer tessellates runs of patches in
// parallel, each into its own batch. Returns 0, 107 or 110.
int DrawPatchRange(const Segment& segment, const Transform& objectTransform, std::size_t first,
                   std::size_t last, const Material* segmentMaterial,
                   const MaterialLookup& materials, const SubdivisionSettings& subdivision,
                   PieceTarget& target);

// How the raytracer holds one patch.
enum class RaytraceShape {
  kFlat,          // one four-cornered polygon, u and v over 0..1
  kCurvedVFirst,  // curved, its tree cut first across the v edges
  kCurvedUFirst,  // curved, cut first across the u edges; also every three-sided curve
};

struct RaytracePatch {
  RaytraceShape shape = RaytraceShape::kFlat;
  bool threeSided = false;
  // The patch's own copy: nearly straight edges (bulge over 0.01, at most
  // 0.1) straightened; u and v range 0..1.
  RenderPatch patch;
};

// Classifies a patch (tangents in the oriented convention of RenderPatch).
RaytracePatch PrepareRaytracePatch(const RenderPatch& patch);

}  // namespace zentrope
