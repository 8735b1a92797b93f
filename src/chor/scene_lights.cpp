// Camera and lights at a frame.
#include "chor/scene_lights.h"

#include <algorithm>
#include <cmath>

#include "chor/path_motion.h"

namespace zentrope {

namespace {

bool Keyed(const ChannelSet& set, int index) {
  return index < set.Count() && set.channels[static_cast<std::size_t>(index)].keys;
}

}  // namespace

CameraState CameraAt(const Choreography& chor, float frame) {
  CameraState c;
  const ChannelSet* set = chor.camera.get();
  c.onPath = chor.PathOf(set) != nullptr;
  c.position = position_on_path(chor, set, frame).position;
  c.target = position_on_path(chor, chor.cameraTarget.get(), frame).position;
  if (set) {
    for (int i = 0; i < kCameraChannels; ++i) {
      c.channels[static_cast<std::size_t>(i)] = EvaluateChannel(*set, i, frame);
    }
  } else {
    std::copy(kCameraDefaults.begin(), kCameraDefaults.end(), c.channels.begin());
  }
  using namespace camera_channel;
  c.zoom = std::max(c.channels[kFocalLength] * 6.0f, 1.0f);
  c.fogDistance = c.channels[kFogDistance];
  c.background = Vector3{c.channels[kRedBackground], c.channels[kGreenBackground],
                         c.channels[kBlueBackground]} *
                 (1.0f / 255.0f);
  return c;
}

LightState LightAt(const Choreography& chor, const Light& light, float frame) {
  LightState l;
  const ChannelSet* set = light.set.get();
  l.position = position_on_path(chor, set, frame).position;
  l.target = light.target ? position_on_path(chor, light.target.get(), frame).position : Vector3{};
  if (!set) {
    return l;
  }
  using namespace light_channel;
  auto value = [&](int i) { return EvaluateChannel(*set, i, frame); };
  const float type = value(kType);
  l.type = type >= 0.0f && type <= 8.0f ? static_cast<int>(type) : 0;
  if (Keyed(*set, kWidth)) {
    l.width = value(kWidth);
  } else {
    l.width = l.type == 2 || l.type == 6 ? 50.0f : 0.0f;
  }
  const Vector3 toTarget = l.position - l.target;
  if ((l.type == 1 || l.type == 3) && l.width != 0.0f) {
    l.aimed = true;
    l.rotation = FacingRotation(toTarget);
  }
  l.colour = Keyed(*set, kAllColors) ? Vector3{1, 1, 1} * value(kAllColors)
                                     : Vector3{value(kRed), value(kGreen), value(kBlue)};
  l.colour = l.colour * (1.0f / 255.0f);
  l.focalFactor = value(kFocalLength) * 6.0f;
  l.reach = Keyed(*set, kDistance) ? value(kDistance) : Length(toTarget);
  l.reachSquared = l.reach * l.reach;
  l.direction = Normalized(toTarget);
  return l;
}

std::vector<LightState> LightsAt(const Choreography& chor, float frame) {
  std::vector<LightState> out;
  for (const Light& light : chor.lights) {
    out.push_back(LightAt(chor, light, frame));
  }
  return out;
}

}  // namespace zentrope
