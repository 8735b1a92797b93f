#include "io/export_naming.h"

#include <cstddef>
#include <string>

namespace zentrope {

namespace {

// The longest file name (without extension) a frame of a sequence gets.
constexpr std::size_t kNameLimit = 8;

bool IsUtf8Continuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

std::string ExportFileName(const std::string& chosen, int frame, std::string_view extension) {
  if (frame < 0) {
    return chosen;
  }
  const std::size_t slash = chosen.find_last_of('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const std::string folder = chosen.substr(0, nameStart);
  std::string name = chosen.substr(nameStart);
  // The extension is the last dot's; a leading dot names a hidden file, not
  // an extension, and a dot in the folder is no extension at all.
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) {
    name.erase(dot);
  }
  while (!name.empty() && name.back() >= '0' && name.back() <= '9') {
    name.pop_back();
  }
  const std::string number = std::to_string(frame);
  const std::size_t room = number.size() >= kNameLimit ? 0 : kNameLimit - number.size();
  if (name.size() > room) {
    std::size_t cut = room;
    // Never leave half a UTF-8 character behind.
    while (cut > 0 && IsUtf8Continuation(name[cut])) {
      --cut;
    }
    name.erase(cut);
  }
  return folder + name + number + std::string(extension);
}

}  // namespace zentrope
