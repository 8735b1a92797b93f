// Muscle motion: per-point displacement and bias over time for one node in
// one action. Records are kept sorted by point number: type 3 for a free
// point (motion and bias), type 2 for a point attached to another of its
// stack (bias only; it follows the point it is attached to).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "anim/channel_set.h"
#include "model/segment.h"
#include "shell/atomic_file.h"
#include "shell/result.h"

namespace zentrope {

inline constexpr std::uint8_t kMuscleBiasKind = 6;
inline constexpr std::uint8_t kMuscleMotionKind = 7;
// "Alpha In", "Gamma In", "Magnitude In", "Alpha Out", "Gamma Out", "Magnitude Out".
inline constexpr std::array<float, 6> kMuscleBiasDefaults = {0, 0, 100, 0, 0, 100};
// "X Translate", "Y Translate", "Z Translate".
inline constexpr std::array<float, 3> kMuscleMotionDefaults = {0, 0, 0};
inline constexpr std::uint8_t kMuscleFree = 3;
inline constexpr std::uint8_t kMuscleAttached = 2;
inline constexpr int kMuscleVersion = 2;

struct MuscleRecord {
  std::uint8_t type = kMuscleFree;
  std::int32_t pointNumber = 0;
  std::unique_ptr<ChannelSet> bias;
  std::unique_ptr<ChannelSet> motion;  // free points only
};

using MuscleRecords = std::vector<MuscleRecord>;

// Keys a point's channel (0–2 motion, 3–8 bias In then Out) at frame, with
// frame 1 keyed to the rest value first when needed; the record is made on
// demand (type 2 when the point is attached to another).
bool SetMuscleKey(MuscleRecords& records, const ControlPoint& point, int channel, float frame,
                  float value);

// Keys every edited point at frame: its displacement from rest and its bias
// values (Alpha and Gamma as offsets, Magnitude as a percentage of the rest
// Magnitude), each where it differs from what the channels show at that
// frame, so that a point or bias put back to rest is keyed back to rest.
// Then the edit buffer (the spline set holding the edited points) has its
// tangents recomputed.
struct MuscleEdit {
  const ControlPoint* rest;
  const ControlPoint* edited;
};
bool RecordMuscleKeys(MuscleRecords& records, const std::vector<MuscleEdit>& edits, float frame,
                      SplineSet& editBuffer);

// Deforms the working copy from its rest points: bias offsets (a smooth
// point's Out bias copies its In bias), motion carried down the attach
// stack. The caller recomputes tangents after all deformations.
void ApplyMuscle(const MuscleRecords& records, const SplineSet& rest, SplineSet& working,
                 float frame);

void ShiftMuscleFrames(MuscleRecords& records, std::int16_t frame, std::int16_t delta);

// The .mus file of a segment for an action: segment folder / "muscle" /
// action name with ".mus".
std::string MusclePath(const std::string& segmentPath, const std::string& actionPath);
struct MuscleFile {
  std::int16_t length = 0;
  float size = 1.0f;
  MuscleRecords records;
};
Result<MuscleFile> ReadMuscle(const std::string& path);
SaveStatus WriteMuscle(const MuscleRecords& records, std::int16_t length, float segmentSize,
                       const std::string& path, std::string* detail = nullptr,
                       SaveTransaction* save = nullptr);

// The .muf snapshot of every record at a frame, and keying one back.
SaveStatus WriteMuscleFrame(const MuscleRecords& records, float frame, const std::string& path,
                            std::string* detail = nullptr);
bool ReadMuscleFrame(MuscleRecords& records, const SplineSet& rest, float frame,
                     const std::string& path);

// The segment's size: its bounding-box diagonal, at least 1.
float SegmentSize(const Segment& segment);

}  // namespace zentrope
