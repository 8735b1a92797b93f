// What the commands print: JSON and text in UTF-8, failures in one line.
#include <cctype>

#include <nlohmann/json.hpp>

#include "commands.h"
#include "shell/memory_pool.h"
#include "shell/text_encoding.h"

namespace zentrope::cli {

nlohmann::ordered_json Printable(const nlohmann::ordered_json& j) {
  if (j.is_string()) {
    return Utf8FromLegacy(j.get_ref<const std::string&>());
  }
  if (j.is_array()) {
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    for (const auto& item : j) {
      out.push_back(Printable(item));
    }
    return out;
  }
  if (j.is_object()) {
    nlohmann::ordered_json out = nlohmann::ordered_json::object();
    for (auto it = j.begin(); it != j.end(); ++it) {
      out[Utf8FromLegacy(it.key())] = Printable(it.value());
    }
    return out;
  }
  return j;
}

bool MemoryRanOut() {
  return MemoryPool::Main().refused_allocations() > 0;
}

namespace {
bool memoryReported = false;
}  // namespace

void NoteMemoryReported() {
  memoryReported = true;
}

bool MemoryReported() {
  return memoryReported;
}

std::string Dump(const nlohmann::ordered_json& j) {
  // Printable leaves nothing to replace; the handler only keeps a stray
  // byte from ever ending the program.
  return Printable(j).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string Explain(const std::string& file, const std::string& message,
                    const std::string& detail) {
  std::string text = message;
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  std::string why = detail;
  // "FILE:5: reason" repeats the name the line starts with: keep "line 5:
  // reason".
  if (!file.empty() && why.compare(0, file.size() + 1, file + ":") == 0) {
    why.erase(0, file.size() + 1);
    std::size_t digits = 0;
    while (digits < why.size() && std::isdigit(static_cast<unsigned char>(why[digits]))) {
      ++digits;
    }
    if (digits > 0 && digits < why.size() && why[digits] == ':') {
      why = "line " + why;
    }
    while (!why.empty() && why.front() == ' ') {
      why.erase(0, 1);
    }
  }
  // "can't open image file: FILE: reason" names the file a second time.
  if (!file.empty()) {
    const std::size_t again = why.find(": " + file + ": ");
    if (again != std::string::npos) {
      why.erase(again + 2, file.size() + 2);
    }
  }
  while (!why.empty() && (why.back() == '\n' || why.back() == ' ')) {
    why.pop_back();
  }
  std::string line = file.empty() ? std::string() : file + ": ";
  if (text.empty()) {
    line += why.empty() ? "failed" : why;
  } else if (why.empty() || why == text) {
    line += text;
  } else {
    line += text + " (" + why + ")";
  }
  return Utf8FromLegacy(line);
}

}  // namespace zentrope::cli
