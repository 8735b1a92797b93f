// Latin-1 bytes among UTF-8.
#include "shell/text_encoding.h"

#include <cstdint>

namespace zentrope {

namespace {

// The length of the well-formed UTF-8 sequence at text[i], or 0 when the
// byte there does not start one (overlong forms, surrogates and code points
// past U+10FFFF are not well formed).
std::size_t SequenceLength(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
  const std::uint8_t lead = byte(i);
  std::size_t length = 0;
  std::uint8_t low = 0x80, high = 0xBF;  // bounds of the second byte
  if (lead < 0x80) {
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (i + length > text.size()) {
    return 0;
  }
  if (byte(i + 1) < low || byte(i + 1) > high) {
    return 0;
  }
  for (std::size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) {
      return 0;
    }
  }
  return length;
}

}  // namespace

std::string Utf8FromLegacy(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (const std::size_t n = SequenceLength(text, i)) {
      out.append(text.substr(i, n));
      i += n;
      continue;
    }
    const auto c = static_cast<std::uint8_t>(text[i++]);
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
  return out;
}

}  // namespace zentrope
