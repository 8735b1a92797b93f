// Segment: one modelled object, the document the sculpture window edits and
// figures place. It holds its splines (shared by path with other users of the
// same file, see SegmentRegistry), a working copy that patch finding and
// drawing use, the pivot and bounding box, the groups, and one modified flag
// per file it owns.
//
// Ownership: the SplineSet owns the control points (stable addresses, links
// are non-owning); the segment shares its SplineSet with the registry through
// a shared_ptr, and owns its working copy and groups outright.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/edit_outcome.h"
#include "model/group.h"
#include "model/patch.h"
#include "model/patch_colours.h"
#include "model/segment_registry.h"
#include "model/spline_set.h"
#include "model/surface_map.h"
#include "shell/memory_pool.h"

namespace zentrope {

// Modified flags: which of the segment's files must be written.
inline constexpr std::uint16_t kSegmentGroupsChanged = 1;
inline constexpr std::uint16_t kSegmentSplinesChanged = 8;
inline constexpr std::uint16_t kSegmentDecalsChanged = 16;
inline constexpr std::uint16_t kSegmentColoursChanged = 32;
inline constexpr std::uint16_t kSegmentPatchesStale = 128;

// Asked before a destructive edit; returns true to go ahead.
using ConfirmFunction = std::function<bool(std::string_view question)>;

class Segment {
 public:
  Segment();

  std::string path;  // the .seg path; companions share its stem
  std::shared_ptr<SplineSet> splines;
  SplineSet working;
  Bounds bounds;
  Vector3 pivot;
  std::int32_t highestNumber = 0;
  std::vector<Group> groups;
  std::vector<ColourGroup> colours;
  std::vector<SurfaceMap> surfaceMaps;
  // Found on the working copy; valid until the patches-stale flag is set.
  // Held in the memory pool, under the memory limit.
  std::vector<Patch, PoolAllocator<Patch>> patches;
  std::uint16_t modified = 0;
  // The registry's count of this document's use of its path, released when
  // the segment is closed (destroyed) or saved under another name.
  SegmentRegistry::Use registryUse;

  SplineSet& Splines() { return *splines; }
  const SplineSet& Splines() const { return *splines; }

  void MarkModified(std::uint16_t bits) { modified |= bits; }
  void ClearModified(std::uint16_t bits) { modified &= static_cast<std::uint16_t>(~bits); }
  bool IsModified(std::uint16_t bits) const { return (modified & bits) != 0; }

  // Deep copy of the splines with the selection cleared.
  void RebuildWorkingCopy();
  // Puts the working copy back to the rest points (positions, bias,
  // tangents) before a frame deforms it; rebuilds it when the structure
  // differs.
  void ResetWorkingCopy();
  // Splines changed: recompute the bounding box, rebuild the working copy, and
  // mark the segment file changed and the patches stale.
  void SplinesEdited();
  // Renumbers points above the highest number (new points), in traversal order.
  void Renumber() { splines->Renumber(highestNumber); }

  const Group* FindGroup(std::string_view name) const;
};

// Deletes every selected point from the splines (and so from the rebuilt
// working copy); splines left with fewer than two points are removed and the
// highest number is recomputed. When the segment carries a skin the user is
// asked "Skin Will Be Removed!" first and may cancel.
EditOutcome DeleteSelected(Segment& segment, bool hasSkin, const ConfirmFunction& confirm);

// Splits the spline at current. Needs a previous and a next point, and a point
// two steps away on the side of the editor's direction (next.next when
// forward, prev.prev otherwise). Forward cuts between current and its next,
// otherwise between prev and current; an open spline becomes two, a closed one
// opens at the cut.
EditOutcome Break(Segment& segment, ControlPoint* current, bool forward);

// Group commands. Creating asks for a name (an argument here) and groups the
// selected points, with the centre of their bounding box as pivot.
EditOutcome CreateGroup(Segment& segment, std::string_view name);
EditOutcome RemoveGroup(Segment& segment, std::string_view name);
// Selects exactly the group's members (numbers no longer present are skipped).
EditOutcome SelectGroup(Segment& segment, std::string_view name);

}  // namespace zentrope
