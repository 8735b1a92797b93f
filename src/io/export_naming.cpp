#include "io/export_naming.h"

namespace zentrope {

std::string ExportFileName(const std::string& chosen, int, std::string_view) {
  return chosen;
}

}  // namespace zentrope
