// Dynamics: figures with a dynamics record fall and bounce over their frame
// ranges. Each active body carries 13 floats of state (position,
// orientation quaternion, linear and angular momentum), advanced one frame
// at a time by the classic fourth-order Runge–Kutta method; the results
// become the dynamics channels that placement reads.
//
// Forces: gravity along −Y only, no contact between bodies; a body meets
// the ground plane y = 0 with its lowest posed point and leaves it with
// its bounce (restitution) times the speed it arrived with.
#pragma once

#include <array>
#include <functional>
#include <string>

#include "chor/choreography.h"
#include "core/quaternion.h"

namespace zentrope {

// One frame of simulated time, in seconds.
inline constexpr float kDynamicsStep = 1.0f / 30.0f;
// Gravity in model units per second squared, taking a model unit as one
// centimetre (9.8 m/s²).
inline constexpr float kGravity = 980.0f;

inline constexpr std::size_t kBodyStateSize = 13;
using BodyState = std::array<float, kBodyStateSize>;

// The rotation a body's orientation quaternion (x, y, z, w) stands for, and
// back (for unit quaternions and proper rotations).
Matrix3 BodyRotation(const Quaternion& q);
Quaternion BodyQuaternion(const Matrix3& rotation);

struct Body {
  float inverseMass = 0.0f;  // 0: infinite mass, the body stays put
  float bounce = 0.0f;       // restitution at the ground
  float lowest = 0.0f;       // lowest posed point relative to the body's origin (y)
};

// The derivative of a body's state at time t under gravity.
BodyState BodyDerivative(const Body& body, const BodyState& state, float t);

// One step of h seconds: RK4 under gravity, then the ground contact
// (solved exactly for the ballistic motion within the step).
BodyState StepBody(const Body& body, const BodyState& state, float t, float h);

// The last frame a simulation may reach: the longest scene a 16-bit length
// describes.
inline constexpr int kMaxDynamicsFrame = 32767;
// The code of a run refused before it starts (a range past the scene) or
// stopped because the motion stopped being numbers.
inline constexpr int kDynamicsFailed = 1;

struct DynamicsRun {
  int code = 0;            // 0, or the evaluation's error code
  std::string message;     // why, when code is not 0
  bool completed = false;  // false when aborted or failed
};

// Runs the simulation from frame 1 to the last range end of the top-level
// figures, replacing their simulated motion. A range ending past the
// scene's last frame (or kMaxDynamicsFrame) is refused before anything
// runs, and a body whose motion stops being finite fails the run; both
// with kDynamicsFailed and a message. Escape (the escape function)
// or a failed evaluation ends the run early and keeps the motion each body
// had before; a completed run marks the dynamics up to date.
DynamicsRun RunDynamics(Choreography& chor, const std::function<bool()>& escape = nullptr);

}  // namespace zentrope
