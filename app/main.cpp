// zentrope: the command-line front of Zentrope Studio. It assembles the
// command groups, parses the arguments, starts the services and runs the
// chosen subcommand.
#include <clocale>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "render/render_settings.h"
#include "shell/startup.h"
#include "shell/version.h"

int main(int argc, char** argv) {
  // Documents are written and read with "C" number formats on every machine.
  std::setlocale(LC_ALL, "C");

  CLI::App app{std::string(zentrope::kProductName) +
               ": spline-patch modelling, character animation and rendering"};
  app.name("zentrope");
  app.set_version_flag("--version", std::string("zentrope ") + std::string(zentrope::Version()));
  app.require_subcommand(0, 1);

  zentrope::StartUpOptions startup;
  std::string settingsFile;
  app.add_option("--settings", settingsFile, "Settings file to use instead of zentrope.ini");
  app.add_flag("--quiet", startup.quiet, "No status line on long work");

  zentrope::cli::Runner chosen;
  zentrope::cli::RegisterDocumentCommands(app, chosen);
  zentrope::cli::RegisterChoreographyCommands(app, chosen);
  zentrope::cli::RegisterSettingsCommands(app, chosen);

  CLI11_PARSE(app, argc, argv);
  if (!chosen) {
    std::cout << app.help();
    return 0;
  }
  if (!settingsFile.empty()) {
    startup.settingsFile = settingsFile;
  }
  zentrope::RegisterRenderSettingsStartUp();
  if (!zentrope::StartUp(startup)) {
    return 1;
  }
  return chosen();
}
