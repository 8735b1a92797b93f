// Action: a keyframed motion of a figure: one skeletal channel set per node
// (ten channels: translation, scale in percent, a direction vector and
// Roll), the stride marks and the reference size the action was made at.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "anim/channel_set.h"
#include "anim/muscle.h"
#include "anim/spine.h"
#include "figure/figure.h"
#include "figure/pose.h"

namespace zentrope {

inline constexpr std::uint8_t kSkeletalKind = 16;
inline constexpr std::uint8_t kSkeletalCount = 10;
// "X Translate" .. "Z Translate", "X Scale" .. "Z Scale" (percent),
// "X Orient" .. "Z Orient", "Roll".
inline constexpr std::array<float, 10> kSkeletalDefaults = {0, 0, 0, 100, 100, 100, 0, -100, 0, 0};
// Translation, scale (percent) and three angles: the older direct-angle
// layout, in which sets of a kind without a table of its own are posed.
inline constexpr std::array<float, 9> kDirectAngleDefaults = {0, 0, 0, 100, 100, 100, 0, 0, 0};
inline constexpr std::uint8_t kStrideCleared = 32;
// Direction keys are written at the length of the default direction.
inline constexpr float kOrientScale = 100.0f;

struct ActionEntry {
  std::string segmentPath;
  std::unique_ptr<ChannelSet> channels;  // null when the node has no keys
  std::string musclePath;                // "" for none
  std::string spinePath;
  MuscleRecords muscle;          // read from musclePath
  std::unique_ptr<Spine> spine;  // read from spinePath against the segment
};

class Action {
 public:
  std::string path;
  // The tag and version the file was read with ("MORP" and versions up to
  // 6 for the older files); an action is always written as "ACTI" 1.
  std::string fileTag = "ACTI";
  int fileVersion = 1;
  std::int16_t length = 30;
  std::array<float, 6> strideMarks{};
  float strideLength = 0.0f;
  std::array<std::int16_t, 2> strideValues{};
  float referenceSize = 0.0f;
  std::uint8_t flags = 0;
  std::vector<ActionEntry> entries;

  ActionEntry* Entry(const std::string& segmentPath);
  ChannelSet* ChannelsOf(const std::string& segmentPath);
  const ChannelSet* ChannelsOf(const std::string& segmentPath) const;
  // Points every node of the figure at its channel set (or at none).
  void Bind(Figure& figure) const;
};

// Direction from Latitude and Longitude (degrees) and back; Latitude 0
// points down −Y.
Vector3 OrientFromAngles(float latitude, float longitude);
void AnglesFromOrient(const Vector3& orient, float& latitude, float& longitude);

// The node's pose at a frame from its channel set (null: the rest pose).
// angles receives Latitude, Longitude and Roll as used.
NodePose EvaluatePose(const FigureNode& node, const ChannelSet* channels, float frame,
                      Vector3* angles = nullptr);

// The pose function that PoseFigure calls for an action at a frame,
// including the reference-size scaling of translations.
PoseFunction ActionPose(const Action& action, float frame);
// The figure's size relative to the size the action was made at: the
// patriarch's size times its Y scale over the action's reference size (1
// when the reference size is unknown).
float SizeFactor(const Figure& figure, const Action& action);

// Keys channel index of a node at frame, creating its channel set on demand;
// a later frame on a channel without a key at frame 1 first keys frame 1 with
// the rest value. False when memory runs out.
bool SetPoseKey(Action& action, Figure& figure, int node, int index, float frame, float value,
                float rest);
// Keys channels 6 to 8 with the direction of the angles.
bool SetOrientKeys(Action& action, Figure& figure, int node, float frame, float latitude,
                   float longitude);

// Deforms every loaded segment's working copy for the action at frame:
// back to rest, muscle motion, tangents, then spine bending (which also
// gives spined nodes the frames their children hang from). Posing then
// applies skins and the segment transforms.
void DeformFigure(Figure& figure, Action& action, float frame);
// The same with each node deformed by its own action entry and frame (a
// choreography's overload tracks drive different nodes); a null entry
// leaves the node at rest.
struct NodeLayer {
  ActionEntry* entry = nullptr;
  float frame = 1.0f;
};
void DeformFigure(Figure& figure, const std::function<NodeLayer(int node)>& layer);

// ShiftFrames on the channel set of the patriarch and every descendant.
void InsertFrames(Action& action, const Figure& figure, float frame, std::int16_t count);
void DeleteFrames(Action& action, const Figure& figure, float frame, std::int16_t count);

}  // namespace zentrope
