// The two Euler-angle rotation builders. Angles are in degrees (a0, a1, a2) and
// turned into radians only here.
#pragma once

#include "core/transform.h"

namespace zentrope {

// Writes T = translation and R = Rx(−a0)·Rz(−a1)·Ry(−a2): a point turns first
// about Y by a2, then about Z by a1, then about X by a0, each in the negative
// right-handed sense. Used by segments in the modeller, choreography objects
// and cameras.
void BuildRotation(Transform& out, const Vector3& translation, const Vector3& angles);
Transform BuildRotation(const Vector3& translation, const Vector3& angles);

// Writes T = translation and R = Ry(−a1)·Rx(−a0)·Ry(−(a2 − a1)): the third
// angle is a roll measured relative to the second, so changing a1 alone swings
// the axis without changing its roll. Used by figure segments and poses.
void BuildRollRotation(Transform& out, const Vector3& translation, const Vector3& angles);
Transform BuildRollRotation(const Vector3& translation, const Vector3& angles);

}  // namespace zentrope
