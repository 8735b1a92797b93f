// Skins: pairs of control points that join a child segment's splines to its
// parent's, so that posed tangents across the joint are those of one
// continuous spline; the figure's segments; and the skin file (.ski).
#pragma once

#include <string>

#include "figure/figure.h"
#include "model/edit_outcome.h"
#include "model/segment_registry.h"
#include "shell/atomic_file.h"
#include "shell/result.h"

namespace zentrope {

inline constexpr float kSkinDistance = 3.0f;
inline constexpr int kSkinVersion = 2;

// Opens every non-ghost node's segment (shared through the registry). False
// when one cannot be opened; the others stay loaded. Each segment that
// cannot be opened is added to problems when given ("name: message
// (detail)").
bool LoadFigureSegments(Figure& figure, SegmentRegistry& registry = SegmentRegistry::Process(),
                        std::vector<std::string>* problems = nullptr);

// Pairs every point of the parent's splines with the nearest point of the
// child's splines within 3 units at rest, where a spline end meets a spline
// start. "No Segment Selected", "Already Skinned", "Can't Find Skin".
EditOutcome FindSkin(Figure& figure, int node);
void RemoveSkin(Figure& figure, int node);

// After posing: the tangents of joined points (and their neighbours) are
// computed along the joint chain in figure space and copied back into the
// segments' working copies.
void ApplySkins(Figure& figure);

// stem.ski beside the figure file.
std::string SkinFilePath(const std::string& figurePath);
// Reads skins (version 1 by depth-first order, version 2 by path); failures
// are not reported: false and the figure keeps no skins from the file.
bool ReadSkinFile(Figure& figure, const std::string& path);
// The skin file's records as stored: the node paths (empty in version 1)
// and their pairs.
struct SkinRecord {
  std::string segmentPath;
  std::vector<SkinPair> pairs;
};
struct SkinFileContents {
  int version = 0;
  std::vector<SkinRecord> records;
};
// Version 1 records are read for nodeCount nodes.
Result<SkinFileContents> ParseSkinFile(std::string contents, const std::string& path,
                                       std::size_t nodeCount);

SaveStatus WriteSkinFile(const Figure& figure, const std::string& path,
                         std::string* detail = nullptr, SaveTransaction* save = nullptr);

}  // namespace zentrope
