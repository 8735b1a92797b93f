// Spines: one spline of a segment made a chain of bones. Every control point
// of that spline is a spine point with its own channel set (translate, scale
// in percent, rotate in degrees); each carries the points after it, and
// every control point of the segment follows the spine point nearest to it
// at rest.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "anim/channel_set.h"
#include "core/transform.h"
#include "model/edit_outcome.h"
#include "model/segment.h"
#include "shell/atomic_file.h"
#include "shell/result.h"

namespace zentrope {

inline constexpr std::uint8_t kSpineKind = 14;
inline constexpr std::array<float, 9> kSpineDefaults = {0, 0, 0, 100, 100, 100, 0, 0, 0};
inline constexpr int kSpineVersion = 1;

struct SpinePoint {
  std::unique_ptr<ChannelSet> channels;  // null until keyed
  Vector3 rest;                          // the spine control point, segment coordinates
  Vector3 scale{1, 1, 1};                // accumulated at the last evaluation
  Transform transform;                   // accumulated at the last evaluation
};

struct Spine {
  std::int32_t firstNumber = 0;  // identifies the spline
  std::vector<SpinePoint> points;
  // Control point number → spine point index.
  std::unordered_map<std::int32_t, int> binding;
};

// Builds the spine from the spline holding point (its points in spline
// order) and binds every control point of rest to the nearest spine point
// (squared distance; the earlier of equal ones).
Spine AssignSpine(const SplineSet& rest, const ControlPoint& point);
void BindSpine(Spine& spine, const SplineSet& rest);

// Evaluates every spine point at frame and returns the last transform.
Transform EvaluateSpine(Spine& spine, float frame);
// Evaluates the spine and moves every bound point of the working copy with
// its spine point: positions and both tangents.
void ApplySpine(Spine& spine, SplineSet& working, float frame);
// The spine point whose rest position is nearest (the first of equal ones).
int NearestSpinePoint(const Spine& spine, const Vector3& position);

// Keys a spine point's channel, frame 1 taking the rest value first.
bool SetSpineKey(Spine& spine, int point, int channel, float frame, float value);
// The spine commands' checks: "No Spine Selected." without a spine, "No
// Spine Point Selected!" without a valid point.
EditOutcome CheckSpinePoint(const Spine* spine, int point);
void ShiftSpineFrames(Spine& spine, std::int16_t frame, std::int16_t delta);

// segment folder / "spine" / action name with ".spi".
std::string SpinePath(const std::string& segmentPath, const std::string& actionPath);
// Reads a spine file against the segment's rest splines; fails when the
// spline it names no longer exists.
Result<Spine> ReadSpine(const std::string& path, const SplineSet& rest);
SaveStatus WriteSpine(const Spine& spine, std::int16_t length, float segmentSize,
                      const std::string& path, std::string* detail = nullptr,
                      SaveTransaction* save = nullptr);
// The spine frame (.spf): header, the segment's size, then per spine point
// "0" (no channel set) or its nine channel values at frame.
SaveStatus WriteSpineFrame(const Spine& spine, float frame, float segmentSize,
                           const std::string& path, std::string* detail = nullptr);
// Keys every spine point with a line of values at frame. Also reads the
// earlier build's files, which had a reserved "0" line before the size.
// False, with the spine unchanged, for a file that is not a frame of this
// spine (another number of points, a malformed line).
bool ReadSpineFrame(Spine& spine, float frame, const std::string& path);

}  // namespace zentrope
