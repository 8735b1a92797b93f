// The camera and the lights of a choreography at a frame: what the
// renderers take from the scene before drawing it.
#pragma once

#include <vector>

#include "chor/choreography.h"
#include "core/matrix3.h"

namespace zentrope {

struct CameraState {
  Vector3 position;
  Vector3 target;
  bool onPath = false;  // false: the view keeps its own eye point
  std::array<float, kCameraChannels> channels{};
  float zoom = 1.0f;  // Focal Length × 6, at least 1 (times the view's scale)
  float fogDistance = 0.0f;
  Vector3 background;  // 0..1
};

struct LightState {
  Vector3 position;
  Vector3 target;
  Vector3 direction;  // position − target, normalised
  int type = 0;       // 0..8
  Vector3 colour;     // 0..1
  float width = 0.0f;
  bool aimed = false;  // types 1 and 3 with a width
  Matrix3 rotation = Matrix3::Identity();
  float focalFactor = 0.0f;
  float reach = 0.0f;  // the distance the light carries
  float reachSquared = 0.0f;
};

CameraState CameraAt(const Choreography& chor, float frame);
LightState LightAt(const Choreography& chor, const Light& light, float frame);
std::vector<LightState> LightsAt(const Choreography& chor, float frame);

}  // namespace zentrope
