// AviCompression: the movie compression the user chose, kept in the AVI
// section of the settings file ("Handler", "Key", "Quality", "Bytes",
// "Flags"), and the four-character codes that name compressors.
#pragma once

#include <cstdint>
#include <string>

namespace zentrope {

class SettingsFile;

struct AviCompression {
  std::int32_t handler = 0;  // four-character code; 0 = uncompressed
  std::int32_t keyEvery = 15;
  std::int32_t quality = 7500;  // 0..10000
  std::int32_t bytesPerSecond = 0;
  std::int32_t flags = 0;

  static AviCompression FromSettings(const SettingsFile& settings);
  // Writes all five keys; false when the settings file cannot be written.
  bool Save(SettingsFile& settings) const;
};

// "MJPG" ↔ the little-endian code the settings hold (first letter in the
// low byte). A code that is not four printable characters has no text.
std::int32_t FourCcFromText(const std::string& text);
std::string FourCcText(std::int32_t code);

}  // namespace zentrope
