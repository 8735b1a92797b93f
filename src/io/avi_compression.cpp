#include "io/avi_compression.h"

#include "shell/settings.h"

namespace zentrope {

AviCompression AviCompression::FromSettings(const SettingsFile&) {
  return {};
}
bool AviCompression::Save(SettingsFile&) const {
  return false;
}
std::int32_t FourCcFromText(const std::string&) {
  return 0;
}
std::string FourCcText(std::int32_t) {
  return {};
}

}  // namespace zentrope
