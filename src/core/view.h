// View: the projection of an editor view from view space to screen pixels
// (orthographic or perspective), the near-plane cut at zv = 1, Liang–Barsky
// clipping to the clip rectangle, and the visibility rule for point marks.
#pragma once

#include <cstdint>
#include <optional>

#include "core/draw_sink.h"
#include "core/transform.h"

namespace zentrope {

struct ClipRect {
  std::int16_t left = 0;
  std::int16_t top = 0;
  std::int16_t right = 0;
  std::int16_t bottom = 0;
};

struct View {
  ClipRect clip;
  std::int16_t cx = 0;  // screen centre
  std::int16_t cy = 0;
  float px = 0.0f;  // pan offset
  float py = 0.0f;
  float zoom = 1.0f;
  float aspect = 1.0f;
  float distance = 0.0f;  // perspective distance; 0 selects orthographic
  // World to view space; the wireframe drawing code reads it.
  Transform transform;

  bool Perspective() const { return distance != 0.0f; }
};

// The nearest plane a perspective view shows.
inline constexpr float kNearPlane = 1.0f;

// Screen position of a view-space point; none when a perspective view cannot
// show it (zv < 1). Coordinates truncate toward zero.
std::optional<ScreenPoint> ProjectPoint(const View& view, const Vector3& viewPoint);

// Liang–Barsky clipping of a screen segment to the rectangle (edges
// inclusive). Returns false when nothing survives; clipped ends truncate.
bool ClipLine(const ClipRect& rect, ScreenPoint& a, ScreenPoint& b);

// Cuts, projects, clips and draws the line between two view-space points.
void DrawViewLine(const View& view, Vector3 a, Vector3 b, DrawSink& sink);

// A mark is drawn only when its projection lies strictly inside the clip
// rectangle.
bool MarkVisible(const ClipRect& rect, ScreenPoint p);

}  // namespace zentrope
