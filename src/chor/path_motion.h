// Things riding paths: where a channel set stands on its path at a frame
// (position, direction and distance along it), the fraction of the path
// travelled, and the rotation that turns a figure to face along a
// direction.
#pragma once

#include <cstdint>
#include <vector>

#include "chor/choreography.h"
#include "core/matrix3.h"
#include "core/vector3.h"

namespace zentrope {

struct PathPosition {
  Vector3 position;
  Vector3 direction{0, 0, -1};  // points back along the path, towards its start
  float distance = 0.0f;        // arc length from the path's start
};

// The path's length: the 30-chord arc lengths of its segments from the
// first point up to the point that ends it (the loop-closing point of a
// closed path, else the last point).
float PathLength(const Path& path);

// The arc length of each segment up to the end and their sum, measured once
// for callers that look up many distances on one path.
struct PathMeasure {
  std::vector<float> segments;
  float total = 0.0f;
};
PathMeasure MeasurePath(const Path& path);

// The point at arc length s (step through the segments, then through the
// chords of the segment that holds s). Beyond the end: the end point and
// its outTangent.
PathPosition PointAtDistance(const Path& path, float s);
PathPosition PointAtDistance(const Path& path, const PathMeasure& measure, float s);

// The fraction of its path a set has travelled at frame: its Ease channel
// in percent when keyed, else evenly from frame 1 to the last frame.
float ease_fraction(const ChannelSet* set, float frame, std::int16_t length);

// Where a set stands at frame. Without a set: distance 0 at the origin;
// unbound or on a one-point path: (0, 0, 0) or that point, facing −z.
PathPosition position_on_path(const Choreography& chor, const ChannelSet* set, float frame);

// The Ease value (percent) at the path point with that number; −1 when the
// path has no such point or no length.
float PathPercentAtPoint(const Path& path, std::int32_t number);

// The rotation, built from heading and pitch without roll, that turns an
// object's +z axis onto back (its front, −z, then faces away from back).
// A zero vector gives the identity.
Matrix3 FacingRotation(const Vector3& back);

}  // namespace zentrope
