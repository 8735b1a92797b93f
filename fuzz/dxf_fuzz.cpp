// libFuzzer entry for the DXF import: every input must import or fail
// cleanly. What imports is written out again as DXF faces (its patches
// through the tessellator, and each closed spline of three or four points
// as one face), and that file must import or fail cleanly too; a drawing
// of faces that the import joined into more splines than it had faces is a
// finding.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "io/dxf_import.h"
#include "io/dxf_writer.h"
#include "model/patch_finder.h"
#include "model/segment.h"
#include "render/tessellation.h"

using namespace zentrope;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Result<SplineSet> imported =
      ImportDxf(std::string(reinterpret_cast<const char*>(data), size), "fuzz/in.dxf");
  if (!imported) {
    return 0;
  }
  Segment segment;
  *segment.splines = std::move(*imported);
  segment.Renumber();
  segment.SplinesEdited();
  EnsurePatches(segment);

  const std::string out = fuzz::PathOf("out.dxf");
  DxfWriter writer;
  if (!writer.OpenDxf(out, -1)) {
    fuzz::Finding("cannot open " + out + ": " + writer.Reason());
  }
  TessellationTargets targets;
  targets.dxfFaces = &writer;
  SubdivisionSettings whole;
  whole.fixedLevel = 0;
  DrawSegmentPatches(segment, Transform::Identity(), tessellation_flags::kDxfFaces, nullptr, {},
                     whole, targets);
  std::size_t faces = 0;
  for (const Spline& s : segment.Splines().Splines()) {
    ControlPoint* c[4] = {s.first, nullptr, nullptr, nullptr};
    int n = 1;
    for (ControlPoint* p = NextInTraversal(s.first); p && n < 5; p = NextInTraversal(p)) {
      if (n < 4) {
        c[n] = p;
      }
      ++n;
    }
    if ((n == 3 || n == 4) && LastPoint(s.first)->ClosesLoop()) {
      const Vector3& d = (n == 4 ? c[3] : c[2])->position;
      writer.WriteDxfFace(d, c[0]->position, c[1]->position, c[2]->position);
      ++faces;
    }
  }
  if (writer.CloseDxf()) {
    Result<SplineSet> again = ImportDxfFile(out);
    if (again && again->Splines().size() > faces + segment.patches.size()) {
      fuzz::Finding("faces read back as more splines than were written");
    }
  }
  fuzz::Remove("out.dxf");
  return 0;
}
