// The single-frame z-buffer render of one model: its segments tessellated in
// runs of patches (in parallel), the pieces drawn by the z-buffer renderer
// into a picture seen by the Front view. The caller writes the picture.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "core/vector3.h"
#include "render/model_scene.h"
#include "render/render_settings.h"
#include "render/tessellation.h"
#include "render/zbuffer.h"

namespace zentrope {

struct ModelRenderOptions {
  int width = 320;
  int height = 240;
  Shading shading = Shading::kGouraud;
  bool showDecals = true;
  // Towards the light, in the view's own axes (x right, y up, −z towards
  // the eye): the quick-render default light source.
  Vector3 light{0.0f, 0.0f, -1.0f};
  SubdivisionSettings subdivision;
  int threads = 0;                                  // 0: every core
  std::array<std::uint8_t, 3> background{0, 0, 0};  // blue, green, red
  int frame = 1;                                    // for picture sequences
  // The camera; none frames the model with the Front view.
  std::optional<ViewFraming> camera;
};

// The inverse of an affine transform; a singular linear part (a segment
// scaled to nothing) gives the identity, since nothing of it is drawn.
Transform AffineInverse(const Transform& t);

// The render flags a shading gives (with "ShowDecals").
std::uint16_t ShadingFlags(Shading shading, bool showDecals);

struct ModelRenderResult {
  int code = 0;  // 0, 107 (memory) or 110 (stopped)
  Picture picture;
  std::size_t pieces = 0;
  double tessellationMs = 0.0;  // patches cut and pieces set up
  double rasterMs = 0.0;        // pieces scan-converted and shaded
};

// One frame, the picture returned with the result.
ModelRenderResult RenderModel(const ModelScene& scene, const ModelRenderOptions& options);

// Frame after frame: the z-buffer renderer and its piece lists are kept
// between frames of one size; the picture stays in the renderer.
class ModelRenderer {
 public:
  ModelRenderer();
  ~ModelRenderer();
  ModelRenderer(const ModelRenderer&) = delete;
  ModelRenderer& operator=(const ModelRenderer&) = delete;

  // The result's picture is left empty: read picture().
  ModelRenderResult Render(const ModelScene& scene, const ModelRenderOptions& options);
  const Picture& picture() const;
  Picture& picture();

 private:
  std::unique_ptr<ZBufferRenderer> renderer_;
  int threads_ = 0;
};

}  // namespace zentrope
