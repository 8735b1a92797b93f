// The z-buffer renderer: piece set-up, scan conversion, span fill and pixel
// shading, and the banded frame renderer.
#include "render/zbuffer.h"

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/task_arena.h>

#include <algorithm>
#include <cmath>
#include <new>

#include "model/segment.h"
#include "render/render_settings.h"
#include "shell/interrupt.h"

namespace zentrope {

namespace {

// Screen coordinates far outside any picture are held to this, so that
// rounding them to lines and columns stays in range.
constexpr float kCoordinateLimit = 1.0e9f;

int CeilToInt(float v) {
  if (v > -kCoordinateLimit && v < kCoordinateLimit) {
    const int i = static_cast<int>(v);  // toward zero
    return i + (static_cast<float>(i) < v ? 1 : 0);
  }
  return v > 0.0f ? static_cast<int>(kCoordinateLimit) : -static_cast<int>(kCoordinateLimit);
}

int FloorToInt(float v) {
  if (v > -kCoordinateLimit && v < kCoordinateLimit) {
    const int i = static_cast<int>(v);
    return i - (static_cast<float>(i) > v ? 1 : 0);
  }
  return v > 0.0f ? static_cast<int>(kCoordinateLimit) : -static_cast<int>(kCoordinateLimit);
}

// The z-buffer knows no pixel footprint: maps are sampled at one texel and
// pattern nodes take one noise octave (as for any footprint up to 1).
constexpr float kFootprint = 0.0f;

// Attribute slots of a vertex: depth, intensity, then (PHONG) the normal,
// then two image coordinates per decal layer.
constexpr int kDepth = 0;
constexpr int kIntensity = 1;
constexpr int kNormal = 2;

// The rows a piece's clip allows, intersected with the picture.
struct RowRange {
  int first;
  int end;  // one past the last
};

ClipRect ClipToPicture(const ClipRect& clip, int width, int height) {
  ClipRect c = clip;
  c.left = static_cast<std::int16_t>(std::clamp<int>(c.left, 0, width));
  c.right = static_cast<std::int16_t>(std::clamp<int>(c.right, 0, width));
  c.top = static_cast<std::int16_t>(std::clamp<int>(c.top, 0, height));
  c.bottom = static_cast<std::int16_t>(std::clamp<int>(c.bottom, 0, height));
  return c;
}

const MaterialNode* FirstLeaf(const MaterialNode* node) {
  while (node && node->kind != NodeKind::kAttribute) {
    node = node->first ? node->first.get() : node->second.get();
  }
  return node;
}

// Per-patch shading: the material's values, or the patch colour in place of
// its colour.
PieceShade BuildShade(const RenderView& view, const PatchContext& patch,
                      const SegmentShading* shading) {
  PieceShade shade;
  shade.state = PixelShadeState::FromMaterial(patch.material);
  if (patch.patchColour) {
    // Held red, green, blue; the renderer's colours are blue, green, red.
    shade.state.colour = {patch.patchColour->z, patch.patchColour->y, patch.patchColour->x};
  }
  shade.surface = shade.state.colour;
  shade.material = patch.material;
  shade.segment = shading;
  shade.useNodes = !patch.patchColour && patch.material && patch.material->root &&
                   patch.material->HasPatternNodes() &&
                   (view.flags & render_flags::kShowDecals) != 0;
  const bool haveMaps = shading && shading->maps && !shading->maps->empty();
  shade.needPoint = haveMaps || shade.useNodes;
  return shade;
}

// Projection, trivial rejection, lighting and vertex order. False when the
// piece is off screen (or its corners are not numbers).
bool SetUp(const RenderView& view, const Piece& piece, SetUpPiece& out, std::array<int, 4>& order) {
  std::array<ScreenVertex, 4> s;
  for (int k = 0; k < 4; ++k) {
    const Vector3& p = piece.corners[k];
    if (view.f == 0.0f) {
      s[k].x = (p.x + view.ox) * view.s + view.cx;
      s[k].y = view.cy - (p.y + view.oy) * view.s * view.a;
    } else {
      // Corners at or behind the eye's near plane get a fixed small w
      // instead of being clipped.
      const float w = p.z <= 1.0f ? (k < 2 ? 0.005f : 0.0001f) : p.z / view.f;
      s[k].x = (p.x / w + view.ox) * view.s + view.cx;
      s[k].y = view.cy - (p.y / w + view.oy) * view.s * view.a;
    }
    s[k].z = p.z;
    if (!std::isfinite(s[k].x) || !std::isfinite(s[k].y) || !std::isfinite(s[k].z)) {
      return false;
    }
  }
  bool leftOfRight = false, rightOfLeft = false, aboveBottom = false, belowTop = false;
  for (const ScreenVertex& v : s) {
    leftOfRight |= v.x <= view.clip.right;
    rightOfLeft |= v.x >= view.clip.left;
    aboveBottom |= v.y <= view.clip.bottom;
    belowTop |= v.y >= view.clip.top;
  }
  if (!(leftOfRight && rightOfLeft && aboveBottom && belowTop)) {
    return false;
  }
  for (int k = 0; k < 4; ++k) {
    Vector3 n = piece.normals[k];
    if (n.z > 0.0f) {
      n = -n;  // face the eye
    }
    s[k].n = n;
    s[k].i = std::max(0.0f, Dot(n, view.light));
  }
  const float x0 = s[0].x, x1 = s[1].x, x3 = s[3].x, y1 = s[1].y, y3 = s[3].y;
  const bool forward =
      (x0 < x1 && x0 < x3 && y3 < y1) || (x1 < x0 && x3 < x0 && y1 < y3) || (x0 < x1 && x3 < x0);
  order = forward ? std::array<int, 4>{0, 1, 2, 3} : std::array<int, 4>{0, 3, 2, 1};
  for (int k = 0; k < 4; ++k) {
    out.v[k] = s[order[k]];
  }
  float yMin = out.v[0].y, yMax = out.v[0].y;
  for (const ScreenVertex& v : out.v) {
    yMin = std::min(yMin, v.y);
    yMax = std::max(yMax, v.y);
  }
  out.rowFirst = CeilToInt(yMin - 0.5f);
  out.rowLast = FloorToInt(yMax + 0.5f) - 1;
  return true;
}

// The decal layers of a piece: one per decal of the segment lying on the
// piece's patch, with the image position at each drawing-order vertex.
void BuildLayers(const RenderView& view, const PatchContext& patch, const Piece& piece,
                 const SegmentShading* shading, const std::array<int, 4>& order,
                 std::vector<DecalLayer>& layers) {
  if ((view.flags & render_flags::kShowDecals) == 0) {
    return;
  }
  const std::vector<SurfaceMap>* decals = shading ? shading->decals : nullptr;
  if (!decals && patch.segment) {
    decals = &patch.segment->surfaceMaps;
  }
  if (!decals) {
    return;
  }
  const std::array<float, 4> us{piece.uLo, piece.uHi, piece.uHi, piece.uLo};
  const std::array<float, 4> vs{piece.vLo, piece.vLo, piece.vHi, piece.vHi};
  for (const SurfaceMap& decal : *decals) {
    const MappedPatch* mapped = FindMappedPatch(decal, patch.cornerWords);
    if (!mapped) {
      continue;
    }
    DecalLayer layer;
    layer.decal = &decal;
    for (int k = 0; k < 4; ++k) {
      layer.at[k] = DecalPosition(*mapped, us[order[k]], vs[order[k]]);
    }
    layers.push_back(layer);
  }
}

// Per-thread working storage for the general pixel path.
struct Scratch {
  std::vector<float> edges;  // left and right edge values and increments
  std::vector<float> span;   // span values and increments
};

struct Edge {
  float topY = 0.0f, topX = 0.0f, dx = 0.0f;
  int end = 0;           // first line the edge no longer covers
  float* at = nullptr;   // values at the top vertex
  float* inc = nullptr;  // per-line increments
};

template <bool kPhong, bool kFlat, bool kFull>
class PieceDrawer {
 public:
  PieceDrawer(const RenderView& view, const SetUpPiece& piece, const PieceShade& shade,
              const DecalLayer* layers, Picture& picture, Scratch& scratch)
      : view_(view), piece_(piece), shade_(shade), layers_(layers), picture_(picture) {
    if (kFull) {
      count_ = (kPhong ? 5 : 2) + 2 * piece.layerCount;
    }
    float* store = fixed_;
    if (kFull) {
      scratch.edges.resize(static_cast<std::size_t>(count_) * 4);
      scratch.span.resize(static_cast<std::size_t>(count_) * 2);
      store = scratch.edges.data();
      span_ = scratch.span.data();
    } else {
      span_ = fixedSpan_;
    }
    left_.at = store;
    left_.inc = store + count_;
    right_.at = store + 2 * count_;
    right_.inc = store + 3 * count_;
    for (int k = 0; k < 4; ++k) {
      float* a = vertex_[k];
      if (kFull) {
        vertexStore_.resize(static_cast<std::size_t>(count_) * 4);
        a = vertexStore_.data() + static_cast<std::size_t>(count_) * k;
      }
      const ScreenVertex& v = piece.v[k];
      a[kDepth] = v.z;
      a[kIntensity] = v.i;
      int at = 2;
      if (kPhong) {
        a[kNormal] = v.n.x;
        a[kNormal + 1] = v.n.y;
        a[kNormal + 2] = v.n.z;
        at = 5;
      }
      if (kFull) {
        for (int l = 0; l < piece.layerCount; ++l) {
          a[at++] = layers[l].at[k][0];
          a[at++] = layers[l].at[k][1];
        }
      }
      values_[k] = a;
    }
    const ColourBgr& s = shade.surface;
    for (int c = 0; c < 3; ++c) {
      // Q = S·F, then ·I; the ambient term S·ambiance is added after.
      litBase_[c] = s[c] * 1.0f;
      ambient_[c] = s[c] * shade.state.ambiance[c];
    }
  }

