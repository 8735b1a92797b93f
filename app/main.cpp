// zentrope: the command-line front of Zentrope Studio. It parses arguments and
// calls the library; subcommands map their results to exit codes.
#include <clocale>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "shell/version.h"

int main(int argc, char** argv) {
  // Documents are written and read with "C" number formats on every machine.
  std::setlocale(LC_ALL, "C");

  CLI::App app{std::string(zentrope::kProductName) +
               ": spline-patch modelling, character animation and rendering"};
  app.name("zentrope");
  app.set_version_flag("--version", std::string("zentrope ") + std::string(zentrope::Version()));
  app.require_subcommand(0, 1);

  CLI11_PARSE(app, argc, argv);
  if (argc == 1) {
    std::cout << app.help();
  }
  return 0;
}
