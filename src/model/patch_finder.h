// The patch search: every closed loop of three or four spline segments
// through attach stacks on a segment's working copy becomes a patch.
#pragma once

#include "model/segment.h"

namespace zentrope {

enum class PatchSearch { kDone, kStopped, kOutOfMemory };

// Rebuilds segment.patches from the working copy and the colour groups. Two
// passes (three-sided, then four-sided) walk from every point in both
// directions; walks that close are checked for degenerate corners, corners on
// one spline and duplicates, and become patches. A stop request (Escape)
// keeps the patches found so far.
PatchSearch FindPatches(Segment& segment);

// Finds the patches again when the patches-stale flag is set.
PatchSearch EnsurePatches(Segment& segment);

}  // namespace zentrope
