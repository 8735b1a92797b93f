// Choreography: the scene that gets rendered. Named paths through space, a
// camera and its target, lights with optional targets, and a tree of placed
// figures, each riding a path while playing tracks of actions. Everything
// that moves is a channel set bound to a path by the path's name.
//
// Ownership: the choreography owns its paths (each with the arena of its
// points), its channel sets and its figure tree (children held by value in
// their parent). A figure instance also owns what frame evaluation keeps for
// it: the loaded figure, its actions and the current placements.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "anim/action.h"
#include "anim/channel_kinds.h"
#include "anim/channel_set.h"
#include "core/transform.h"
#include "figure/figure.h"
#include "model/edit_outcome.h"
#include "model/point_arena.h"

namespace zentrope {

// Channel set kinds, their channel counts and default tables are in
// anim/channel_kinds.h.

// The dynamics motion: translation (0–2) and orientation quaternion (3–6,
// scalar last) of a simulated body.
inline constexpr std::array<float, kPlacementChannels> kDynamicsDefaults = {0, 0, 0, 0, 0, 0, 1, 0};

// Channel indices.
inline constexpr int kEase = 0;
namespace camera_channel {
inline constexpr int kFocalLength = 1, kDepthOfField = 2, kRoll = 3, kPan = 4, kTilt = 5,
                     kRedBackground = 6, kGreenBackground = 7, kBlueBackground = 8,
                     kFogDistance = 9, kGlobalAmbiance = 10, kStereoSpacing = 11;
}
namespace light_channel {
inline constexpr int kRed = 1, kGreen = 2, kBlue = 3, kAllColors = 4, kWidth = 5, kDistance = 6,
                     kType = 7, kFocalLength = 8;
}
namespace placement_channel {
inline constexpr int kXScale = 1, kYScale = 2, kZScale = 3, kAllScale = 4, kRoll = 5, kTilt = 6,
                     kSwivel = 7;
}

inline constexpr const char* kCameraSetName = "CAMERA";
inline constexpr const char* kCameraTargetName = "TARGET";
inline constexpr const char* kLightSetName = "LIGHT";
inline constexpr const char* kLightTargetName = "LIGHTTARGET";
inline constexpr const char* kFigureTargetName = "CHARACTER TARGET";
inline constexpr const char* kTweenName = " -TWEEN-";

// Scene flag bits (stereo eyes) and direction-window display switches.
inline constexpr std::uint32_t kSceneRightEye = 0x200;
inline constexpr std::uint32_t kSceneLeftEye = 0x400;
inline constexpr std::uint32_t kDirectionTransient = 0x100;  // never stored

struct SceneSettings {
  std::string fileName = "untitled";
  std::string backgroundName;  // the camera-view rotoscope's picture
  std::string outputName;      // its extension selects the render format
  float renderFrom = 1.0f;
  float renderTo = 30.0f;
  float renderStep = 1.0f;
  std::int16_t length = 30;
  std::int16_t outputPreset = 2;
  std::int16_t outputWidth = 320;
  std::int16_t outputHeight = 240;
  float outputAspect = 1.0f;
  std::uint32_t flags = 0;
  std::uint32_t directionFlags = 0;
};

// A named spline in world space. Point numbers 1, 2, ... identify the points
// for the path timing lists of older files.
struct Path {
  std::string name;
  PointArena arena;
  ControlPoint* first = nullptr;
};

// Older files time a thing along its path by (point, frame) pairs.
struct PathTiming {
  std::int32_t point = 0;
  float frame = 0.0f;
};
using PathTimingList = std::vector<PathTiming>;

struct Light {
  std::unique_ptr<ChannelSet> set;     // "LIGHT"
  std::unique_ptr<ChannelSet> target;  // "LIGHTTARGET" or none
  std::array<PathTimingList, 2> timing;
};

struct ActionPlacement {
  std::string actionFile;  // the .act file, or " -TWEEN-"
  std::int16_t wait = 0;
  std::int16_t start = 1;
  std::int16_t end = 1;
  std::int16_t length = 1;
  std::int16_t hold = 0;
  std::int16_t actionLength = 0;  // read from the action file
  float strideLength = 0.0f;      // read from the action file
  bool overlap = false;
  bool useStride = false;
  bool tween = false;
  bool inUse = false;  // marked while current in its track

  int Span() const { return int{wait} + int{length} + int{hold}; }
};

struct Track {
  std::vector<ActionPlacement> placements;
  int current = -1;  // remembered between frames; -1 before the first
};

struct Dynamics {
  float inverseMass = 0.0f;  // 0: infinite mass
  float bounce = 0.0f;       // restitution, 0..1
  std::vector<std::pair<float, float>> ranges;
  std::unique_ptr<ChannelSet> motion;  // the simulated motion, or none

