#include "io/gltf_writer.h"

namespace zentrope {

bool WriteGlb(const ExportScene&, const std::string&, int, const SubdivisionSettings&,
              std::string* reason) {
  if (reason) {
    *reason = "glTF export is not written yet";
  }
  return false;
}

}  // namespace zentrope
