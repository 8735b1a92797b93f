// settings and project subcommands.
#include <iostream>
#include <memory>
#include <set>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "shell/project_paths.h"
#include "shell/settings.h"
#include "shell/text_encoding.h"

namespace zentrope::cli {

int SettingsList() {
  SettingsFile& settings = Settings();
  std::cout << "# " << settings.path().string() << '\n';
  std::set<std::string> listed;
  for (const SettingDefault& d : SettingDefaults()) {
    const std::optional<std::string> stored = settings.Stored(d.section, d.key);
    std::cout << d.section << ' ' << d.key << '=' << Utf8FromLegacy(stored.value_or(d.defaultValue))
              << (stored ? "" : "  (default)") << '\n';
    listed.insert(d.section + ' ' + d.key);
  }
  for (const SettingsFile::Line& line : settings.StoredLines()) {
    if (!listed.count(line.section + ' ' + line.key)) {
      // A file from an older machine may hold Latin-1 text.
      std::cout << Utf8FromLegacy(line.section + ' ' + line.key + '=' + line.value) << '\n';
    }
  }
  return 0;
}

int SettingsGet(const std::string& section, const std::string& key) {
  if (std::optional<std::string> stored = Settings().Stored(section, key)) {
    std::cout << Utf8FromLegacy(*stored) << '\n';
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
  // Beyond what would break the file, a value typed here holds no "=" or
  // "]", so that no value can pass for a key or a section.
  std::optional<std::string> refusal = SettingRefusal(section, key, value);
  if (!refusal && value.find_first_of("=]") != std::string::npos) {
    refusal = "a value cannot hold = or ]";
  }
  if (refusal) {
    std::cerr << "zentrope settings set: " << *refusal << '\n';
    return 2;
  }
  std::string detail;
  if (!Settings().write_setting(section, key, value, &detail)) {
    std::cerr << Explain(Settings().path().string(), "cannot write the setting", detail) << '\n';
    return 1;
  }
  return 0;
}

int ProjectAdd(const std::string& name, const std::string& directory) {
  if (name.size() < 2 || (name.back() == ':' && name.size() < 3)) {
    std::cerr << "a project name has at least two letters (a drive letter is not a project)\n";
    return 2;
  }
  if (name.find_first_of(" \t\n\r") != std::string::npos ||
      directory.find_first_of("\t\n\r") != std::string::npos) {
    std::cerr << "zentrope project add: a project name cannot hold blanks, nor a folder a tab or "
                 "line break\n";
    return 2;
  }
  std::string detail;
  if (!Projects().Add(name, directory, &detail)) {
    std::cerr << Explain(Projects().File().string(), "cannot write the project list", detail)
              << '\n';
    return 1;
  }
  return 0;
}

int ProjectList() {
  for (const auto& e : Projects().Entries()) {
    std::cout << Utf8FromLegacy(e.name) << '\t' << Utf8FromLegacy(e.directory) << '\n';
  }
  return 0;
}

void RegisterSettingsCommands(CLI::App& app, Runner& chosen) {
  CLI::App* settings = app.add_subcommand("settings", "Show or change zentrope.ini");
  settings->require_subcommand(1);
  CLI::App* settingsList = settings->add_subcommand("list", "Every setting and its value");
  settingsList->callback([&chosen] { chosen = [] { return SettingsList(); }; });
  struct SettingArgs {
    std::string section, key, value;
  };
  auto args = std::make_shared<SettingArgs>();
  CLI::App* settingsGet = settings->add_subcommand("get", "The value in force of one setting");
  settingsGet->add_option("SECTION", args->section)->required();
  settingsGet->add_option("KEY", args->key)->required();
  settingsGet->callback(
      [&chosen, args] { chosen = [args] { return SettingsGet(args->section, args->key); }; });
  CLI::App* settingsSet = settings->add_subcommand("set", "Write one setting");
  settingsSet->add_option("SECTION", args->section)->required();
  settingsSet->add_option("KEY", args->key)->required();
  settingsSet->add_option("VALUE", args->value)->required();
  settingsSet->callback([&chosen, args] {
    chosen = [args] { return SettingsSet(args->section, args->key, args->value); };
  });

  CLI::App* project = app.add_subcommand("project", "The project list (PROJECTS.BRX)");
  project->require_subcommand(1);
  struct ProjectArgs {
    std::string name, directory;
  };
  auto projectArgs = std::make_shared<ProjectArgs>();
  CLI::App* projectAdd = project->add_subcommand("add", "Add or change a project: NAME: DIR");
  projectAdd->add_option("NAME", projectArgs->name, "Project name, e.g. DEMO:")->required();
  projectAdd->add_option("DIR", projectArgs->directory, "Its folder")->required();
  projectAdd->callback([&chosen, projectArgs] {
    chosen = [projectArgs] { return ProjectAdd(projectArgs->name, projectArgs->directory); };
  });
  CLI::App* projectList = project->add_subcommand("list", "List the projects");
  projectList->callback([&chosen] { chosen = [] { return ProjectList(); }; });
}

}  // namespace zentrope::cli
