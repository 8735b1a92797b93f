// Importing DXF drawings as splines: POLYLINE/VERTEX/SEQEND runs and 3DFACE
// entities become splines, splines whose ends meet are joined (a sharp bend
// makes the join peaked), and the result is scaled to the import size.
#pragma once

#include <string>

#include "model/segment_file.h"
#include "model/spline_set.h"
#include "shell/result.h"

namespace zentrope {

class Segment;

// The largest extent of an imported drawing, which is centred on the origin:
// the size of the sample vase, a few times the sample box.
inline constexpr double kDxfImportSize = 100.0;

// Reads a DXF file held in memory (file names it in messages). Fails with
// "Trouble Opening Segment" on a truncated entity, a missing "SEQEND", a
// count or number that cannot be, or a drawing without a single spline.
Result<SplineSet> ImportDxf(const std::string& contents, const std::string& file);

// Reads the file at path (a regular file of at most 64 MiB).
Result<SplineSet> ImportDxfFile(const std::string& path);

// `zentrope import`: a new segment of the drawing's splines, numbered from
// 1, pivot at the origin, saved at segmentPath (".seg" added when the name
// has no period) as SaveSegmentAs saves. An import failure reports "Trouble
// Opening Segment" with the file and line in reason, and writes nothing.
SaveReport ImportDxfAsSegment(const std::string& dxfPath, const std::string& segmentPath,
                              bool overwrite);
// The second half of it: imported splines saved as a new segment.
SaveReport SaveImportedSegment(SplineSet splines, const std::string& segmentPath, bool overwrite);

// Lets ImportModel take DXF files (it reads segment files itself).
void RegisterDxfImport();

}  // namespace zentrope
