#include "io/dxf_import.h"

#include "shell/string_table.h"

namespace zentrope {

Result<SplineSet> ImportDxf(const std::string&, const std::string& file) {
  return Failure{LoadString(str::kTroubleOpeningSegment), file + ": DXF import is not written yet"};
}
Result<SplineSet> ImportDxfFile(const std::string& path) {
  return ImportDxf({}, path);
}
void RegisterDxfImport() {}

}  // namespace zentrope
