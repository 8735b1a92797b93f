// The z-buffer renderer: projects each finished piece, lights its corners,
// scan-converts the four-cornered polygon with pixel-centre rules and shades
// every pixel that passes the depth test (FLAT, GOURAUD or PHONG), with the
// segment's projected maps, decals and material nodes.
//
// Two ways in. `RasterizePiece` draws one piece at once into a picture.
// `ZBufferRenderer` is a piece target for whole frames: pieces are set up as
// they arrive (in the caller's threads, through `PieceBatch`es) and binned by
// bands of rows; `Finish` rasterises the bands in parallel, each band taking
// its pieces in submission order, so the picture is byte-identical whatever
// the thread count.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_map>
#include <vector>

#include "core/transform.h"
#include "core/vector3.h"
#include "core/view.h"
#include "material/attribute_record.h"
#include "material/decal.h"
#include "material/material.h"
#include "material/projected_map.h"
#include "model/surface_map.h"
#include "render/piece_target.h"
#include "shell/memory_pool.h"

namespace zentrope {

// What the renderer needs of the view: projection from view space (x right,
// y up, z the depth in front of the eye) to screen pixels, the clip
// rectangle, the way back to object space, the light and the flag word.
struct RenderView {
  std::int16_t cx = 0;  // screen centre
  std::int16_t cy = 0;
  float ox = 0.0f;  // offsets, added before scaling
  float oy = 0.0f;
  float s = 1.0f;     // scale
  float a = 1.0f;     // aspect (vertical scale factor)
  float f = 0.0f;     // perspective distance; 0 is orthographic
  ClipRect clip;      // rows top..bottom − 1 and columns left..right − 1 are drawn
  Vector3 reference;  // (rx, ry, rz), subtracted from a recovered point
  Transform inverse;  // view space to object space
  Vector3 light{0.0f, 0.0f, -1.0f};  // towards the light, view space, unit length
  ColourBgr lightColour{1.0f, 1.0f, 1.0f};
  std::uint16_t flags = 0;  // render flags: 0x100 PHONG, 0x200 FLAT, 0x0008 decals
  int frame = 0;            // for image sequences

  // A view of a width × height picture centred on it, clipped to it.
  static RenderView ForPicture(int width, int height);
};

// Depth of an empty pixel.
inline constexpr float kFarDepth = 3.4e38f;

// A rendered picture: blue, green, red bytes, top row first, with its depth
// buffer. Both come from the main pool, so a picture too large for the
// memory limit fails to size (std::bad_alloc) instead of being drawn.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t, PoolAllocator<std::uint8_t>> bgr;  // 3 × width × height
  std::vector<float, PoolAllocator<float>> depth;              // width × height

  // Sizes the picture and clears it to the background colour (blue, green,
  // red bytes), every depth infinitely far.
  void Reset(int w, int h, std::array<std::uint8_t, 3> background = {0, 0, 0});
  // Clears rows first..end − 1 to the background, infinitely far.
  void ClearRows(int first, int end, std::array<std::uint8_t, 3> background);
  const std::uint8_t* Pixel(int x, int y) const {
    return bgr.data() + (static_cast<std::size_t>(y) * width + x) * 3;
  }
  float Depth(int x, int y) const { return depth[static_cast<std::size_t>(y) * width + x]; }
};

// The attribute values in force at a pixel, reset for each piece from the
// material: an attribute record's values with its reset values (its mask
// goes unused here), and the owner word.
struct PixelShadeState : AttributeRecord {
  std::int32_t owner = 0;

  // The values a material gives (its first attribute leaf); reset values
  // for no material.
  static PixelShadeState FromMaterial(const Material* material);
};

// What a segment brings to its pixels beyond its material. Segments without
// one use the view's inverse transform, no projected maps and their own
// decals.
struct SegmentShading {
  Transform viewToObject;     // view space to the segment's object space
  Transform objectTransform;  // its translation offsets, its rotation turns the node point
  const std::vector<ProjectedMap>* maps = nullptr;
  const std::vector<SurfaceMap>* decals = nullptr;
};

// Applies a surface's projected maps at an object-space point, in list
// order: a colour map ("Normal", "Cookie-Cut") that hits sets `colour` to
// its blend with `materialColour` and sets `colourHit`; "Transparency",
// "Specular", "Ambiance" and "Reflectivity" maps change `values`; a
// "Diffuse" map sets `diffuse`; bump maps turn *normal when one is given.
// False when a "Cookie-Cut" map misses: the surface is not there (the list
// ends).
bool ApplyProjectedMaps(const std::vector<ProjectedMap>& maps, const Vector3& objectPoint,
                        int frame, float footprint, const ColourBgr& materialColour,
                        ColourBgr& colour, bool& colourHit, float& diffuse, AttributeRecord& values,
                        Vector3* normal);

// Draws one piece into the picture now. 0 when an abort was requested (the
// piece is not drawn) or a decal layer could not be allocated, 1 otherwise
// (also when the piece is off screen).
int RasterizePiece(const RenderView& view, const PatchContext& patch, const Piece& piece,
                   Picture& picture, const SegmentShading* shading = nullptr);

