// Figure: a character, a tree of segment nodes. Each node places one segment
// (or, as a ghost, only a transform) relative to its parent with a position,
// a scale, a rotation (Latitude, Longitude, Roll) and a centre-of-gravity
// rotation that defines the node's own axes. The root is the patriarch.
//
// Ownership: the figure owns its nodes in one vector; nodes refer to each
// other by index (parent, first child, next sibling), which stays valid while
// the figure lives because nodes are only ever appended. Channel sets, spines
// and skins that belong to other documents are referred to, not owned.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/transform.h"
#include "model/segment.h"

namespace zentrope {

inline constexpr int kNoNode = -1;

// Draw modes (low bits) and the hidden bit.
inline constexpr std::uint8_t kDrawVector = 1;
inline constexpr std::uint8_t kDrawBound = 2;
inline constexpr std::uint8_t kDrawCurved = 3;
inline constexpr std::uint8_t kDrawHidden = 128;

// Figure flags: the .fig file must be saved, and "changed" for the editors.
inline constexpr std::uint8_t kFigureSaveNeeded = 8;
inline constexpr std::uint8_t kFigureChanged = 16;
inline constexpr std::uint8_t kFigureAttributesChanged = 64;
inline constexpr std::uint8_t kFigureSkinChanged = 128;

// One material a segment wears: a material file (kind code 80 and up,
// except 90), or an inline attribute material of twelve values.
struct MaterialUse {
  int kind = 80;
  std::string path = "default";
  std::array<float, 12> values{};
  float textureScale = 1.0f;
  std::int16_t value = 0;
  // The file named where it could not be found: the segment wears its own
  // values ("default") and the renderers say which file was missing.
  std::string missing;
  bool Inline() const { return kind < 80 || kind == 90; }
  bool operator==(const MaterialUse&) const = default;
};

// A projection map placed on a segment, stored as the attribute file holds it.
struct ProjectionMap {
  int type = 0;
  std::array<std::int16_t, 2> values{};
  int secondType = 0;
  float amount = 0.0f;
  std::array<std::int16_t, 6> settings{};
  std::string imagePath;
  bool operator==(const ProjectionMap&) const = default;
};

struct SegmentAttributes {
  std::vector<MaterialUse> materials{MaterialUse{}};  // "default" until read
  bool hasSurfaces = false;
  std::vector<ProjectionMap> surfaces;
  std::uint8_t attributeByte = 0;
  bool operator==(const SegmentAttributes&) const = default;
};

// A skin pair joins a point of the parent's segment to a point of this
// node's segment, both by number.
struct SkinPair {
  std::int32_t parentNumber = 0;
  std::int32_t childNumber = 0;
  bool operator==(const SkinPair&) const = default;
};

inline constexpr const char* kGhostName = "ghost";

struct FigureNode {
  std::string name = kGhostName;  // segment path, or "ghost"
  std::uint8_t drawMode = kDrawBound;
  std::uint8_t extraByte = 0;
  int parent = kNoNode;
  int firstChild = kNoNode;
  int nextSibling = kNoNode;
  Vector3 boundsMin{-10, -10, -10};
  Vector3 boundsMax{10, 10, 10};
  float size = 1.0f;  // |max − min|, at least 1
  Transform cog;      // BuildRollRotation of the COG rotation, no translation
  Vector3 position;
  Vector3 scale{1, 1, 1};
  Vector3 rotation;     // Latitude, Longitude, Roll (a0, a1, a2), degrees
  Vector3 cogRotation;  // COG Latitude, Longitude, Roll
  // MinLongitude, MaxLongitude, MinLatitude, MaxLatitude.
  std::array<float, 4> limits{0.0f, 360.0f, 0.0f, 180.0f};
  const void* channelSet = nullptr;  // the node's skeletal channel set in the current action
  std::vector<SkinPair> skins;       // pairs joining this node to its parent
  SegmentAttributes attributes;
  // The posed spine of this node's segment (rest position and transform of
  // each spine point), which children of a spined node hang from; empty
  // without a spine.
  std::vector<std::pair<Vector3, Transform>> spineFrames;
  // The loaded segment (shared splines, own working copy); null for a ghost
  // or before the segments are loaded.
  std::shared_ptr<Segment> segment;

  // The posed result of the last PoseFigure.
  Transform frameTransform;     // the node's axes and pivot
  Transform geometryTransform;  // what the segment's points go through
  Vector3 posedScale{1, 1, 1};

  bool IsGhost() const { return name == kGhostName; }
  void RebuildCog();
};

class Figure {
 public:
  std::string path;
  std::uint8_t flags = 0;
  std::vector<FigureNode> nodes;  // nodes[0] is the patriarch when not empty

  int Patriarch() const { return nodes.empty() ? kNoNode : 0; }
  // Depth-first order: node, its children, then its next sibling.
  std::vector<int> DepthFirst() const;
  std::vector<int> Subtree(int node) const;
  int Find(const std::string& segmentPath) const;
  // For records stored per node by path (attributes, skins): the first node
  // in depth-first order that uses segmentPath and is not yet taken, marked
  // taken; kNoNode when none is left. So the k-th record naming a path goes
  // to the k-th node using it, when several nodes share one segment file.
  int TakeNext(const std::string& segmentPath, std::vector<bool>& taken) const;

  // Appends a child (last of the parent's children) with default placement;
  // with parent kNoNode the node becomes the patriarch (or its last sibling).
  int AddSegment(int parent, const std::string& segmentPath);
  int AddGhost(int parent) { return AddSegment(parent, kGhostName); }

  void MarkChanged() { flags |= kFigureSaveNeeded | kFigureChanged; }
  // Draw-mode commands: the mode of a node or its whole branch, keeping the
  // hidden bit; the visibility command toggles it.
  void SetDrawMode(int node, std::uint8_t mode, bool branch);
  void ToggleHidden(int node);
};

// Reads the bounds from a segment file's first three lines; false leaves
// the defaults.
bool ReadSegmentBounds(const std::string& segmentPath, Vector3& min, Vector3& max);

// Rotation limits: an angle changed by dragging is clamped to its limits.
void ClampToLimits(FigureNode& node);
// A typed Latitude or Longitude outside its limits widens them.
void SetLatitude(FigureNode& node, float latitude);
void SetLongitude(FigureNode& node, float longitude);

}  // namespace zentrope
