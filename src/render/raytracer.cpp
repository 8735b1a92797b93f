// Primary rays, TraceRay and ShadeHit.
#include "render/raytracer.h"

#include <algorithm>
#include <cmath>

#include "material/decal.h"
#include "material/material.h"
#include "material/projected_map.h"
#include "render/zbuffer.h"

namespace zentrope {

namespace {

// Below this a weight, a transparency, a highlight or a colour channel
// counts as nothing.
constexpr float kNegligible = 0.005f;
// Highlights broader than this exponent are not drawn.
constexpr float kBroadestHighlight = 100.0f;
// 2e: the steepness of the fog's exponential part.
constexpr float kFogSteepness = 5.4365636f;
// A spot's cone widens from its radius at the light to this at its cone
// length.
constexpr float kSpotFarRadius = 640.0f;
// Refraction index at which the inside-a-body rule turns to its reciprocal.
constexpr int kReciprocalIndexDepth = 10;

bool Finite(const Vector3& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

float Largest(const ColourBgr& c) {
  return std::max(c[0], std::max(c[1], c[2]));
}

// 0..1; NaN becomes 0.
float Clamp01(float v) {
  return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f;
}

// Finite and not negative (an overbright channel stays, clamped later).
float Sane(float v) {
  return std::isfinite(v) && v > 0.0f ? v : 0.0f;
}

const Material* MaterialOf(const RayObject* object) {
  return object && object->shading ? object->shading->patch.material : nullptr;
}

const MaterialNode* PatternRoot(const Material* material) {
  return material && material->root && material->HasPatternNodes() ? material->root.get() : nullptr;
}

}  // namespace

RaytraceRect RaytraceRect::ForPicture(int width, int height) {
  RaytraceRect r;
  r.firstColumn = static_cast<std::int16_t>(-(width / 2));
  r.lastColumn = static_cast<std::int16_t>(width - width / 2 - 1);
  r.firstRow = static_cast<std::int16_t>(-(height / 2));
  r.lastRow = static_cast<std::int16_t>(height - height / 2 - 1);
  return r;
}

Raytracer::Raytracer(const RaytraceObjects& objects, const BinnodeTree& tree,
                     const RaytraceSettings& settings)
    : objects_(objects), tree_(tree), settings_(settings) {}

void Raytracer::PrimaryRay(float x, float y, Vector3& origin, Vector3& direction) const {
  const Matrix3& rotation = settings_.cameraRotation;
  const Vector3 ahead = rotation * Vector3{0.0f, 0.0f, 1.0f};
  if (settings_.cameraKind == 2) {
    const float scale = settings_.orthoScale > 0.0f ? settings_.orthoScale : 1.0f;
    direction = ahead;
    // Rays start far behind the picture plane. The camera's position is
    // added so that an orthographic camera looks from where it stands, as
    // a perspective one does; without it every such view would be centred
    // on the world origin.
    origin = settings_.cameraPosition + rotation * Vector3{x / scale, y / scale, -1.0e5f};
  } else {
    const float aspect =
        settings_.aspect != 0.0f && std::isfinite(settings_.aspect) ? settings_.aspect : 1.0f;
    direction = rotation * Vector3{x, y / aspect, settings_.focal};
    origin = settings_.cameraPosition;
  }
  if (!Finite(direction) || Normalize(direction) == 0.0f) {
    direction = ahead;  // a zero focal length at the view centre
    if (!Finite(direction) || Normalize(direction) == 0.0f) {
      direction = {0.0f, 0.0f, 1.0f};
    }
  }
}

RaySample Raytracer::TracePrimary(float x, float y, RayPath& path) const {
  Vector3 origin, direction;
  PrimaryRay(x, y, origin, direction);
  path.inside = false;
  ++path.counts.primary;
  RaySample sample;
  TraceRay(0, 1.0f, origin, direction, 1.0f, 0.0f, sample, path);
  for (int c = 0; c < 3; ++c) {
    sample.colour[c] = Clamp01(sample.colour[c]);
    sample.unshadowed[c] = Clamp01(sample.unshadowed[c]);
  }
  sample.transmission = Clamp01(sample.transmission);
  return sample;
}

float Raytracer::TraceRay(int depth, float weight, const Vector3& origin, const Vector3& direction,
                          float index, float distanceSoFar, RaySample& out, RayPath& path) const {
  out.distance = kNoHit;
  if (depth >= kMaxRayDepth) {
    // Nothing comes back from this deep: black, and opaque so that the
    // black shows.
    out.colour = {0.0f, 0.0f, 0.0f};
    out.unshadowed = out.colour;
    out.transmission = 0.0f;
    return kNoHit;
  }
  Vector3 d = direction;
  const float length = Length(d);
  HitRecord hit;
  const bool usable = length > 0.0f && std::isfinite(length) && Finite(origin);
  if (usable && length != 1.0f) {
    d /= length;
  }
  if (!usable || !tree_.NearestHit(origin, d, hit) || !hit.object) {
    out.colour = settings_.background;
    out.unshadowed = settings_.background;
    out.transmission = 1.0f;
    return kNoHit;
  }
  ShadeHit(depth, weight, d, hit, index, distanceSoFar, out, path);
  out.distance = hit.t;
  const Material* material = MaterialOf(hit.object);
  if (material && material->root && (material->root->flags & kMaterialNoDepth) != 0) {
    out.distance = kNoHit;
    out.transmission = 1.0f;
  }
  return out.distance;
}

RaySurface Raytracer::SurfaceDetail(const HitRecord& hit, float footprint, Vector3* normal) const {
  RaySurface surface;
  const RayShading* shading = hit.object ? hit.object->shading : nullptr;
  if (!shading) {
    return surface;
  }
  AttributeRecord& values = surface.values;
  const Material* material = shading->patch.material;
  static_cast<AttributeRecord&>(values) = PixelShadeState::FromMaterial(material);
  if (shading->hasPatchColour) {
    values.colour = shading->patchColour;
  }
  const MaterialNode* nodes =
      settings_.decals && !shading->hasPatchColour ? PatternRoot(material) : nullptr;
  const bool haveMaps = shading->maps && !shading->maps->empty();
  Vector3 object;
  if (haveMaps || nodes) {
    object = shading->worldToObject.ApplyToPoint(hit.point);
  }
  if (nodes) {
    // The material as it is at this point: pattern nodes take the object
    // point offset by the object's translation and turned with it, or
    // untransformed when the root says so.
    const Vector3 point =
        (nodes->flags & 1) ? object : shading->objectTransform.TranslateThenApply(object);
    values = NodeAttributes(*nodes, point, footprint);
  }
  const int frame = static_cast<int>(settings_.frame);
  auto makeHole = [&surface] {
    surface.hole = true;
    surface.values.transparency = {-1.0f, -1.0f, -1.0f};
    return surface;
  };
  if (haveMaps) {
    const ColourBgr materialColour = values.colour;
    bool colourHit = false;
    if (!ApplyProjectedMaps(*shading->maps, object, frame, footprint, materialColour, values.colour,
                            colourHit, surface.diffuse, values, normal)) {
      return makeHole();
    }
  }
  if (settings_.decals) {
    for (const auto& [decal, mapped] : shading->patchDecals) {
      if (!decal || !mapped) {
        continue;
      }
      const std::array<float, 2> at = DecalPosition(*mapped, hit.u, hit.v);
      const MapSample sample = SampleDecal(*decal, at[0], at[1], frame);
      if (sample.alpha >= 0.5f) {
        values.colour = sample.colour;
      } else if (decal->kind == map_kind::kCookieCut) {
        return makeHole();
      }
    }
  }
  return surface;
}

AttributeRecord Raytracer::SurfaceAt(const HitRecord& hit, float footprint) const {
  return SurfaceDetail(hit, footprint).values;
}

float Raytracer::ShadowRay(const Vector3& point, const Vector3& towardsLight, float distance,
                           const RayObject* from, ColourBgr& filter, RayPath& path) const {
  filter = {1.0f, 1.0f, 1.0f};
  ++path.counts.shadow;
  if (objects_.AllOpaque()) {
    // Nothing can tint the light: the first occluder found decides.
    if (tree_.AnyHit(point, towardsLight, distance, from)) {
      filter = {0.0f, 0.0f, 0.0f};
      return 0.0f;
    }
    return 1.0f;
  }
  Vector3 origin = point;
  float remaining = distance;
  const float footprintScale = settings_.focal > 0.0f ? 1.0f / settings_.focal : 1.0f;
  float travelled = 0.0f;
  for (int layer = 0; layer <= kMaxShadowLayers; ++layer) {
    HitRecord hit;
    if (!tree_.NearestHit(origin, towardsLight, hit, remaining, from) || !hit.object ||
        !(hit.t < remaining)) {
      return 1.0f;  // nothing between the point and the light
    }
    if (layer == kMaxShadowLayers) {
      break;  // too many layers to follow: the light is taken as blocked
    }
    travelled += hit.t;
    const AttributeRecord occluder = SurfaceAt(hit, travelled * footprintScale);
    float open = 0.0f;
    for (int c = 0; c < 3; ++c) {
      const float t = Clamp01(std::fabs(occluder.transparency[c]));
      filter[c] *= t;
      open = std::max(open, filter[c]);
    }
    if (!(open > kNegligible)) {
      break;  // an opaque occluder, or a filter that lets nothing through
    }
    origin = hit.point;
    remaining -= hit.t;
    from = hit.object;
  }
  filter = {0.0f, 0.0f, 0.0f};
  return 0.0f;
}

void Raytracer::ShadeHit(int depth, float weight, const Vector3& direction, const HitRecord& hit,
                         float index, float distanceSoFar, RaySample& out, RayPath& path) const {
  const float focal = settings_.focal > 0.0f ? settings_.focal : 1.0f;
  Vector3 n = hit.normal;
  const RaySurface surface = SurfaceDetail(hit, hit.t / focal, &n);
  const AttributeRecord& s = surface.values;
  const Vector3& p = hit.point;
  const float total = distanceSoFar + hit.t;

  // The normal faces the incoming ray. A surface without a usable normal
  // is taken to face the ray straight on.
  if (!Finite(n) || Normalize(n) == 0.0f) {
    n = -direction;
  }
  float c = Dot(n, direction);
  if (c > 0.0f) {
    n = -n;
  }
  c = std::fabs(c);
  Vector3 mirror = direction + 2.0f * c * n;
  const bool mirrorUsable = Normalize(mirror) > 0.0f && Finite(mirror);

  ColourBgr colour, unshadowed;
  for (int k = 0; k < 3; ++k) {
    colour[k] = s.colour[k] * (s.ambiance[k] + (1.0f - s.ambiance[k]) * settings_.ambient);
  }
  unshadowed = colour;

  // A negative transparency is a surface that lets light through without
  // bending it.
  ColourBgr transparency = s.transparency;
  const bool straight = transparency[0] < 0.0f || transparency[1] < 0.0f || transparency[2] < 0.0f;
  for (float& t : transparency) {
    t = Clamp01(straight ? -t : t);
  }
  const bool clear = transparency[0] >= 1.0f && transparency[1] >= 1.0f && transparency[2] >= 1.0f;
  const bool shadows = (settings_.sceneFlags & raytrace_scene_flags::kShadows) != 0;
  const bool receives = hit.object && (hit.object->flags & ray_object_flags::kNoShadows) == 0;

  if (!path.inside && !clear) {
    const float exponent = (1.0f - s.specularity) * (1.0f - s.specularity) * 500.0f + 8.0f;
    const bool highlight = s.specularity > kNegligible && exponent < kBroadestHighlight;
    for (const RaytraceLight& light : settings_.lights) {
      if (light.type < 0 || light.type > 7) {
        continue;
      }
      const int kind = light.type & 3;
      const bool castsShadows = light.type < 4;
      Vector3 l;
      float d = kNoHit;
      float scale = 1.0f;  // attenuation and spot fall-off
      if (kind == raytrace_light::kDistant) {
        l = light.direction;
        if (!Finite(l) || Normalize(l) == 0.0f) {
          continue;
        }
      } else {
        l = light.position - p;
        d = Length(l);
        if (!(d > 0.0f) || !std::isfinite(d)) {
          continue;  // a light at the hit point has no direction to light from
        }
        l /= d;
        if (kind == raytrace_light::kTube || kind == raytrace_light::kSpot) {
          Vector3 axis = light.direction;
          if (!Finite(axis) || Normalize(axis) == 0.0f) {
            continue;
          }
          const Vector3 v = p - light.position;
          const float a = Dot(v, axis);
          const float q = Length(v - a * axis);
          if (kind == raytrace_light::kTube) {
            if (!(q <= light.radius)) {
              continue;
            }
          } else {
            if (!(a > 0.0f)) {
              continue;  // behind the spot
            }
            const float cone =
                light.coneLength > 0.0f
                    ? (kSpotFarRadius - light.radius) * a / light.coneLength + light.radius
                    : kSpotFarRadius;
            if (!(q < cone)) {
              continue;
            }
            const float x = q / cone;
            scale = 1.0f - x * x;
          }
        }
        scale *= std::min(1.0f, light.rangeSquared / (d * d));
      }
      const float nl = Dot(n, l);
      if (!(nl > 0.0f)) {
        continue;
      }
      float visibility = 1.0f;
      ColourBgr filter{1.0f, 1.0f, 1.0f};
      const bool shadowed = shadows && castsShadows;
      if (shadowed && receives) {
        visibility = ShadowRay(p, l, d, hit.object, filter, path);
      }
      ColourBgr sum;
      for (int k = 0; k < 3; ++k) {
        sum[k] = s.colour[k] * surface.diffuse * nl * scale * light.colour[k];
      }
      // The highlight is worked out whether or not the light is blocked, so
      // that the unshadowed colour carries it; blocking removes it below.
      if (highlight && mirrorUsable) {
        const float h = Dot(mirror, l);
        if (h > kNegligible) {
          float k = std::pow(h, exponent);
          if (kind != raytrace_light::kDistant) {
            k *= scale;
          }
          if (k > kNegligible) {
            for (int j = 0; j < 3; ++j) {
              sum[j] += light.colour[j] * k * s.specularColour[j];
            }
          }
        }
      }
      for (int k = 0; k < 3; ++k) {
        unshadowed[k] += sum[k];
        colour[k] += shadowed ? sum[k] * filter[k] * visibility : sum[k];
      }
    }
  }

  const bool reflections = (settings_.sceneFlags & raytrace_scene_flags::kReflections) != 0;
  if (reflections && !clear && depth < kMaxRayDepth - 1 && mirrorUsable) {
    const float w = weight * Largest(s.reflectivity);
    if (w > kNegligible) {
      RaySample reflected;
      ++path.counts.reflected;
      TraceRay(depth + 1, w, p, mirror, index, total, reflected, path);
      for (int k = 0; k < 3; ++k) {
        colour[k] += reflected.colour[k] * s.reflectivity[k];
        unshadowed[k] += reflected.unshadowed[k] * s.reflectivity[k];
      }
    }
  }

  float transmission = 0.0f;  // opaque
  bool transmitted = false;
  RaySample through;
  if (Largest(transparency) > kNegligible) {
    transmission = transparency[2];  // the red channel
    if (depth < kMaxRayDepth - 1) {
      Vector3 next = direction;
      float nextIndex = 1.0f;
      bool crosses = false;
      if (!straight) {
        const float body = s.refraction > 0.0f ? s.refraction : 1.0f;
        float ratio = index / body;
        if (path.inside) {
          ratio = depth > kReciprocalIndexDepth ? 1.0f / body : body;
        }
        if (!(ratio > 0.0f) || !std::isfinite(ratio)) {
          ratio = 1.0f;
        }
        const float k = 1.0f - ratio * ratio * (1.0f - c * c);
        if (k < 0.0f) {
          // Total internal reflection: the ray stays on its side.
          next = mirrorUsable ? mirror : direction;
          nextIndex = index;
        } else {
          next = ratio * direction + (ratio * c - std::sqrt(k)) * n;
          if (!Finite(next) || Normalize(next) == 0.0f) {
            next = direction;
          }
          crosses = true;
          nextIndex = path.inside ? 1.0f : body;
        }
      }
      const bool wasInside = path.inside;
      if (crosses) {
        path.inside = !path.inside;
      }
      ++path.counts.refracted;
      TraceRay(depth + 1, weight * Largest(transparency), p, next, nextIndex, total, through, path);
      path.inside = wasInside;
      transmission *= through.transmission;
      if (crosses && wasInside) {
        // Coming out of a body: what it lets through is tinted once.
        for (int k = 0; k < 3; ++k) {
          const float t = transparency[k] > kNegligible ? transparency[k] : 0.0f;
          through.colour[k] *= t;
          through.unshadowed[k] *= t;
        }
      }
      transmitted = true;
    }
  }

  if (!path.inside && settings_.fogDistance > 0.0f) {
    const float f = total / settings_.fogDistance;
    if (f > 1.0f) {
      out.colour = settings_.background;
      out.unshadowed = settings_.background;
      out.transmission = transmission;
      return;
    }
    const float g = ((1.0f - std::exp(-kFogSteepness * f)) + f) / 2.0f;
    for (int k = 0; k < 3; ++k) {
      colour[k] = colour[k] * (1.0f - g) + settings_.background[k] * g;
      unshadowed[k] = unshadowed[k] * (1.0f - g) + settings_.background[k] * g;
    }
  }

  if (transmitted) {
    for (int k = 0; k < 3; ++k) {
      if (straight) {
        colour[k] = through.colour[k] * transparency[k] + (1.0f - transparency[k]) * colour[k];
        unshadowed[k] =
            through.unshadowed[k] * transparency[k] + (1.0f - transparency[k]) * unshadowed[k];
      } else {
        colour[k] += through.colour[k];
        unshadowed[k] += through.unshadowed[k];
      }
    }
  }
  for (int k = 0; k < 3; ++k) {
    out.colour[k] = Sane(colour[k]);
    out.unshadowed[k] = Sane(unshadowed[k]);
  }
  out.transmission = Clamp01(transmission);
}

}  // namespace zentrope
