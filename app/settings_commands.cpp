// settings and project subcommands.
#include <iostream>
#include <set>

#include "commands.h"
#include "shell/project_paths.h"
#include "shell/settings.h"

namespace zentrope::cli {

int SettingsList() {
  SettingsFile& settings = Settings();
  std::cout << "# " << settings.path().string() << '\n';
  std::set<std::string> listed;
  for (const SettingDefault& d : SettingDefaults()) {
    const std::optional<std::string> stored = settings.Stored(d.section, d.key);
    std::cout << d.section << ' ' << d.key << '=' << stored.value_or(d.defaultValue)
              << (stored ? "" : "  (default)") << '\n';
    listed.insert(d.section + ' ' + d.key);
  }
  for (const SettingsFile::Line& line : settings.StoredLines()) {
    if (!listed.count(line.section + ' ' + line.key)) {
      std::cout << line.section << ' ' << line.key << '=' << line.value << '\n';
    }
  }
  return 0;
}

int SettingsGet(const std::string& section, const std::string& key) {
  if (std::optional<std::string> stored = Settings().Stored(section, key)) {
    std::cout << *stored << '\n';
    return 0;
  }
  if (std::optional<std::string> fallback = DefaultFor(section, key)) {
    std::cout << *fallback << '\n';
    return 0;
  }
  std::cerr << "no setting " << section << ' ' << key << '\n';
  return 1;
}

int SettingsSet(const std::string& section, const std::string& key, const std::string& value) {
  if (!Settings().write_setting(section, key, value)) {
    std::cerr << "cannot write " << Settings().path().string() << '\n';
    return 1;
  }
  return 0;
}

int ProjectAdd(const std::string& name, const std::string& directory) {
  if (name.size() < 2 || (name.back() == ':' && name.size() < 3)) {
    std::cerr << "a project name has at least two letters (a drive letter is not a project)\n";
    return 1;
  }
  if (!Projects().Add(name, directory)) {
    std::cerr << "cannot write " << Projects().File().string() << '\n';
    return 1;
  }
  return 0;
}

int ProjectList() {
  for (const auto& e : Projects().Entries()) {
    std::cout << e.name << '\t' << e.directory << '\n';
  }
  return 0;
}

}  // namespace zentrope::cli
