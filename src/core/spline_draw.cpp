// DrawSpline.
#include "core/spline_draw.h"

#include "core/spline.h"

namespace zentrope {

void DrawSpline(const View& view, const ControlPoint* first, DrawSink& sink) {
  for (const ControlPoint* a = first; a; a = NextInTraversal(a)) {
    const ControlPoint* b = a->next;
    if (!b || a->Has(kPointHidden) || b->Has(kPointHidden)) {
      continue;
    }
    const Transform& t = view.transform;
    ForwardDifferences fd;
    ForwardDifferenceSetup(fd, t.ApplyToPoint(b->position), t.ApplyToPoint(a->position),
                           t.ApplyToDirection(b->outTangent), t.ApplyToDirection(a->inTangent),
                           kDrawSteps);
    Vector3 previous = fd.f;
    for (int i = 0; i < kDrawSteps; ++i) {
      ForwardDifferenceStep(fd);
      DrawViewLine(view, previous, fd.f, sink);
      previous = fd.f;
    }
  }
  for (const ControlPoint* p = first; p; p = NextInTraversal(p)) {
    if (p->Has(kPointHidden)) {
      continue;
    }
    const std::optional<ScreenPoint> s =
        ProjectPoint(view, view.transform.ApplyToPoint(p->position));
    if (!s || !MarkVisible(view.clip, *s)) {
      continue;
    }
    sink.Mark({s->x - 1, s->y - 1}, 3, p->Has(kPointSelected) ? kMarkSelected : kMarkNormal);
  }
}

}  // namespace zentrope