  void Draw(int rowFirst, int rowEnd) {
    const std::array<ScreenVertex, 4>& v = piece_.v;
    int top = 0;
    for (int k = 1; k < 4; ++k) {
      if (v[k].y < v[top].y) {
        top = k;
      }
    }
    int y = std::max(CeilToInt(v[top].y - 0.5f), rowFirst);
    leftAt_ = top;
    rightAt_ = top;
    if (!AdvanceLeft(y) || !AdvanceRight(y)) {
      return;
    }
    for (; y < rowEnd; ++y) {
      if (y >= left_.end && !AdvanceLeft(y)) {
        break;
      }
      if (y >= right_.end && !AdvanceRight(y)) {
        break;
      }
      FillSpan(y);
    }
  }

 private:
  void SetEdge(Edge& e, int from, int to) {
    const ScreenVertex& a = piece_.v[from];
    const ScreenVertex& b = piece_.v[to];
    float height = b.y - a.y;
    if (height == 0.0f) {
      height = 1.0f;
    }
    e.topY = a.y;
    e.topX = a.x;
    e.dx = (b.x - a.x) / height;
    e.end = FloorToInt(b.y + 0.5f);
    const float* va = values_[from];
    const float* vb = values_[to];
    for (int k = 0; k < Count(); ++k) {
      e.at[k] = va[k];
      e.inc[k] = (vb[k] - va[k]) / height;
    }
  }

