// ControlPoint: the point record shared by model splines, channel keys and
// paths. Position and bias are user state; the two tangents are derived from
// the neighbours (see spline.h) and never stored in files.
#pragma once

#include <array>
#include <cstdint>

#include "core/vector3.h"

namespace zentrope {

// Flag bits.
inline constexpr std::uint16_t kPointSmooth = 1;
inline constexpr std::uint16_t kPointLoopClosing = 4;  // next is the spline's first point
inline constexpr std::uint16_t kPointHook = 16;
inline constexpr std::uint16_t kPointHidden = 32;
inline constexpr std::uint16_t kPointSelected = 64;
// Editing state, cleared in every file written.
inline constexpr std::uint16_t kPointEditingFlags = kPointHidden | kPointSelected;

// The number a new point carries until the segment is renumbered.
inline constexpr std::int32_t kPlaceholderNumber = 100000000;

struct Bias {
  float alpha = 0.0f;      // degrees, tips the tangent towards the reference normal
  float gamma = 0.0f;      // degrees, turns it within the plane of the points
  float magnitude = 1.0f;  // factor on the derived length
  constexpr bool operator==(const Bias&) const = default;
};

inline constexpr Bias kNeutralBias{};

// Links are non-owning: the records live in an arena owned by their document.
struct ControlPoint {
  std::uint16_t flags = kPointSmooth;
  ControlPoint* prev = nullptr;
  ControlPoint* next = nullptr;
  ControlPoint* attachedAbove = nullptr;  // the point stacked directly on this one
  ControlPoint* attachedTo = nullptr;     // the point this one is stacked on
  Vector3 position;
  // Both tangents point backwards along the spline, from the next side towards
  // the prev side. inTangent serves the segment to next, outTangent the
  // segment from prev.
  Vector3 inTangent;
  Vector3 outTangent;
  float alphaIn = 0.0f;
  float gammaIn = 0.0f;
  float magnitudeIn = 1.0f;
  float alphaOut = 0.0f;
  float gammaOut = 0.0f;
  float magnitudeOut = 1.0f;
  std::int32_t number = kPlaceholderNumber;
  // Hook points only: the parameter on the segment below, and the tangents of
  // that segment split at the hook, in the tangent convention above: [0] the
  // hook's end of the half from the point below, [1] the hook's start of the
  // half to that point's next, [2] the point below's tangent for the first
  // half, [3] its next's tangent for the second half.
  float hookParameter = 0.0f;
  std::array<Vector3, 4> hookTangents{};

  bool Has(std::uint16_t flag) const { return (flags & flag) != 0; }
  void Set(std::uint16_t flag, bool on) {
    flags = static_cast<std::uint16_t>(on ? (flags | flag) : (flags & ~flag));
  }
  bool ClosesLoop() const { return Has(kPointLoopClosing); }
  bool IsHook() const { return Has(kPointHook); }

  Bias InBias() const { return {alphaIn, gammaIn, magnitudeIn}; }
  Bias OutBias() const { return {alphaOut, gammaOut, magnitudeOut}; }
  void SetInBias(const Bias& b) {
    alphaIn = b.alpha;
    gammaIn = b.gamma;
    magnitudeIn = b.magnitude;
  }
  void SetOutBias(const Bias& b) {
    alphaOut = b.alpha;
    gammaOut = b.gamma;
    magnitudeOut = b.magnitude;
  }
};

// Spline traversal: the point after p, or null after the loop-closing point or
// at the open end.
inline ControlPoint* NextInTraversal(const ControlPoint* p) {
  return p->ClosesLoop() ? nullptr : p->next;
}

}  // namespace zentrope
