// Small scenes for the renderer's tests and golden pictures: surfaces of
// revolution cut into four-cornered pieces with exact corner normals, and
// flat squares placed by their screen coordinates.
#pragma once

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "material/material.h"
#include "model/lathe.h"
#include "model/patch_finder.h"
#include "model/segment.h"
#include "render/render_settings.h"
#include "render/zbuffer.h"

namespace zentrope::testing {

// A small vase segment: a five-point profile turned into eight sections (32
// patches, none of them degenerate), its patches found.
inline std::shared_ptr<Segment> SmallVase() {
  auto segment = std::make_shared<Segment>();
  const std::vector<Vector3> profile = {{4.0f, 0.0f, 0.0f},
                                        {6.0f, 3.0f, 0.0f},
                                        {5.0f, 6.0f, 0.0f},
                                        {3.0f, 9.0f, 0.0f},
                                        {4.0f, 12.0f, 0.0f}};
  ControlPoint* first = segment->Splines().AppendSpline(profile, /*closed=*/false);
  Lathe(*segment, first, 8);
  segment->Renumber();
  segment->SplinesEdited();
  FindPatches(*segment);
  return segment;
}

// Profile of a lathe: (radius, height) at t in [0, 1].
using Profile = std::function<std::array<float, 2>(float)>;

inline std::array<float, 2> SphereProfile(float t) {
  const float a = 3.14159265f * t;
  return {std::sin(a), -std::cos(a)};
}

// A vase: a waist, a belly and a lip.
inline std::array<float, 2> VaseProfile(float t) {
  return {0.35f + 0.3f * std::sin(3.14159265f * (1.6f * t - 0.1f)) + 0.15f * t, 2.0f * t - 1.0f};
}

// The profile turned about the y axis (rings × sections pieces), tilted by
// `tilt` radians about x (top towards the eye) and moved to centre.
inline std::vector<Piece> LathePieces(const Profile& profile, int rings, int sections, float tilt,
                                      Vector3 centre) {
  const float c = std::cos(tilt), s = std::sin(tilt);
  auto place = [&](Vector3 p) {
    return Vector3{p.x, c * p.y + s * p.z, -s * p.y + c * p.z} + centre;
  };
  auto turn = [&](Vector3 n) { return Vector3{n.x, c * n.y + s * n.z, -s * n.y + c * n.z}; };
  auto point = [&](int i, int j) {
    const float t = static_cast<float>(i) / rings;
    const float th = 6.2831853f * static_cast<float>(j) / sections;
    const auto rh = profile(t);
    return place({rh[0] * std::cos(th), rh[1], rh[0] * std::sin(th)});
  };
  auto normal = [&](int i, int j) {
    const float t = static_cast<float>(i) / rings;
    const float th = 6.2831853f * static_cast<float>(j) / sections;
    const float e = 1.0e-3f;
    const auto a = profile(std::max(0.0f, t - e));
    const auto b = profile(std::min(1.0f, t + e));
    const float dr = b[0] - a[0], dh = b[1] - a[1];
    // Outward in the meridian plane: the profile's tangent turned a quarter.
    return turn(Normalized({dh * std::cos(th), -dr, dh * std::sin(th)}));
  };
  std::vector<Piece> pieces;
  for (int i = 0; i < rings; ++i) {
    for (int j = 0; j < sections; ++j) {
      Piece piece;
      const int jn = (j + 1) % sections;
      piece.corners = {point(i, j), point(i, jn), point(i + 1, jn), point(i + 1, j)};
      piece.normals = {normal(i, j), normal(i, jn), normal(i + 1, jn), normal(i + 1, j)};
      piece.uLo = static_cast<float>(j) / sections;
      piece.uHi = static_cast<float>(j + 1) / sections;
      piece.vLo = static_cast<float>(i) / rings;
      piece.vHi = static_cast<float>(i + 1) / rings;
      pieces.push_back(piece);
    }
  }
  return pieces;
}

// An orthographic view of a 64 × 48 picture, `scale` pixels per unit.
inline RenderView SmallView(std::uint16_t flags, float scale = 1.0f, int width = 64,
                            int height = 48) {
  RenderView view = RenderView::ForPicture(width, height);
  view.s = scale;
  view.flags = flags;
  return view;
}

// A square facing the eye covering screen x0..x1, y0..y1 of an orthographic
// view with scale 1 (x = X − cx, y = cy − Y) at depth z.
inline Piece ScreenSquare(const RenderView& view, float x0, float y0, float x1, float y1, float z) {
  auto at = [&](float x, float y) { return Vector3{x - view.cx, view.cy - y, z}; };
  Piece piece;
  piece.corners = {at(x0, y0), at(x1, y0), at(x1, y1), at(x0, y1)};
  piece.normals.fill({0.0f, 0.0f, -1.0f});
  return piece;
}

inline std::shared_ptr<Material> ColourMaterial(ColourBgr colour, float ambiance = 0.0f,
                                                float specularity = 0.0f,
                                                ColourBgr specular = {1.0f, 1.0f, 1.0f}) {
  AttributeRecord a;
  a.colour = colour;
  a.ambiance = {ambiance, ambiance, ambiance};
  a.specularity = specularity;
  a.specularColour = specular;
  return MakeAttributeMaterial("test", a);
}

// The golden scene: the vase lathe, tilted, in a 64 × 48 picture.
inline constexpr ColourBgr kGoldenColour{0.25f, 0.55f, 0.85f};

inline Picture GoldenLathe(std::uint16_t shading) {
  RenderView view = SmallView(shading, 18.0f);
  view.light = Normalized({-0.577f, 0.577f, -0.577f});
  const auto material = ColourMaterial(kGoldenColour, 0.1f, 0.8f);
  PatchContext patch;
  patch.material = material.get();
  patch.patchNumber = 1;
  ZBufferRenderer renderer(view, 64, 48, 1);
  renderer.BeginFrame({40, 20, 10});
  for (const Piece& piece : LathePieces(VaseProfile, 12, 24, -0.3f, {0.0f, 0.0f, 10.0f})) {
    renderer.AcceptPiece(patch, piece);
  }
  renderer.Finish();
  return renderer.picture();
}

inline std::uint16_t GoldenFlags(const std::string& name) {
  if (name == "flat") {
    return render_flags::kZBuffer | render_flags::kSmooth | render_flags::kFlat;
  }
  if (name == "phong") {
    return render_flags::kZBuffer | render_flags::kPhong;
  }
  return render_flags::kZBuffer | render_flags::kSmooth;
}

}  // namespace zentrope::testing
