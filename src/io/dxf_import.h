// Importing DXF drawings as splines: POLYLINE/VERTEX/SEQEND runs and 3DFACE
// entities become splines, splines whose ends meet are joined (a sharp bend
// makes the join peaked), and the result is scaled to the import size.
#pragma once

#include <string>

#include "model/spline_set.h"
#include "shell/result.h"

namespace zentrope {

class Segment;

// Reads a DXF file held in memory (file names it in messages). Fails with
// "Trouble Opening Segment" on a truncated entity, a missing "SEQEND", a
// count or number that cannot be, or a drawing without a single spline.
Result<SplineSet> ImportDxf(const std::string& contents, const std::string& file);

// Reads the file at path.
Result<SplineSet> ImportDxfFile(const std::string& path);

// Lets ImportModel take DXF files (it reads segment files itself).
void RegisterDxfImport();

}  // namespace zentrope
