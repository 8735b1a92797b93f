// Settings file parsing and writing.
#include "shell/settings.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <sstream>

#include "shell/atomic_file.h"
#include "shell/regular_file.h"

namespace zentrope {

namespace {

constexpr std::size_t kMaxValue = 255;

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) {
    s.remove_prefix(1);
  }
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) {
    s.remove_suffix(1);
  }
  return s;
}

// A settings file larger than this is no settings file.
constexpr std::uintmax_t kMaxSettingsBytes = 16u << 20;

// The file's lines; empty when there is no file. Nullopt when it exists but
// cannot be read as settings (a FIFO, a device, a folder, too large): then
// nothing may be written over it.
std::optional<std::vector<std::string>> ReadLinesOrFail(const std::filesystem::path& path,
                                                        std::string* error = nullptr) {
  std::vector<std::string> lines;
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {  // a dangling link makes a new file
    return lines;
  }
  std::string text;
  if (!ReadRegularFile(path, kMaxSettingsBytes, text, error)) {
    return std::nullopt;
  }
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    const std::size_t next = end == std::string::npos ? text.size() : end + 1;
    if (end == std::string::npos) {
      end = text.size();
    }
    std::string line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    lines.push_back(std::move(line));
    pos = next;
  }
  return lines;
}

std::vector<std::string> ReadLines(const std::filesystem::path& path) {
  std::optional<std::vector<std::string>> lines = ReadLinesOrFail(path);
  return lines ? std::move(*lines) : std::vector<std::string>{};
}

// "[NAME]" gives NAME.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = Trim(line);
  if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
    return Trim(line.substr(1, line.size() - 2));
  }
  return std::nullopt;
}

// "Key=value" gives (Key, value); comments and other lines give nothing.
std::optional<std::pair<std::string_view, std::string_view>> KeyValue(std::string_view line) {
  const std::string_view trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() == ';') {
    return std::nullopt;
  }
  const std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) {
    return std::nullopt;
  }
  return std::make_pair(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
}

std::string Format(const char* format, auto value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

// C-style number parsing: leading blanks, then as much of a number as there
// is; nothing parsed means no value.
std::optional<long> ParseInteger(const std::string& text) {
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str()) {
    return std::nullopt;
  }
  return v;
}

std::optional<float> ParseFloat(const std::string& text) {
  char* end = nullptr;
  const float v = std::strtof(text.c_str(), &end);
  if (end == text.c_str()) {
    return std::nullopt;
  }
  return v;
}

struct SettingsState {
  std::mutex mutex;
  std::unique_ptr<SettingsFile> file;
};

SettingsState& State() {
  static SettingsState state;
  return state;
}

}  // namespace

std::optional<std::string> SettingsFile::Stored(std::string_view section,
                                                std::string_view key) const {
  bool inSection = false;
  for (const std::string& line : ReadLines(path_)) {
    if (std::optional<std::string_view> name = SectionName(line)) {
      inSection = EqualNoCase(*name, section);
      continue;
    }
    if (!inSection) {
      continue;
    }
    if (auto kv = KeyValue(line); kv && EqualNoCase(kv->first, key)) {
      return std::string(kv->second.substr(0, kMaxValue));
    }
  }
  return std::nullopt;
}

std::vector<SettingsFile::Line> SettingsFile::StoredLines() const {
  std::vector<Line> out;
  std::string section;
  for (const std::string& line : ReadLines(path_)) {
    if (std::optional<std::string_view> name = SectionName(line)) {
      section = *name;
    } else if (auto kv = KeyValue(line); kv && !section.empty()) {
      out.push_back({section, std::string(kv->first), std::string(kv->second)});
    }
  }
  return out;
}

std::string SettingsFile::read_setting_text(std::string_view section, std::string_view key,
                                            std::string_view defaultText) const {
  if (std::optional<std::string> v = Stored(section, key)) {
    return *v;
  }
  return std::string(defaultText.substr(0, kMaxValue));
}

std::int16_t SettingsFile::read_setting_short(std::string_view section, std::string_view key,
                                              std::int16_t defaultValue) const {
  const std::string text = read_setting_text(section, key, Format("%hd", defaultValue));
  const std::optional<long> v = ParseInteger(text);
  // "%hd" keeps the low 16 bits of a larger number.
  return v ? static_cast<std::int16_t>(static_cast<std::uint16_t>(*v)) : defaultValue;
}

std::int32_t SettingsFile::read_setting_int(std::string_view section, std::string_view key,
                                            std::int32_t defaultValue) const {
  const std::string text = read_setting_text(section, key, Format("%d", defaultValue));
  const std::optional<long> v = ParseInteger(text);
  return v ? static_cast<std::int32_t>(static_cast<std::uint32_t>(*v)) : defaultValue;
}

