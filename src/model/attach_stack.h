// Attach stacks and hooks: control points of different splines that share a
// location are linked through attachedTo (down) and attachedAbove (up); the
// bottom point owns the location. A hook lies instead on the segment from the
// spline point under it to that point's next, at its hookParameter.
#pragma once

#include <vector>

#include "core/control_point.h"

namespace zentrope {

ControlPoint* StackBottom(ControlPoint* p);
// Every point of p's stack, bottom first.
std::vector<ControlPoint*> StackOf(ControlPoint* p);

// The spline point a hook lies on: down the stack past other hooks to the first
// point that has a next. Null when there is none.
ControlPoint* SplinePointUnderHook(const ControlPoint& hook);

// Puts a hook on its curve: position from SegmentPoint, and the tangents of the
// two halves of the segment at the hook (de Casteljau split). Returns false and
// leaves the hook where it is when no spline point lies under it.
bool PlaceHook(ControlPoint& hook);

// Places the stack whose bottom is given: every point above takes the bottom's
// position, except hooks, which are placed on their curves.
void PlaceStack(ControlPoint& bottom);

// Recomputes tangents after point k was edited: for every point of k's stack
// that is not a hook and has no hook as a neighbour, that point, its next and
// next.next, its prev and prev.prev; then the hooks of the stack and the hooks
// lying on the recomputed points' segments are re-placed, with their own
// neighbours' tangents.
void RecomputeAfterEdit(ControlPoint& k);

}  // namespace zentrope
