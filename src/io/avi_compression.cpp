#include "io/avi_compression.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "shell/settings.h"

namespace zentrope {

namespace {

constexpr const char* kSection = "AVI";

bool Printable(unsigned char c) {
  return c >= 0x20 && c < 0x7f;
}

// A whole "%d" number, or nothing.
bool ParseInt(const std::string& text, std::int32_t& value) {
  if (text.empty()) {
    return false;
  }
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0' || v < INT32_MIN || v > INT32_MAX) {
    return false;
  }
  value = static_cast<std::int32_t>(v);
  return true;
}

}  // namespace

AviCompression AviCompression::FromSettings(const SettingsFile& settings) {
  AviCompression c;
  // The handler is stored as the code's number, as the compressor dialog
  // left it; a user editing the file may write the four letters instead.
  const std::string handler = settings.read_setting_text(kSection, "Handler", "0");
  std::int32_t number = 0;
  if (ParseInt(handler, number)) {
    c.handler = number;
  } else {
    c.handler = FourCcFromText(handler);
  }
  c.keyEvery = settings.read_setting_int(kSection, "Key", c.keyEvery);
  c.quality = settings.read_setting_int(kSection, "Quality", c.quality);
  c.bytesPerSecond = settings.read_setting_int(kSection, "Bytes", c.bytesPerSecond);
  c.flags = settings.read_setting_int(kSection, "Flags", c.flags);
  return c;
}

bool AviCompression::Save(SettingsFile& settings) const {
  const std::pair<const char*, std::int32_t> keys[] = {{"Handler", handler},
                                                       {"Key", keyEvery},
                                                       {"Quality", quality},
                                                       {"Bytes", bytesPerSecond},
                                                       {"Flags", flags}};
  bool ok = true;
  for (const auto& [key, value] : keys) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    ok = settings.write_setting(kSection, key, text) && ok;
  }
  return ok;
}

std::int32_t FourCcFromText(const std::string& text) {
  if (text.size() != 4) {
    return 0;
  }
  std::uint32_t code = 0;
  for (int i = 0; i < 4; ++i) {
    const auto c = static_cast<unsigned char>(text[static_cast<std::size_t>(i)]);
    if (!Printable(c)) {
      return 0;
    }
    code |= static_cast<std::uint32_t>(c) << (8 * i);
  }
  return static_cast<std::int32_t>(code);
}

std::string FourCcText(std::int32_t code) {
  const auto u = static_cast<std::uint32_t>(code);
  std::string text;
  for (int i = 0; i < 4; ++i) {
    const auto c = static_cast<unsigned char>((u >> (8 * i)) & 0xff);
    if (!Printable(c)) {
      return {};
    }
    text.push_back(static_cast<char>(c));
  }
  return text;
}

}  // namespace zentrope