  // The next edge of a chain that still covers line y; false when the
  // polygon has no edge left.
  bool AdvanceLeft(int y) {
    while (used_ < 4) {
      const int next = (leftAt_ + 3) & 3;
      ++used_;
      const int from = leftAt_;
      leftAt_ = next;
      if (FloorToInt(piece_.v[next].y + 0.5f) > y) {
        SetEdge(left_, from, next);
        return true;
      }
    }
    return false;
  }
  bool AdvanceRight(int y) {
    while (used_ < 4) {
      const int next = (rightAt_ + 1) & 3;
      ++used_;
      const int from = rightAt_;
      rightAt_ = next;
      if (FloorToInt(piece_.v[next].y + 0.5f) > y) {
        SetEdge(right_, from, next);
        return true;
      }
    }
    return false;
  }

  void FillSpan(int y) {
    // Each edge's values at this line, measured from its top vertex half a
    // line in.
    const float tl = (static_cast<float>(y) - left_.topY) + 0.5f;
    const float tr = (static_cast<float>(y) - right_.topY) + 0.5f;
    float xl = left_.topX + left_.dx * tl;
    float xr = right_.topX + right_.dx * tr;
    const Edge* l = &left_;
    const Edge* r = &right_;
    float tL = tl, tR = tr;
    if (xr < xl) {
      std::swap(xl, xr);
      std::swap(l, r);
      std::swap(tL, tR);
    }
    const int first = CeilToInt(xl - 0.5f);
    const int last = FloorToInt(xr + 0.5f);
    const int start = std::max<int>(first, view_.clip.left);
    const int stop = std::min<int>(last, view_.clip.right - 1);
    if (start > stop) {
      return;
    }
    const float n = static_cast<float>(last - first + 1);
    float* val = span_;
    float* inc = span_ + count_;
    const float offset = (static_cast<float>(start) - xl) + 0.5f;
    for (int k = 0; k < Count(); ++k) {
      const float lv = l->at[k] + l->inc[k] * tL;
      const float rv = r->at[k] + r->inc[k] * tR;
      inc[k] = (rv - lv) / n;
      val[k] = lv + offset * inc[k];
    }
    const std::size_t row = static_cast<std::size_t>(y) * picture_.width;
    float* depth = picture_.depth.data() + row;
    std::uint8_t* bgr = picture_.bgr.data() + row * 3;
    if constexpr (!kFull && !kPhong) {
      // The everyday case: depth and intensity only.
      float z = val[kDepth], i = val[kIntensity];
      const float dz = inc[kDepth], di = inc[kIntensity];
      for (int x = start; x <= stop; ++x, z += dz, i += di) {
        if (!(z < depth[x])) {
          continue;
        }
        depth[x] = z;
        std::uint8_t* out = bgr + static_cast<std::size_t>(x) * 3;
        for (int c = 0; c < 3; ++c) {
          float q = litBase_[c];
          if (!kFlat) {
            q = q * i;
            q = q + ambient_[c];
          }
          out[c] = ToByte(q);
        }
      }
      return;
    }
    for (int x = start; x <= stop; ++x) {
      const float z = val[kDepth];
      if (z < depth[x]) {
        depth[x] = z;
        ShadePixel(x, y, val, bgr + static_cast<std::size_t>(x) * 3);
      }
      for (int k = 0; k < Count(); ++k) {
        val[k] += inc[k];
      }
    }
  }

