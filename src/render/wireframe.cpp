// Wireframe pictures through the editor views' spline drawing.

#include "render/wireframe.h"

#include <algorithm>
#include <cstdlib>

#include "core/spline_draw.h"
#include "render/view_drawing.h"

namespace zentrope {

void PictureSink::Plot(int x, int y, const std::array<std::uint8_t, 3>& colour) {
  if (x < 0 || y < 0 || x >= picture_.width || y >= picture_.height) {
    return;
  }
  std::uint8_t* p = picture_.bgr.data() + (static_cast<std::size_t>(y) * picture_.width + x) * 3;
  p[0] = colour[0];
  p[1] = colour[1];
  p[2] = colour[2];
}

void PictureSink::Line(ScreenPoint from, ScreenPoint to) {
  // Bresenham's line: the ends come clipped, so the walk stays short.
  const int dx = std::abs(to.x - from.x);
  const int dy = -std::abs(to.y - from.y);
  const int sx = from.x < to.x ? 1 : -1;
  const int sy = from.y < to.y ? 1 : -1;
  int error = dx + dy;
  int x = from.x, y = from.y;
  for (;;) {
    Plot(x, y, pen_);
    if (x == to.x && y == to.y) {
      break;
    }
    const int twice = 2 * error;
    if (twice >= dy) {
      error += dy;
      x += sx;
    }
    if (twice <= dx) {
      error += dx;
      y += sy;
    }
  }
}

void PictureSink::Mark(ScreenPoint corner, int size, Rgb colour) {
  if (!drawMarks_) {
    return;
  }
  const std::array<std::uint8_t, 3> bgr = {colour.b, colour.g, colour.r};
  for (int y = corner.y; y < corner.y + size; ++y) {
    for (int x = corner.x; x < corner.x + size; ++x) {
      Plot(x, y, bgr);
    }
  }
}

View FramingView(const ViewFraming& framing, int width, int height) {
  View view;
  view.clip = {0, 0, static_cast<std::int16_t>(std::max(width - 1, 0)),
               static_cast<std::int16_t>(std::max(height - 1, 0))};
  view.cx = static_cast<std::int16_t>(width / 2);
  view.cy = static_cast<std::int16_t>(height / 2);
  view.zoom = framing.focal;
  view.aspect = 1.0f;
  view.distance = 1.0f;
  view.transform = framing.worldToView;
  return view;
}

void DrawWireframe(const ModelScene& scene, const ViewFraming& framing, Picture& picture,
                   std::array<std::uint8_t, 3> paper) {
  ViewOptions options;
  options.grid = false;
  options.camera = framing;
  options.paper = paper;
  DrawDocumentView(scene, {}, InitialViewState(ViewKind::kCamera), options, picture);
}

void DrawSceneSplines(const ModelScene& scene, View view, const Transform& worldToView,
                      DrawSink& sink) {
  for (const SceneSegment& s : scene.segments) {
    view.transform = worldToView * s.objectTransform;
    for (const Spline& spline : s.segment->working.Splines()) {
      DrawSpline(view, spline.first, sink);
    }
  }
}

}  // namespace zentrope
