// The benchmarks' common model: a circle of 100 points turned into 100
// sections, a torus of 10,000 four-sided patches.
#pragma once

#include <cmath>
#include <vector>

#include "model/lathe.h"
#include "model/segment.h"

namespace zentrope::bench {

// Into seg, its splines edited and numbered; the patches are not yet found.
inline void LatheTorus(Segment& seg) {
  std::vector<Vector3> profile;
  for (int i = 0; i < 100; ++i) {
    const float a = 6.2831853f * static_cast<float>(i) / 100.0f;
    profile.push_back({20.0f + 5.0f * std::cos(a), 5.0f * std::sin(a), 0.0f});
  }
  ControlPoint* first = seg.Splines().AppendSpline(profile, /*closed=*/true);
  Lathe(seg, first, 100);
  seg.Renumber();
  seg.SplinesEdited();
}

}  // namespace zentrope::bench
