// Pick searches.
#include "model/pick.h"

#include <cmath>
#include <cstdint>
#include <unordered_set>

namespace zentrope {

std::optional<PickResult> PickNearestPoint(const View& view, const SplineSet& set, ScreenPoint at,
                                           const ControlPoint* excludeChain) {
  std::unordered_set<const ControlPoint*> excluded;
  for (const ControlPoint* p = excludeChain; p; p = NextInTraversal(p)) {
    excluded.insert(p);
  }
  std::optional<PickResult> best;
  std::int64_t bestSquared = 0;
  float bestDepth = 0.0f;
  const std::vector<Spline>& splines = set.Splines();
  for (std::size_t i = 0; i < splines.size(); ++i) {
    for (ControlPoint* p = splines[i].first; p; p = NextInTraversal(p)) {
      if (p->Has(kPointHidden) || excluded.count(p)) {
        continue;
      }
      const Vector3 v = view.transform.ApplyToPoint(p->position);
      if (view.Perspective() && v.z <= kNearPlane) {
        continue;
      }
      const std::optional<ScreenPoint> s = ProjectPoint(view, v);
      if (!s) {
        continue;
      }
      const std::int64_t dx = static_cast<std::int64_t>(s->x) - at.x;
      const std::int64_t dy = static_cast<std::int64_t>(s->y) - at.y;
      const std::int64_t squared = dx * dx + dy * dy;
      if (!best || squared < bestSquared || (squared == bestSquared && v.z < bestDepth)) {
        best = PickResult{p, i, 0.0f};
        bestSquared = squared;
        bestDepth = v.z;
      }
    }
  }
  if (best) {
    best->distance = static_cast<float>(std::sqrt(static_cast<double>(bestSquared)));
  }
  return best;
}

std::optional<PickResult> PickNearestTopViewPoint(const SplineSet& set, float px, float pz) {
  std::optional<PickResult> best;
  double bestMeasure = 32000.0;
  const std::vector<Spline>& splines = set.Splines();
  for (std::size_t i = 0; i < splines.size(); ++i) {
    for (ControlPoint* p = splines[i].first; p; p = NextInTraversal(p)) {
      if (p->Has(kPointHidden)) {
        continue;
      }
      const double measure = std::trunc(std::fabs(static_cast<double>(p->position.x) - px) +
                                        std::fabs(static_cast<double>(p->position.z) - pz));
      if (measure < bestMeasure) {
        bestMeasure = measure;
        best = PickResult{p, i, static_cast<float>(measure)};
      }
    }
  }
  return best;
}

}  // namespace zentrope
