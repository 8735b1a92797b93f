// Wireframe pictures: the splines of every posed segment drawn through a
// view (the editor views' projection, clipping and spline drawing) as
// one-pixel lines on a plain background. The render driver's wireframe
// mode and the editor windows share it.
#pragma once

#include <array>
#include <cstdint>

#include "core/draw_sink.h"
#include "core/view.h"
#include "render/model_scene.h"
#include "render/zbuffer.h"

namespace zentrope {

// Lines drawn into a picture in one colour (blue, green, red), every pixel
// from one end to the other inclusive; marks are filled squares in their
// own colour, clipped to the picture.
class PictureSink final : public DrawSink {
 public:
  PictureSink(Picture& picture, std::array<std::uint8_t, 3> pen, bool drawMarks = false)
      : picture_(picture), pen_(pen), drawMarks_(drawMarks) {}
  void Line(ScreenPoint from, ScreenPoint to) override;
  void Mark(ScreenPoint corner, int size, Rgb colour) override;

 private:
  void Plot(int x, int y, const std::array<std::uint8_t, 3>& colour);
  Picture& picture_;
  std::array<std::uint8_t, 3> pen_;
  bool drawMarks_;
};

// The perspective view of a framing over a width × height picture: centre
// in the middle, perspective distance 1, zoom = the focal length in pixels,
// clipped to the picture's edge pixels.
View FramingView(const ViewFraming& framing, int width, int height);

// Draws every spline of every segment of the scene (its working copy,
// through the segment's object transform and then worldToView) into the
// sink: the wireframe render and the editor views draw segments alike.
void DrawSceneSplines(const ModelScene& scene, View view, const Transform& worldToView,
                      DrawSink& sink);

// A wireframe frame: the picture cleared to the paper and every spline of
// every segment of the scene (its working copy) drawn black through the
// framing; the editor views' Camera view without grid or decorations.
void DrawWireframe(const ModelScene& scene, const ViewFraming& framing, Picture& picture,
                   std::array<std::uint8_t, 3> paper);

}  // namespace zentrope
