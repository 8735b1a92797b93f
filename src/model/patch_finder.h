// The patch search: every closed loop of three or four spline segments
// through attach stacks on a segment's working copy becomes a patch.
#pragma once

#include "model/segment.h"

namespace zentrope {

enum class PatchSearch { kDone, kStopped, kOutOfMemory };

// Out-of-memory escapes a search takes before it gives up.
inline constexpr int kPatchSearchEscapes = 3;

// Rebuilds segment.patches from the working copy and the colour groups. Two
// passes (three-sided, then four-sided) walk from every point in both
// directions; walks that close are checked for degenerate corners, corners on
// one spline and duplicates, and become patches. A stop request (Escape)
// keeps the patches found so far. Running out of memory starts the search
// again (the pool's hooks have let caches go); the third time it gives up
// with kOutOfMemory.
PatchSearch FindPatches(Segment& segment);

// Finds the patches again when the patches-stale flag is set.
PatchSearch EnsurePatches(Segment& segment);

}  // namespace zentrope
