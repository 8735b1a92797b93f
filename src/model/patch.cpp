// Patch boundary evaluation.
#include "model/patch.h"

namespace zentrope {

namespace {

constexpr Vector3 kZero{};

// Slot i runs between these corners.
constexpr int kSlotStart[4] = {0, 1, 3, 0};
constexpr int kSlotEnd[4] = {1, 2, 2, 3};

}  // namespace

const Vector3* ZeroTangent() {
  return &kZero;
}

Vector3 Patch::StartTangent(int slot) const {
  const Vector3 t = tangentsA[slot] ? *tangentsA[slot] : kZero;
  return (patchFlags & kSlotBits[slot]) ? -t : t;
}

Vector3 Patch::EndTangent(int slot) const {
  const Vector3 t = tangentsB[slot] ? *tangentsB[slot] : kZero;
  return (patchFlags & kSlotBits[slot]) ? -t : t;
}

Vector3 Patch::BoundaryPoint(int slot, float s) const {
  const Vector3 p0 = corners[kSlotStart[slot]]->position;
  const Vector3 p3 = corners[kSlotEnd[slot]]->position;
  const Vector3 p1 = p0 + StartTangent(slot) / 3.0f;
  const Vector3 p2 = p3 - EndTangent(slot) / 3.0f;
  const float r = 1.0f - s;
  return p0 * (r * r * r) + p1 * (3.0f * s * r * r) + p2 * (3.0f * s * s * r) + p3 * (s * s * s);
}

}  // namespace zentrope