  // The simulated motion drives the placement at this frame.
  bool Covers(float frame) const;
};

// Figure instance flags: the kind's hidden bit and the state bits.
inline constexpr std::uint8_t kInstanceHidden = 0x80;
inline constexpr std::uint8_t kNeedsLoading = 0x10;
inline constexpr std::uint8_t kPoseOutOfDate = 0x20;

enum Role : std::uint8_t {
  kAlongPath = 1,
  kPositionOnly = 2,
  kBentAlongPath = 3,
  kFacingTarget = 4,
};

// Which loaded action (and the placement of which track) drives a node.
struct NodeDriver {
  Action* action = nullptr;
  int track = -1;
};

// What frame evaluation keeps for a figure instance between frames.
struct FigureRuntime {
  std::unique_ptr<Figure> figure;  // loaded on first use
  std::map<std::string, std::shared_ptr<Action>> actions;
  std::vector<NodeDriver> drivers;  // per node
  std::vector<float> actionFrames;  // per track
  float track0Local = 0.0f;
  Transform placement;
  Vector3 scale{1, 1, 1};
  // What could not be read while loading, one line each ("file: why"): a
  // segment of the figure, an action a placement plays. Evaluation goes on
  // without them; callers report them.
  std::vector<std::string> problems;
};

struct FigureInstance {
  std::string fileName;
  std::unique_ptr<ChannelSet> placement;  // its next may be the figure target
  std::uint8_t kind = 0;                  // draw mode (low bits) and hidden bit
  std::uint8_t role = kAlongPath;
  std::uint8_t state = kNeedsLoading;
  std::vector<Track> tracks;
  std::unique_ptr<Dynamics> dynamics;
  std::array<PathTimingList, 2> timing;
  std::vector<FigureInstance> children;
  FigureRuntime runtime;

  bool Hidden() const { return (kind & kInstanceHidden) != 0; }
  ChannelSet* Target() const { return placement ? placement->next.get() : nullptr; }
};

struct Rotoscope {
  bool present = false;
  std::string file;
  std::int32_t a = 0, b = 0;
  float c = 0.0f;
  std::array<std::int32_t, 5> placement{};
  std::int16_t display = 0;
};

inline constexpr int kRotoscopeCount = 7;
inline constexpr int kCameraRotoscope = 6;

class Choreography {
 public:
  SceneSettings scene;
  std::vector<Path> paths;
  std::unique_ptr<ChannelSet> camera;
  std::unique_ptr<ChannelSet> cameraTarget;
  std::array<PathTimingList, 2> cameraTiming;  // camera, camera target
  std::vector<Light> lights;
  std::vector<FigureInstance> figures;
  std::array<Rotoscope, kRotoscopeCount> rotoscopes;
  int fileVersion = 9;  // the version of the file it was read from
  bool dynamicsUpToDate = false;

  const Path* FindPath(const std::string& name) const;
  // The path a channel set is bound to, or null.
  const Path* PathOf(const ChannelSet* set) const;
  // All figure instances, depth first (a figure, its children, then its next
  // sibling).
  std::vector<FigureInstance*> AllFigures();
  std::vector<const FigureInstance*> AllFigures() const;
  // Calls f for every set that can ride a path: the camera, its target,
  // the lights and their targets, and every figure's placement chain.
  void ForEachRidingSet(const std::function<void(ChannelSet&)>& f);
};

// Fresh channel sets of each kind, with their defaults; null when memory
// runs out.
std::unique_ptr<ChannelSet> CreateCameraSet();
std::unique_ptr<ChannelSet> CreateTargetSet(const char* name);
std::unique_ptr<ChannelSet> CreateLightSet();
std::unique_ptr<ChannelSet> CreatePlacementSet(const std::string& figureFile);
std::unique_ptr<ChannelSet> CreateDynamicsSet(const std::string& figureFile);

// The default new choreography: length DIRECTION "DefaultFrames", frames 1
// to length rendered, the camera, its target and one light.
Choreography NewChoreography();

// "path0", "path1", ...: the first name no path has.
std::string NewPathName(const Choreography& chor);
// Adds an empty path under a fresh name; returns it.
Path& AddPath(Choreography& chor);
// Names a path; a name another path holds gets "0" appended until unique,
// and the outcome carries "Duplicate Path Name".
EditOutcome RenamePath(Choreography& chor, std::size_t index, std::string name);
// Deletes a path nothing travels on; "This Path Is Occupied" otherwise.
EditOutcome DeletePath(Choreography& chor, std::size_t index);

// Adds a figure at the end of the top level riding the first path;
// "First Add A Path" when there is none.
EditOutcome AddFigure(Choreography& chor, const std::string& figureFile);
// Appends a placement of an action to a track (created when missing); the
// action file gives its length and stride. A file that does not exist yet
// is created empty; one that cannot be read is "File Ineligible".
EditOutcome AddAction(FigureInstance& figure, std::size_t track, const std::string& actionFile);
// Inserts a tween (length 1) in front of a placement.
void InsertTween(FigureInstance& figure, std::size_t track, std::size_t before);

}  // namespace zentrope
