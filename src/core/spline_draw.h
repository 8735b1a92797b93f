// Wireframe drawing of a spline through a view: every segment as exactly 8
// straight pieces, and a 3×3 mark on every control point.
#pragma once

#include "core/control_point.h"
#include "core/draw_sink.h"
#include "core/view.h"

namespace zentrope {

// Draws the spline that starts at first through view.transform. Segments with
// a hidden end are skipped; marks are red for selected points, green for the
// others, and only drawn strictly inside the clip rectangle.
void DrawSpline(const View& view, const ControlPoint* first, DrawSink& sink);

}  // namespace zentrope
