// Version string, set by the build from the project version.
#include "shell/version.h"

namespace zentrope {

std::string_view Version() {
  return ZENTROPE_VERSION;
}

}  // namespace zentrope
