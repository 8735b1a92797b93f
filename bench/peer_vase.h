// The scene the benchmarks share with the peer renderers: the vase of the
// peers' generator (a 126-point profile, radius 60 and height 200, turned
// into 80 sections: 10,000 patches) and the peers' shot of a box, the camera
// at c + D·normalize(0.3, 0.8, 1.0) looking at c, 50 degrees across,
// D = 0.6·r / sin(min field of view / 2), c and r the box's centre and half
// diagonal; the light at c + r·(1.2, 2.0, 0.8).
#pragma once

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "model/lathe.h"
#include "model/patch_finder.h"
#include "model/segment.h"
#include "render/model_scene.h"

namespace zentrope::bench {

inline std::shared_ptr<Segment> PeerVase() {
  auto segment = std::make_shared<Segment>();
  std::vector<Vector3> profile;
  constexpr int kPoints = 126;
  for (int i = 0; i < kPoints; ++i) {
    const double t = static_cast<double>(i) / (kPoints - 1);
    const double a = 3.14159265358979323846 * (1.5 * t - 0.25);
    const double r = 60.0 * (0.55 + 0.35 * std::sin(a) + 0.25 * std::pow(t, 8));
    profile.push_back({static_cast<float>(r), static_cast<float>(200.0 * t), 0.0f});
  }
  ControlPoint* first = segment->Splines().AppendSpline(profile, /*closed=*/false);
  Lathe(*segment, first, 80);
  segment->Renumber();
  segment->SplinesEdited();
  FindPatches(*segment);
  return segment;
}

struct PeerShot {
  ViewFraming camera;
  Vector3 light;  // the point light's position
};

inline PeerShot PeerShotOf(const Vector3& lo, const Vector3& hi, int width, int height) {
  const Vector3 c{(lo.x + hi.x) / 2, (lo.y + hi.y) / 2, (lo.z + hi.z) / 2};
  const double dx = hi.x - lo.x, dy = hi.y - lo.y, dz = hi.z - lo.z;
  const double r = std::sqrt(dx * dx + dy * dy + dz * dz) / 2;
  const double hfov = 50.0 * 3.14159265358979323846 / 180.0;
  const double vfov = 2.0 * std::atan(std::tan(hfov / 2) * height / width);
  const double d = 0.6 * r / std::sin(std::min(hfov, vfov) / 2);
  const double n = std::sqrt(0.3 * 0.3 + 0.8 * 0.8 + 1.0);
  const Vector3 eye{static_cast<float>(c.x + d * 0.3 / n), static_cast<float>(c.y + d * 0.8 / n),
                    static_cast<float>(c.z + d * 1.0 / n)};
  PeerShot shot;
  shot.camera = LookAt(eye, c, 50.0f, width);
  shot.light = {static_cast<float>(c.x + r * 1.2), static_cast<float>(c.y + r * 2.0),
                static_cast<float>(c.z + r * 0.8)};
  return shot;
}

}  // namespace zentrope::bench
