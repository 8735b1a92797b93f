// libFuzzer entry for the preferences file parser (zentrope.ini): any file
// must read without a crash, every key it lists must be found by lookup, and
// writing one setting must change that setting alone.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <strings.h>

#include "fuzz_support.h"
#include "shell/settings.h"

using namespace zentrope;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SettingsFile file(fuzz::Put("zentrope.ini", data, size));
  const std::vector<SettingsFile::Line> lines = file.StoredLines();
  std::vector<std::optional<std::string>> before;
  for (const SettingsFile::Line& l : lines) {
    before.push_back(file.Stored(l.section, l.key));
    if (!before.back()) {
      fuzz::Finding("a listed key is not found: [" + l.section + "] " + l.key);
    }
  }
  // The typed readers parse whatever is stored.
  if (!lines.empty()) {
    (void)file.read_setting_short(lines[0].section, lines[0].key, 1);
    (void)file.read_setting_int(lines[0].section, lines[0].key, 1);
    (void)file.read_setting_float(lines[0].section, lines[0].key, 1.0f);
    (void)file.read_setting_switch(lines[0].section, lines[0].key, true);
  }
  // One setting written, to a key the file may or may not hold already.
  const std::string section = lines.empty() ? "FUZZ" : lines.back().section;
  const std::string key = "FuzzKey";
  const std::string value = "written value";
  if (SettingRefusal(section, key, value)) {
    // A section the file's layout could not hold again (a NUL, a bracket)
    // is refused, and refused without a write.
    if (file.write_setting(section, key, value)) {
      fuzz::Finding("a setting was written into a section that breaks the file");
    }
    return 0;
  }
  if (!file.write_setting(section, key, value)) {
    fuzz::Finding("a setting could not be written");
  }
  if (file.Stored(section, key) != value) {
    fuzz::Finding("a written setting does not read back");
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (strcasecmp(lines[i].section.c_str(), section.c_str()) == 0 &&
        strcasecmp(lines[i].key.c_str(), key.c_str()) == 0) {
      continue;
    }
    if (file.Stored(lines[i].section, lines[i].key) != before[i]) {
      fuzz::Finding("writing one setting changed another: [" + lines[i].section + "] " +
                    lines[i].key);
    }
  }
  return 0;
}
