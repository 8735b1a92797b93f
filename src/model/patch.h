// Patch: a three- or four-sided loop of spline segments found on a segment's
// working copy. It refers to the control points and their own tangent
// vectors, so it follows the splines when they move without being searched
// again; it is found again only when the topology changes.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/control_point.h"

namespace zentrope {

// Orientation bits of the four edge slots (slot i: mask kSlotBits[i]).
inline constexpr std::array<std::uint16_t, 4> kSlotBits = {3, 12, 48, 192};
// Corner i is held as a control point reference.
inline constexpr std::uint16_t kCornerIsPoint = 0x100;  // shifted by the corner index
// The attribute is a colour.
inline constexpr std::uint16_t kPatchHasColour = 0x8000;

struct PatchAttribute {
  enum class Kind { kNone, kColour, kMaterial };
  Kind kind = Kind::kNone;
  Vector3 colour;            // red, green, blue, for kColour
  std::string materialPath;  // for kMaterial
};

// Edge slots: 1 runs corner 1 → 2, 2 runs 2 → 3, 3 runs 4 → 3, 4 runs 1 → 4
// (held at indices 0..3). tangentsA is the start corner's tangent on the
// edge's side, tangentsB the end corner's. When a slot's orientation bits are
// set, both tangents are negated before use; the boundary is then the Bézier
// start, start + A/3, end − B/3, end.
struct Patch {
  std::uint16_t patchFlags = 0;
  std::array<ControlPoint*, 4> corners{};
  std::array<const Vector3*, 4> tangentsA{};
  std::array<const Vector3*, 4> tangentsB{};
  // Numbers of the corner stacks' bottom points, from the walk's second
  // corner: (C2, C3, C4, S), or (C2, C3, S, S) for three sides.
  std::array<std::int32_t, 4> cornerNumbers{};
  PatchAttribute attribute;

  bool ThreeSided() const { return cornerNumbers[2] == cornerNumbers[3]; }
  // The slot's tangents with the negation rule applied.
  Vector3 StartTangent(int slot) const;
  Vector3 EndTangent(int slot) const;
  // The point at s ∈ [0, 1] on the slot's boundary curve.
  Vector3 BoundaryPoint(int slot, float s) const;
};

// The zero vector that three-sided patches use in slot 4.
const Vector3* ZeroTangent();

}  // namespace zentrope
