// The choreography camera as a render framing, and its lights as raytracer
// lights.

#include "render/camera_view.h"

#include <algorithm>
#include <cmath>

#include "chor/choreography.h"

namespace zentrope {

namespace {

constexpr double kPi = 3.14159265358979323846;

bool FiniteVector(const Vector3& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

}  // namespace

ViewFraming CameraFraming(const CameraState& camera, const ModelScene& scene, int width,
                          int height) {
  const double dx = double{camera.target.x} - camera.position.x;
  const double dy = double{camera.target.y} - camera.position.y;
  const double dz = double{camera.target.z} - camera.position.z;
  const double distance = std::sqrt(dx * dx + dy * dy + dz * dz);
  if (!camera.onPath || !(distance > 1e-6) || !FiniteVector(camera.position) ||
      !FiniteVector(camera.target)) {
    return FrameFront(scene.boundsMin, scene.boundsMax, width, height);
  }
  // Rows of the view rotation: right, up and forward (the depth axis).
  std::array<double, 3> f = {dx / distance, dy / distance, dz / distance};
  // right = forward × up; up is +y unless the camera looks along it.
  std::array<double, 3> r = {-f[2], 0.0, f[0]};
  double rl = std::sqrt(r[0] * r[0] + r[2] * r[2]);
  if (rl < 1e-9) {
    r = {1.0, 0.0, 0.0};
    rl = 1.0;
  }
  r = {r[0] / rl, r[1] / rl, r[2] / rl};
  std::array<double, 3> u = {r[1] * f[2] - r[2] * f[1], r[2] * f[0] - r[0] * f[2],
                             r[0] * f[1] - r[1] * f[0]};
  // Roll turns the picture about the line of sight, clockwise as seen
  // through the camera for a positive angle.
  const double roll = double{camera.channels[camera_channel::kRoll]} * kPi / 180.0;
  if (std::isfinite(roll) && roll != 0.0) {
    const double c = std::cos(roll), s = std::sin(roll);
    const std::array<double, 3> r2 = {c * r[0] - s * u[0], c * r[1] - s * u[1],
                                      c * r[2] - s * u[2]};
    const std::array<double, 3> u2 = {s * r[0] + c * u[0], s * r[1] + c * u[1],
                                      s * r[2] + c * u[2]};
    r = r2;
    u = u2;
  }
  ViewFraming framing;
  const std::array<std::array<double, 3>, 3> rows = {r, u, f};
  const Vector3& eye = camera.position;
  for (std::size_t i = 0; i < 3; ++i) {
    framing.worldToView.t[3 * i] = static_cast<float>(rows[i][0]);
    framing.worldToView.t[3 * i + 1] = static_cast<float>(rows[i][1]);
    framing.worldToView.t[3 * i + 2] = static_cast<float>(rows[i][2]);
    framing.worldToView.t[9 + i] =
        static_cast<float>(-(rows[i][0] * eye.x + rows[i][1] * eye.y + rows[i][2] * eye.z));
  }
  const float zoom = std::isfinite(camera.zoom) ? std::max(camera.zoom, 1.0f) : 1.0f;
  framing.focal = zoom * static_cast<float>(std::max(width, 1)) / kCameraViewWidth;
  return framing;
}

std::array<std::uint8_t, 3> CameraBackground(const CameraState& camera) {
  const auto byte = [](float v) {
    const float scaled = v * 255.0f;
    if (!(scaled > 0.0f)) {
      return std::uint8_t{0};
    }
    return static_cast<std::uint8_t>(std::min(255.0f, std::round(scaled)));
  };
  return {byte(camera.background.z), byte(camera.background.y), byte(camera.background.x)};
}

std::vector<RaytraceLight> RaytraceLights(const std::vector<LightState>& lights) {
  std::vector<RaytraceLight> out;
  out.reserve(lights.size());
  for (const LightState& l : lights) {
    RaytraceLight light;
    light.type = l.type >= 0 && l.type <= 7 ? l.type : raytrace_light::kDistant;
    light.colour = {l.colour.z, l.colour.y, l.colour.x};
    light.position = l.position;
    const int kind = light.type & 3;
    // A distant light's direction points towards it; a spot or tube's
    // axis runs from the light towards its target.
    light.direction = kind == raytrace_light::kDistant ? l.direction : l.direction * -1.0f;
    if (!FiniteVector(light.direction) || Length(light.direction) == 0.0f) {
      light.direction = {0.0f, 0.0f, 1.0f};
    }
    light.rangeSquared = l.reachSquared > 0.0f && std::isfinite(l.reachSquared)
                             ? l.reachSquared
                             : 1.0e16f;  // no reach: unattenuated
    light.radius = std::max(l.width, 0.0f);
    light.coneLength = std::max(l.reach, 0.0f);
    light.orientation = l.rotation;
    out.push_back(light);
  }
  return out;
}

}  // namespace zentrope
