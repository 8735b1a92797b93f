// The camera view of a choreography as the renderers see it: the eye at the
// camera's position looking at its target, turned by its Roll, with the
// zoom of its Focal Length, and the background and ambiance it gives.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "chor/scene_lights.h"
#include "render/model_scene.h"
#include "render/raytracer.h"

namespace zentrope {

// The width of the direction window's camera view the zoom is measured
// against: a picture twice as wide shows the same field of view.
inline constexpr float kCameraViewWidth = 320.0f;

// The camera's framing for a width-pixel picture: focal length in pixels =
// zoom × width / 320 (the default Focal Length 100 sees about 30 degrees
// across). A camera without a path (or at its own target) keeps the view's
// own eye: the Front view of the scene's box. A camera looking straight up
// or down takes +z as its screen's up.
ViewFraming CameraFraming(const CameraState& camera, const ModelScene& scene, int width,
                          int height);

// The background colour as the renderers take it: blue, green, red bytes
// of the camera's background channels (0..255, clamped).
std::array<std::uint8_t, 3> CameraBackground(const CameraState& camera);

// The choreography's lights as raytracer lights in world space: types
// 0..7 as they are (4..7 casting no shadows), anything else a distant
// light; colour, position, direction towards the light, reach and spot or
// tube width.
std::vector<RaytraceLight> RaytraceLights(const std::vector<LightState>& lights);

}  // namespace zentrope
