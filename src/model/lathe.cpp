// Lathe construction.
#include "model/lathe.h"

#include <cmath>
#include <vector>

namespace zentrope {

bool Lathe(Segment& segment, ControlPoint* profilePoint, std::int16_t sections) {
  if (sections < 1) {
    return false;
  }
  if (!profilePoint) {
    return true;
  }
  ControlPoint* first = profilePoint;
  while (first->prev && !first->prev->ClosesLoop()) {
    first = first->prev;
  }
  std::vector<ControlPoint*> profile;
  for (ControlPoint* p = first; p; p = NextInTraversal(p)) {
    profile.push_back(p);
  }
  const bool closedProfile = first->prev != nullptr;
  const Vector3 pivot = segment.pivot;

  // Built in a separate set so that a failure leaves the segment as it was.
  SplineSet built;
  std::vector<std::vector<ControlPoint*>> rings;
  const float step = 6.2831855f / static_cast<float>(sections);
  for (ControlPoint* p : profile) {
    const float dx = p->position.x - pivot.x;
    const float dz = p->position.z - pivot.z;
    const float r = std::sqrt(dx * dx + dz * dz);
    std::vector<ControlPoint*> ring;
    ControlPoint* last = nullptr;
    float theta = 0.0f;
    for (int k = 0; k < sections; ++k) {
      ControlPoint* q = built.CreatePointAfter(last);
      if (!q) {
        return false;
      }
      q->position = {pivot.x + r * std::cos(theta), p->position.y, pivot.z + r * std::sin(theta)};
      theta += step;
      ring.push_back(q);
      last = q;
    }
    built.CloseSpline(built.Splines().size() - 1);
    rings.push_back(std::move(ring));
  }
  for (int j = 0; j < sections; ++j) {
    ControlPoint* last = nullptr;
    for (std::size_t i = 0; i < profile.size(); ++i) {
      ControlPoint* q = built.CreatePointAfter(last);
      if (!q) {
        return false;
      }
      const ControlPoint* source = profile[i];
      q->flags = static_cast<std::uint16_t>(source->flags & kPointSmooth);
      q->SetInBias(source->InBias());
      q->SetOutBias(source->OutBias());
      ControlPoint* under = rings[i][static_cast<std::size_t>(j)];
      q->position = under->position;
      while (under->attachedAbove) {
        under = under->attachedAbove;
      }
      under->attachedAbove = q;
      q->attachedTo = under;
      last = q;
    }
    if (closedProfile && profile.size() > 1) {
      built.CloseSpline(built.Splines().size() - 1);
    }
  }
  built.ComputeAllTangents();
  try {
    segment.Splines().AppendCopyOf(built, /*clearSelection=*/false);
  } catch (const std::bad_alloc&) {
    return false;
  }
  segment.Splines().ForEachPoint([](ControlPoint& p) { p.Set(kPointSelected, false); });
  segment.SplinesEdited();
  return true;
}

}  // namespace zentrope
