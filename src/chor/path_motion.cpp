// Positions along paths.
#include "chor/path_motion.h"

#include <array>
#include <cmath>
#include <numbers>

#include "core/rotation.h"
#include "core/spline.h"

namespace zentrope {

namespace {

constexpr double kDegrees = 180.0 / std::numbers::pi;

bool EndsPath(const ControlPoint* p) {
  return !p->next || p->ClosesLoop();
}

// The segment from a to a.next at parameter t of its Hermite form, which
// runs from a.next (t = 0) to a (t = 1).
PointAndDerivative OnSegment(const ControlPoint& a, float t) {
  const ControlPoint& b = *a.next;
  return HermitePointAndDerivative(b.position, a.position, b.outTangent, a.inTangent, t);
}

}  // namespace

PathMeasure MeasurePath(const Path& path) {
  PathMeasure m;
  for (const ControlPoint* a = path.first; a && !EndsPath(a); a = a->next) {
    m.segments.push_back(SegmentLength(*a));
    m.total += m.segments.back();
  }
  return m;
}

float PathLength(const Path& path) {
  return MeasurePath(path).total;
}

PathPosition PointAtDistance(const Path& path, float s) {
  return PointAtDistance(path, MeasurePath(path), s);
}

PathPosition PointAtDistance(const Path& path, const PathMeasure& measure, float s) {
  PathPosition out;
  out.distance = s;
  const ControlPoint* a = path.first;
  if (!a) {
    return out;
  }
  float before = 0.0f;
  for (std::size_t i = 0; !EndsPath(a); a = a->next, ++i) {
    const float length = measure.segments[i];
    if (before + length > s) {
      const float r = s - before;
      std::array<float, kLengthSteps> chords;
      SegmentChords(*a, chords);
      // Chords are stepped from the segment's end; walk them from its start.
      float sum = 0.0f;
      for (int k = 0; k < kLengthSteps; ++k) {
        const float c = chords[static_cast<std::size_t>(kLengthSteps - 1 - k)];
        if (sum + c >= r) {
          const float within = c > 0.0f ? (r - sum) / c : 0.0f;
          const float t = 1.0f - (static_cast<float>(k) + within) / kLengthSteps;
          const PointAndDerivative pd = OnSegment(*a, t);
          out.position = pd.point;
          out.direction = pd.derivative;
          return out;
        }
        sum += c;
      }
      const PointAndDerivative pd = OnSegment(*a, 0.0f);
      out.position = a->next->position;
      out.direction = pd.derivative;
      return out;
    }
    before += length;
  }
  out.position = a->position;
  out.direction = a->outTangent;
  return out;
}

float ease_fraction(const ChannelSet* set, float frame, std::int16_t length) {
  if (set && set->Count() > 0 && set->channels[kEase].keys) {
    return EvaluateChannel(*set, kEase, frame) * 0.01f;
  }
  if (length <= 1) {
    // A one-frame scene: everything stands at its path's start.
    return frame > 1.0f ? 1.0f : 0.0f;
  }
  const float u = (frame - 1.0f) / static_cast<float>(length - 1);
  return u > 1.0f ? 1.0f : u;
}

PathPosition position_on_path(const Choreography& chor, const ChannelSet* set, float frame) {
  PathPosition out;
  if (!set) {
    return out;
  }
  const Path* path = chor.PathOf(set);
  if (!path || !path->first) {
    return out;
  }
  if (!path->first->next) {
    out.position = path->first->position;
    return out;
  }
  const float u = ease_fraction(set, frame, chor.scene.length);
  const PathMeasure measure = MeasurePath(*path);
  return PointAtDistance(*path, measure, u * measure.total);
}

float PathPercentAtPoint(const Path& path, std::int32_t number) {
  const float total = PathLength(path);
  if (total <= 0.0f) {
    return -1.0f;
  }
  float before = 0.0f;
  for (const ControlPoint* a = path.first; a; a = a->next) {
    if (a->number == number) {
      return before / total * 100.0f;
    }
    if (EndsPath(a)) {
      break;
    }
    before += SegmentLength(*a);
  }
  return -1.0f;
}

Matrix3 FacingRotation(const Vector3& back) {
  if (back == Vector3{}) {
    return Matrix3::Identity();
  }
  const double x = back.x, y = back.y, z = back.z;
  const auto heading = static_cast<float>(std::atan2(-x, z) * kDegrees);
  const auto pitch = static_cast<float>(std::atan2(y, std::sqrt(x * x + z * z)) * kDegrees);
  return BuildRollRotation(Vector3{}, Vector3{pitch, heading, heading}).Linear();
}

}  // namespace zentrope