float SettingsFile::read_setting_float(std::string_view section, std::string_view key,
                                       float defaultValue) const {
  const std::string text =
      read_setting_text(section, key, Format("%g", static_cast<double>(defaultValue)));
  return ParseFloat(text).value_or(defaultValue);
}

bool SettingsFile::read_setting_switch(std::string_view section, std::string_view key,
                                       bool defaultOn) const {
  return read_setting_text(section, key, defaultOn ? "ON" : "OFF") == "ON";
}

std::optional<std::string> SettingRefusal(std::string_view section, std::string_view key,
                                          std::string_view text) {
  auto hasLineBreak = [](std::string_view s) {
    return s.find_first_of(std::string_view("\n\r\0", 3)) != std::string_view::npos;
  };
  if (hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(text)) {
    return "a setting cannot hold a line break";
  }
  if (Trim(section).empty() || Trim(key).empty()) {
    return "a setting needs a section and a key";
  }
  if (section.find_first_of("[]") != std::string_view::npos) {
    return "a section name cannot hold [ or ]";
  }
  if (key.find_first_of("=[]") != std::string_view::npos) {
    return "a key cannot hold =, [ or ]";
  }
  if (Trim(key).front() == ';') {
    return "a key cannot start with ;";
  }
  // The file is read with blanks around each field dropped: one written
  // with them would read back as another setting, or another value.
  if (Trim(section) != section || Trim(key) != key || Trim(text) != text) {
    return "a setting cannot begin or end with a blank";
  }
  return std::nullopt;
}

bool SettingsFile::write_setting(std::string_view section, std::string_view key,
                                 std::string_view text, std::string* detail) {
  if (std::optional<std::string> refusal = SettingRefusal(section, key, text)) {
    if (detail) {
      *detail = *refusal;
    }
    return false;
  }
  // Another process may write between our read and our rename: read, change
  // and replace under the lock.
  const UpdateLock lock(path_);
  if (!lock.Locked()) {
    if (detail) {
      *detail = lock.Error();
    }
    return false;
  }
  std::string unreadable;
  std::optional<std::vector<std::string>> read = ReadLinesOrFail(path_, &unreadable);
  if (!read) {
    if (detail) {
      *detail = unreadable;
    }
    return false;
  }
  std::vector<std::string> lines = std::move(*read);
  const std::string entry = std::string(key) + "=" + std::string(text);
  bool inSection = false;
  bool sectionFound = false;
  std::size_t insertAt = lines.size();
  bool written = false;
  for (std::size_t i = 0; i < lines.size() && !written; ++i) {
    if (std::optional<std::string_view> name = SectionName(lines[i])) {
      if (inSection) {
        break;  // end of our section: insert before the next one
      }
      inSection = EqualNoCase(*name, section);
      if (inSection) {
        sectionFound = true;
        insertAt = i + 1;
      }
      continue;
    }
    if (!inSection) {
      continue;
    }
    if (auto kv = KeyValue(lines[i]); kv && EqualNoCase(kv->first, key)) {
      lines[i] = entry;
      written = true;
    } else if (!Trim(lines[i]).empty()) {
      insertAt = i + 1;
    }
  }
  if (!written) {
    if (sectionFound) {
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), entry);
    } else {
      if (!lines.empty() && !Trim(lines.back()).empty()) {
        lines.emplace_back();
      }
      std::string header(1, '[');
      header.append(section);
      header.push_back(']');
      lines.push_back(std::move(header));
      lines.push_back(entry);
    }
  }
  std::string why;
  const SaveStatus status = SaveAtomically(
      path_,
      [&](std::FILE* f) {
        // Whole lines: a stray NUL byte must not cut another key's value.
        for (const std::string& l : lines) {
          if (std::fwrite(l.data(), 1, l.size(), f) != l.size() || std::fputc('\n', f) == EOF) {
            return false;
          }
        }
        return true;
      },
      &why);
  if (status != SaveStatus::kSaved && detail) {
    *detail = why;
  }
  return status == SaveStatus::kSaved;
}

std::filesystem::path DefaultSettingsPath() {
  if (const char* explicitPath = std::getenv("ZENTROPE_INI"); explicitPath && *explicitPath) {
    return explicitPath;
  }
  std::filesystem::path config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    config = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    config = std::filesystem::path(home) / ".config";
  } else {
    config = ".";
  }
  return config / "zentrope" / "zentrope.ini";
}

SettingsFile& Settings() {
  std::lock_guard lock(State().mutex);
  if (!State().file) {
    State().file = std::make_unique<SettingsFile>(DefaultSettingsPath());
  }
  return *State().file;
}

void UseSettingsFile(const std::filesystem::path& path) {
  std::lock_guard lock(State().mutex);
  State().file = std::make_unique<SettingsFile>(path);
}

}  // namespace zentrope