  static std::uint8_t ToByte(float q) {
    q = std::clamp(q, 0.0f, 1.0f);
    return static_cast<std::uint8_t>(q * 255.0f);
  }

  void ShadePixel(int x, int y, const float* val, std::uint8_t* out) {
    ColourBgr s = shade_.surface;
    float f = 1.0f;
    float specularity = shade_.state.specularity;
    ColourBgr ambiance = shade_.state.ambiance;
    Vector3 normal;
    if (kPhong) {
      normal = {val[kNormal], val[kNormal + 1], val[kNormal + 2]};
    }
    if (kFull) {
      bool hit = false;
      const SegmentShading* seg = shade_.segment;
      Vector3 object;
      if (shade_.needPoint) {
        const float z = val[kDepth];
        const float w = view_.f == 0.0f ? 1.0f : (z <= 1.0f ? 0.005f : z / view_.f);
        const Vector3 p{
            ((static_cast<float>(x) - view_.cx) / view_.s) * w - view_.ox - view_.reference.x,
            ((view_.cy - static_cast<float>(y)) / (view_.s * view_.a)) * w - view_.oy -
                view_.reference.y,
            z - view_.reference.z};
        object = (seg ? seg->viewToObject : view_.inverse).ApplyToPoint(p);
      }
      if (seg && seg->maps) {
        AttributeRecord values = shade_.state;
        if (!ApplyProjectedMaps(*seg->maps, object, view_.frame, kFootprint, shade_.surface, s, hit,
                                f, values, kPhong ? &normal : nullptr)) {
          return;  // hidden: what was drawn before stays
        }
        // Transparency and reflectivity do not show here.
        specularity = values.specularity;
        ambiance = values.ambiance;
      }
      const int layerBase = kPhong ? 5 : 2;
      for (int l = 0; l < piece_.layerCount; ++l) {
        const DecalLayer& layer = layers_[l];
        const MapSample sample = SampleDecal(*layer.decal, val[layerBase + 2 * l],
                                             val[layerBase + 2 * l + 1], view_.frame);
        if (sample.alpha >= 0.5f) {
          s = sample.colour;
          hit = true;
        } else if (layer.decal->kind == map_kind::kCookieCut) {
          return;
        }
      }
      if (!hit && shade_.useNodes) {
        const MaterialNode& root = *shade_.material->root;
        const Vector3 point =
            (root.flags & 1)
                ? object
                : (seg ? seg->objectTransform : Transform{}).TranslateThenApply(object);
        s = NodeAttributes(root, point, kFootprint).colour;
      }
    }
    const float i = val[kIntensity];
    ColourBgr q;
    for (int c = 0; c < 3; ++c) {
      q[c] = s[c] * f;
      if (!kFlat) {
        q[c] = q[c] * i;
      }
    }
    if (kPhong && i > 0.005f) {
      Vector3 n = normal;
      Normalize(n);
      const Vector3 eye{0.0f, 0.0f, -1.0f};
      Vector3 r = eye - 2.0f * Dot(n, eye) * n;
      Normalize(r);
      if (specularity > 0.005f) {
        const float h = -Dot(r, view_.light);
        if (h > 0.005f) {
          const float e = (1.0f - specularity) * (1.0f - specularity) * 500.0f + 10.0f;
          const float k = std::pow(h, e);
          if (k > 0.005f) {
            for (int c = 0; c < 3; ++c) {
              q[c] = q[c] + shade_.state.specularColour[c] * k * view_.lightColour[c];
            }
          }
        }
      }
    }
    for (int c = 0; c < 3; ++c) {
      if (!kFlat) {
        q[c] = q[c] + s[c] * ambiance[c];
      }
      out[c] = ToByte(q[c]);
    }
  }