// A piece after projection and lighting, ready for scan conversion.
struct ScreenVertex {
  float x, y, z;  // screen pixels, view-space depth
  float i;        // diffuse intensity
  Vector3 n;      // corner normal (PHONG)
};

struct SetUpPiece {
  std::array<ScreenVertex, 4> v;  // in drawing order
  std::uint32_t shade = 0;        // index of its shading in the batch
  std::uint32_t firstLayer = 0;   // its decal layers in the batch
  std::uint16_t layerCount = 0;
  std::int32_t rowFirst = 0;  // rows it can touch
  std::int32_t rowLast = 0;
};

// Values a batch keeps for the pieces of patches that share a material,
// patch colour and segment.
struct PieceShade {
  PixelShadeState state;
  ColourBgr surface{};  // material colour (or the patch colour)
  const Material* material = nullptr;
  const SegmentShading* segment = nullptr;
  bool useNodes = false;  // pattern nodes give the colour
  bool needPoint = false;
};

// One decal on one piece: the image position at each drawing-order vertex.
struct DecalLayer {
  const SurfaceMap* decal = nullptr;
  std::array<std::array<float, 2>, 4> at{};
};

class ZBufferRenderer;

// Pieces from one run of patches, set up in the thread that tessellates
// them. A batch is used by one thread at a time.
class PieceBatch : public PieceTarget {
 public:
  bool AcceptPiece(const PatchContext& patch, const Piece& piece) override;
  std::size_t size() const { return count_; }
  void Clear();

 private:
  friend class ZBufferRenderer;
  PieceBatch(ZBufferRenderer* owner) : owner_(owner) {}
  ZBufferRenderer* owner_;
  // The pieces of each band of rows, in submission order (a piece that
  // crosses bands is held by each), so that a band reads its pieces in one
  // sweep.
  std::vector<std::vector<SetUpPiece>> bands_;
  std::size_t count_ = 0;
  std::vector<PieceShade> shades_;
  std::vector<DecalLayer> layers_;
  const Material* lastMaterial_ = nullptr;
  const Vector3* lastColour_ = nullptr;
  const Segment* lastSegment_ = nullptr;
};

// Codes a frame ends with.
inline constexpr int kRenderOk = 0;
inline constexpr int kRenderNoMemory = 107;
inline constexpr int kRenderAborted = 110;

class ZBufferRenderer : public PieceTarget {
 public:
  // threads: 1 draws in the calling thread; 0 uses every core; n at most n.
  ZBufferRenderer(const RenderView& view, int width, int height, int threads = 0);
  ~ZBufferRenderer() override;
  ZBufferRenderer(const ZBufferRenderer&) = delete;
  ZBufferRenderer& operator=(const ZBufferRenderer&) = delete;

  // Starts a frame: forgets all pieces (keeping their memory for the next
  // frame); the picture is cleared to the background band by band as Finish
  // draws it.
  void BeginFrame(std::array<std::uint8_t, 3> background = {0, 0, 0});
  // A new view of the same picture size for the next frame (a moving camera).
  void SetView(const RenderView& view);
  // Maps and decals of a segment (kept by pointer: the caller keeps it alive
  // until Finish).
  void SetSegmentShading(const Segment* segment, const SegmentShading& shading);

  // Pieces given here are drawn after those of every batch handed out.
  bool AcceptPiece(const PatchContext& patch, const Piece& piece) override;
  // Batch i of the frame: its pieces are drawn after those of batches below
  // i, whatever thread filled them. Call Batches(n) before filling them in
  // parallel.
  void Batches(std::size_t count);
  PieceBatch& Batch(std::size_t index) { return *batches_[index]; }

  // Pieces kept for drawing (set up and on screen) so far.
  std::size_t PieceCount() const;

  // Rasterises every piece; kRenderAborted when a stop was requested,
  // kRenderNoMemory when a piece could not be kept.
  int Finish();
  const Picture& picture() const { return picture_; }
  Picture& picture() { return picture_; }
  const RenderView& view() const { return view_; }
  int BandHeight() const { return bandHeight_; }
  bool Aborted() const { return aborted_.load(std::memory_order_relaxed); }
  // A piece could not be kept: the frame ends with kRenderNoMemory.
  bool OutOfMemory() const { return outOfMemory_.load(std::memory_order_relaxed); }
  // Stops the frame: pieces are refused from now on and Finish draws nothing.
  void Abort() { aborted_.store(true, std::memory_order_relaxed); }

 private:
  friend class PieceBatch;
  void DrawBand(int band);
  const SegmentShading* ShadingFor(const Segment* segment) const;

  RenderView view_;
  Picture picture_;
  int threads_;
  int bandHeight_ = 16;
  std::array<std::uint8_t, 3> background_{0, 0, 0};
  int bandCount_ = 0;
  std::vector<std::unique_ptr<PieceBatch>> batches_;
  std::unique_ptr<PieceBatch> tail_;
  std::unordered_map<const Segment*, SegmentShading> shading_;
  SegmentShading defaultShading_;
  std::atomic<bool> aborted_{false};
  std::atomic<bool> outOfMemory_{false};
};

}  // namespace zentrope
