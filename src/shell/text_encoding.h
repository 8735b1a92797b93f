// Names in documents are bytes: files from older archives hold Latin-1
// names, newer ones UTF-8. Everything printed (text or JSON) is UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace zentrope {

// The text as UTF-8: well-formed UTF-8 sequences are kept; every other byte
// is taken as Latin-1 and written as the UTF-8 of that character (0xE9
// becomes "é", C3 A9). Text that is already UTF-8 comes back unchanged.
std::string Utf8FromLegacy(std::string_view text);

}  // namespace zentrope
