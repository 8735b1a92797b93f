// Picking: the nearest control point to a screen position through a view, and
// the nearest control point on a top view.
#pragma once

#include <cstddef>
#include <optional>

#include "core/view.h"
#include "model/spline_set.h"

namespace zentrope {

struct PickResult {
  ControlPoint* point = nullptr;
  std::size_t spline = 0;  // index in the set
  float distance = 0.0f;   // in pixels (screen) or whole units (top view)
};

// Every visible point is transformed by the view and projected; perspective
// skips points with zv ≤ 1. The smallest squared screen distance wins, a tie
// goes to the smaller view depth. Points of the exclusion chain (the spline
// starting at excludeChain) are skipped.
std::optional<PickResult> PickNearestPoint(const View& view, const SplineSet& set, ScreenPoint at,
                                           const ControlPoint* excludeChain = nullptr);

// On a top view: |x − px| + |z − pz| truncated to whole units, starting from a
// best of 32000; strictly smaller wins, so the first of equal candidates stays.
std::optional<PickResult> PickNearestTopViewPoint(const SplineSet& set, float px, float pz);

}  // namespace zentrope
