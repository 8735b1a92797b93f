// Settings: the sectioned preferences file zentrope.ini ([SECTION] lines
// holding Key=value lines). Every access opens the file afresh; a missing
// file, section or key yields the default. Sections and keys match without
// regard to case; values are text, switches the words "ON" and "OFF".
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zentrope {

class SettingsFile {
 public:
  explicit SettingsFile(std::filesystem::path path) : path_(std::move(path)) {}

  const std::filesystem::path& path() const { return path_; }

  // The stored text (at most 255 characters), or the default.
  std::string read_setting_text(std::string_view section, std::string_view key,
                                std::string_view defaultText) const;
  // The default is formatted ("%hd", "%d", "%g") and the stored or default
  // text parsed the same way; text that does not parse gives the default.
  std::int16_t read_setting_short(std::string_view section, std::string_view key,
                                  std::int16_t defaultValue) const;
  std::int32_t read_setting_int(std::string_view section, std::string_view key,
                                std::int32_t defaultValue) const;
  float read_setting_float(std::string_view section, std::string_view key,
                           float defaultValue) const;
  // "ON" exactly selects the switch.
  bool read_setting_switch(std::string_view section, std::string_view key, bool defaultOn) const;

  // Writes Key=text, creating the section and the file when needed. The file
  // is read, changed and replaced atomically under an UpdateLock, so writers
  // in other processes lose nothing. A field that would break the file's
  // layout (see SettingRefusal) is refused. detail receives why on failure.
  bool write_setting(std::string_view section, std::string_view key, std::string_view text,
                     std::string* detail = nullptr);

  // The stored value, if the file has the key.
  std::optional<std::string> Stored(std::string_view section, std::string_view key) const;
  // Every section and key present, in file order.
  struct Line {
    std::string section;
    std::string key;
    std::string value;
  };
  std::vector<Line> StoredLines() const;

 private:
  std::filesystem::path path_;
};

// Why a setting cannot be stored, or nothing when it can: a line end or NUL
// in any field (it would start another line), an empty section or key,
// brackets in a section, "=" or brackets in a key, a key starting with ";"
// (read back as a comment), or blanks around any field (dropped on reading).
std::optional<std::string> SettingRefusal(std::string_view section, std::string_view key,
                                          std::string_view text);

// Where zentrope.ini lives: ZENTROPE_INI when set, else
// $XDG_CONFIG_HOME/zentrope/zentrope.ini, else ~/.config/zentrope/zentrope.ini.
std::filesystem::path DefaultSettingsPath();

// The settings file of this run (the --settings option replaces it).
SettingsFile& Settings();
void UseSettingsFile(const std::filesystem::path& path);

// The documented keys with their defaults, for listing and lookup.
struct SettingDefault {
  std::string section;
  std::string key;
  std::string defaultValue;
};
const std::vector<SettingDefault>& SettingDefaults();
// The default of a key, including the generated FILES and CUSTOMCOLORS keys.
std::optional<std::string> DefaultFor(std::string_view section, std::string_view key);

}  // namespace zentrope