  // Values per vertex: fixed unless decal layers add theirs.
  int Count() const {
    if constexpr (kFull) {
      return count_;
    } else {
      return kPhong ? 5 : 2;
    }
  }

  const RenderView& view_;
  const SetUpPiece& piece_;
  const PieceShade& shade_;
  const DecalLayer* layers_;
  Picture& picture_;
  int count_ = kPhong ? 5 : 2;
  float fixed_[20];
  float fixedSpan_[10];
  float vertex_[4][5];
  std::vector<float> vertexStore_;
  const float* values_[4] = {};
  float* span_ = nullptr;
  Edge left_, right_;
  int leftAt_ = 0, rightAt_ = 0, used_ = 0;
  ColourBgr litBase_{}, ambient_{};
};

template <bool kPhong, bool kFlat>
void DrawWith(const RenderView& view, const SetUpPiece& piece, const PieceShade& shade,
              const DecalLayer* layers, int rowFirst, int rowEnd, Picture& picture,
              Scratch& scratch) {
  if (shade.needPoint || piece.layerCount > 0) {
    PieceDrawer<kPhong, kFlat, true>(view, piece, shade, layers, picture, scratch)
        .Draw(rowFirst, rowEnd);
  } else {
    PieceDrawer<kPhong, kFlat, false>(view, piece, shade, layers, picture, scratch)
        .Draw(rowFirst, rowEnd);
  }
}

// Scan-converts a set-up piece over rows [rowFirst, rowEnd); the view's clip
// must lie within the picture.
void DrawPiece(const RenderView& view, const SetUpPiece& piece, const PieceShade& shade,
               const DecalLayer* layers, int rowFirst, int rowEnd, Picture& picture,
               Scratch& scratch) {
  const bool phong = (view.flags & render_flags::kPhong) != 0;
  const bool flat = (view.flags & render_flags::kFlat) != 0;
  if (phong) {
    if (flat) {
      DrawWith<true, true>(view, piece, shade, layers, rowFirst, rowEnd, picture, scratch);
    } else {
      DrawWith<true, false>(view, piece, shade, layers, rowFirst, rowEnd, picture, scratch);
    }
  } else if (flat) {
    DrawWith<false, true>(view, piece, shade, layers, rowFirst, rowEnd, picture, scratch);
  } else {
    DrawWith<false, false>(view, piece, shade, layers, rowFirst, rowEnd, picture, scratch);
  }
}

}  // namespace

RenderView RenderView::ForPicture(int width, int height) {
  RenderView view;
  view.cx = static_cast<std::int16_t>(width / 2);
  view.cy = static_cast<std::int16_t>(height / 2);
  view.clip = {0, 0, static_cast<std::int16_t>(width), static_cast<std::int16_t>(height)};
  return view;
}

void Picture::Reset(int w, int h, std::array<std::uint8_t, 3> background) {
  width = std::max(w, 0);
  height = std::max(h, 0);
  const std::size_t count = static_cast<std::size_t>(width) * height;
  bgr.resize(count * 3);
  depth.resize(count);
  ClearRows(0, height, background);
}

void Picture::ClearRows(int first, int end, std::array<std::uint8_t, 3> background) {
  first = std::clamp(first, 0, height);
  end = std::clamp(end, first, height);
  const std::size_t from = static_cast<std::size_t>(first) * width;
  const std::size_t to = static_cast<std::size_t>(end) * width;
  for (std::size_t k = from; k < to; ++k) {
    bgr[3 * k] = background[0];
    bgr[3 * k + 1] = background[1];
    bgr[3 * k + 2] = background[2];
  }
  std::fill(depth.begin() + static_cast<std::ptrdiff_t>(from),
            depth.begin() + static_cast<std::ptrdiff_t>(to), kFarDepth);
}

bool ApplyProjectedMaps(const std::vector<ProjectedMap>& maps, const Vector3& objectPoint,
                        int frame, float footprint, const ColourBgr& materialColour,
                        ColourBgr& colour, bool& colourHit, float& diffuse, AttributeRecord& values,
                        Vector3* normal) {
  for (const ProjectedMap& map : maps) {
    if (map.kind == map_kind::kBump) {
      if (normal) {
        BumpNormal(map, objectPoint, frame, *normal);
      }
      continue;
    }
    const MapSample sample = SampleProjectedMap(map, objectPoint, frame, footprint);
    if (!sample.hit) {
      if (map.kind == map_kind::kCookieCut) {
        return false;
      }
      continue;
    }
    const float b = map.blend;
    switch (map.kind) {
      case map_kind::kNormal:
      case map_kind::kCookieCut:
        for (int c = 0; c < 3; ++c) {
          colour[c] = b * sample.colour[c] + (1.0f - b) * materialColour[c];
        }
        colourHit = true;
        break;
      case map_kind::kTransparency:
        for (int c = 0; c < 3; ++c) {
          values.transparency[c] = (1.0f - sample.colour[c]) * b;
        }
        break;
      case map_kind::kSpecular:
        values.specularity = b * sample.colour[0];  // the blue sample
        break;
      case map_kind::kDiffuse:
        diffuse = b * sample.colour[0];
        break;
      case map_kind::kAmbiance:
        for (int c = 0; c < 3; ++c) {
          values.ambiance[c] = b * sample.colour[c];
        }
        break;
      case map_kind::kReflectivity:
        for (int c = 0; c < 3; ++c) {
          values.reflectivity[c] = b * sample.colour[c];
        }
        break;
      default:
        break;
    }
  }
  return true;
}

PixelShadeState PixelShadeState::FromMaterial(const Material* material) {
  PixelShadeState state;
  const MaterialNode* leaf = material ? FirstLeaf(material->root.get()) : nullptr;
  if (!leaf) {
    return state;
  }
  static_cast<AttributeRecord&>(state) = leaf->attributes;
  return state;
}

int RasterizePiece(const RenderView& view, const PatchContext& patch, const Piece& piece,
                   Picture& picture, const SegmentShading* shading) {
  if (escape_pressed()) {
    return 0;
  }
  RenderView clipped = view;
  clipped.clip = ClipToPicture(view.clip, picture.width, picture.height);
  SetUpPiece set;
  std::array<int, 4> order{};
  if (!SetUp(clipped, piece, set, order)) {
    return 1;
  }
  std::vector<DecalLayer> layers;
  try {
    BuildLayers(clipped, patch, piece, shading, order, layers);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  set.layerCount = static_cast<std::uint16_t>(std::min<std::size_t>(layers.size(), 0xFFFF));
  const PieceShade shade = BuildShade(clipped, patch, shading);
  Scratch scratch;
  DrawPiece(clipped, set, shade, layers.data(), clipped.clip.top, clipped.clip.bottom, picture,
            scratch);
  return 1;
}

bool PieceBatch::AcceptPiece(const PatchContext& patch, const Piece& piece) {
  if (owner_->Aborted()) {
    return false;
  }
  if (escape_pressed()) {
    owner_->Abort();
    return false;
  }
  const RenderView& view = owner_->view_;
  SetUpPiece set;
  std::array<int, 4> order{};
  if (!SetUp(view, piece, set, order)) {
    return true;
  }
  const int first = std::max(set.rowFirst, static_cast<int>(view.clip.top));
  const int last = std::min(set.rowLast, view.clip.bottom - 1);
  if (first > last) {
    return true;
  }
  try {
    const SegmentShading* shading = owner_->ShadingFor(patch.segment);
    if (shades_.empty() || lastMaterial_ != patch.material || lastColour_ != patch.patchColour ||
        lastSegment_ != patch.segment) {
      shades_.push_back(BuildShade(view, patch, shading));
      lastMaterial_ = patch.material;
      lastColour_ = patch.patchColour;
      lastSegment_ = patch.segment;
    }
    set.shade = static_cast<std::uint32_t>(shades_.size() - 1);
    set.firstLayer = static_cast<std::uint32_t>(layers_.size());
    BuildLayers(view, patch, piece, shading, order, layers_);
    set.layerCount = static_cast<std::uint16_t>(layers_.size() - set.firstLayer);
    const int band = owner_->bandHeight_;
    if (bands_.size() < static_cast<std::size_t>(owner_->bandCount_)) {
      bands_.resize(owner_->bandCount_);
    }
    for (int b = first / band; b <= last / band; ++b) {
      bands_[b].push_back(set);
    }
    ++count_;
  } catch (const std::bad_alloc&) {
    owner_->outOfMemory_.store(true, std::memory_order_relaxed);
    owner_->Abort();
    return false;
  }
  return true;
}

void PieceBatch::Clear() {
  count_ = 0;
  shades_.clear();
  layers_.clear();
  for (auto& band : bands_) {
    band.clear();
  }
}

ZBufferRenderer::ZBufferRenderer(const RenderView& view, int width, int height, int threads)
    : view_(view), threads_(threads), tail_(new PieceBatch(this)) {
  picture_.Reset(width, height);
  view_.clip = ClipToPicture(view.clip, width, height);
  bandCount_ = (std::max(height, 0) + bandHeight_ - 1) / bandHeight_;
  defaultShading_.viewToObject = view.inverse;
}

ZBufferRenderer::~ZBufferRenderer() = default;

void ZBufferRenderer::BeginFrame(std::array<std::uint8_t, 3> background) {
  background_ = background;
  for (auto& batch : batches_) {
    batch->Clear();
  }
  tail_->Clear();
  aborted_.store(false, std::memory_order_relaxed);
  outOfMemory_.store(false, std::memory_order_relaxed);
}

void ZBufferRenderer::SetView(const RenderView& view) {
  view_ = view;
  view_.clip = ClipToPicture(view.clip, picture_.width, picture_.height);
  defaultShading_.viewToObject = view.inverse;
  shading_.clear();
}

void ZBufferRenderer::SetSegmentShading(const Segment* segment, const SegmentShading& shading) {
  shading_[segment] = shading;
}

const SegmentShading* ZBufferRenderer::ShadingFor(const Segment* segment) const {
  const auto found = shading_.find(segment);
  return found == shading_.end() ? &defaultShading_ : &found->second;
}

bool ZBufferRenderer::AcceptPiece(const PatchContext& patch, const Piece& piece) {
  return tail_->AcceptPiece(patch, piece);
}

void ZBufferRenderer::Batches(std::size_t count) {
  while (batches_.size() < count) {
    batches_.push_back(std::unique_ptr<PieceBatch>(new PieceBatch(this)));
  }
  batches_.resize(count);
}

std::size_t ZBufferRenderer::PieceCount() const {
  std::size_t count = tail_->size();
  for (const auto& batch : batches_) {
    count += batch->size();
  }
  return count;
}

void ZBufferRenderer::DrawBand(int band) {
  // Each band clears its own rows, so clearing runs in parallel too.
  picture_.ClearRows(band * bandHeight_, (band + 1) * bandHeight_, background_);
  const int rowFirst = std::max(band * bandHeight_, static_cast<int>(view_.clip.top));
  const int rowEnd = std::min((band + 1) * bandHeight_, static_cast<int>(view_.clip.bottom));
  if (rowFirst >= rowEnd) {
    return;
  }
  Scratch scratch;
  auto drawBatch = [&](const PieceBatch& batch) {
    if (static_cast<std::size_t>(band) >= batch.bands_.size()) {
      return;
    }
    for (const SetUpPiece& piece : batch.bands_[band]) {
      DrawPiece(view_, piece, batch.shades_[piece.shade], batch.layers_.data() + piece.firstLayer,
                rowFirst, rowEnd, picture_, scratch);
    }
  };
  for (const auto& batch : batches_) {
    drawBatch(*batch);
  }
  drawBatch(*tail_);
}

int ZBufferRenderer::Finish() {
  if (outOfMemory_.load(std::memory_order_relaxed)) {
    return kRenderNoMemory;
  }
  if (Aborted()) {
    return kRenderAborted;
  }
  try {
    if (threads_ == 1) {
      for (int band = 0; band < bandCount_; ++band) {
        DrawBand(band);
      }
    } else {
      auto run = [this] {
        tbb::parallel_for(tbb::blocked_range<int>(0, bandCount_, 1),
                          [this](const tbb::blocked_range<int>& range) {
                            for (int band = range.begin(); band != range.end(); ++band) {
                              DrawBand(band);
                            }
                          });
      };
      if (threads_ > 1) {
        tbb::task_arena arena(threads_);
        arena.execute(run);
      } else {
        run();
      }
    }
  } catch (const std::bad_alloc&) {
    return kRenderNoMemory;
  }
  return kRenderOk;
}

}  // namespace zentrope
