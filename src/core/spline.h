// Spline curves: tangents derived from neighbouring control points and bent by
// Alpha/Gamma/Magnitude bias, the cubic segment between two points in Bézier
// and Hermite form, and the forward-differencing stepper that draws segments,
// samples channels and measures lengths.
#pragma once

#include <array>
#include <cstdint>

#include "core/control_point.h"
#include "core/vector3.h"

namespace zentrope {

// Derives inTangent and outTangent of p from its own and its neighbours'
// positions, then applies its In and Out bias.
void ComputeTangents(ControlPoint& p);

// A selection redraw: only k, k.prev and k.next are recomputed.
void ComputeTangentsAround(ControlPoint& k);

// Recomputes every point of the spline starting at first, in traversal order.
void ComputeSplineTangents(ControlPoint* first);

// The reference normal of p: the cross product of the directions to its
// neighbours (not normalised; zero for collinear points).
Vector3 ReferenceNormal(const ControlPoint& p);

// Turns a towards b by angle degrees with four linear blends through a, b, −a,
// −b at 0, 90, 180 and 270 degrees. Negative angles reduce through a 16-bit
// integer, angles above 360 through an integer; the result is normalised.
Vector3 RotateTowards(const Vector3& a, const Vector3& b, float angle);

// Bends a derived tangent: Alpha tips it towards the reference normal, Gamma
// turns it within the plane of the points, Magnitude scales its length. A zero
// tangent is left unchanged.
void ApplyBias(Vector3& tangent, const Bias& bias, const Vector3& referenceNormal);

// The point at s ∈ [0, 1] on the segment from a (s = 0) to a.next (s = 1): the
// Bézier with control points A, A − A.inTangent/3, B + B.outTangent/3, B.
// A point without next gives its own position.
Vector3 SegmentPoint(const ControlPoint& a, float s);

// The Hermite form, always called in the B-to-A orientation of a segment:
// P0 = B.position, P1 = A.position, T0 = B.outTangent, T1 = A.inTangent.
struct HermiteCoefficients {
  Vector3 a, b, c, d;
};
HermiteCoefficients MakeHermite(const Vector3& p0, const Vector3& p1, const Vector3& t0,
                                const Vector3& t1);
Vector3 HermitePoint(const Vector3& p0, const Vector3& p1, const Vector3& t0, const Vector3& t1,
                     float t);
struct PointAndDerivative {
  Vector3 point;
  Vector3 derivative;
};
PointAndDerivative HermitePointAndDerivative(const Vector3& p0, const Vector3& p1,
                                             const Vector3& t0, const Vector3& t1, float t);

// Forward-difference table: f is the current point; each step adds three
// vectors.
struct ForwardDifferences {
  Vector3 f;
  Vector3 d1;
  Vector3 d2;
  Vector3 d3;
};
void ForwardDifferenceSetup(ForwardDifferences& table, const Vector3& p0, const Vector3& p1,
                            const Vector3& t0, const Vector3& t1, std::int16_t steps);
void ForwardDifferenceStep(ForwardDifferences& table);

// Steps per segment for drawing and channel sampling, and for lengths.
inline constexpr std::int16_t kDrawSteps = 8;
inline constexpr std::int16_t kLengthSteps = 30;

// Arc length of the segment from a to a.next as the sum of 30 chords; 0 when
// a has no next.
float SegmentLength(const ControlPoint& a);
// The 30 chords of that sum in stepping order: chord i runs from parameter
// i/30 to (i + 1)/30 of the Hermite form, which starts at a.next (t = 0).
void SegmentChords(const ControlPoint& a, std::array<float, kLengthSteps>& chords);

}  // namespace zentrope
