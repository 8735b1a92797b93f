// zentrope: the command-line front of Zentrope Studio. It parses arguments,
// starts the services and calls one library entry per subcommand.
#include <clocale>
#include <iostream>
#include <string>
#include <vector>

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

  std::string infoFile;
  bool infoJson = false;
  CLI::App* info = app.add_subcommand("info", "Describe a document");
  info->add_option("FILE", infoFile, "Document")->required();
  info->add_flag("--json", infoJson, "Print JSON");

  std::vector<std::string> checkFiles;
  CLI::App* check = app.add_subcommand("check", "Read documents and report the ones that fail");
  check->add_option("FILE", checkFiles, "Documents")->required();

  std::string resaveIn, resaveOut;
  CLI::App* resave = app.add_subcommand("resave", "Read a document and write it again");
  resave->add_option("IN", resaveIn, "Document to read")->required();
  resave->add_option("-o,--output", resaveOut, "Where to write it")->required();

  std::string evalDocument, evalFigure;
  float evalFrame = 1.0f;
  bool evalJson = false;
  CLI::App* eval = app.add_subcommand(
      "eval", "Evaluate a scene at a frame, or pose a figure at rest or by an action");
  eval->add_option("DOCUMENT", evalDocument, "SCENE.cho, ACTION.act or FIGURE.fig")->required();
  eval->add_option("--figure", evalFigure, "The figure an action moves");
  eval->add_option("--frame", evalFrame, "Frame number, from 1");
  eval->add_flag("--json", evalJson, "Print JSON");
  bool evalPoints = false;
  eval->add_flag("--points", evalPoints, "Also print every deformed control point");

  std::string convertIn, convertOut;
  std::string simulateIn, simulateOut;
  CLI::App* simulate =
      app.add_subcommand("simulate", "Run a scene's dynamics and save the simulated motion");
  simulate->add_option("SCENE", simulateIn, "Choreography to simulate")->required();
  simulate->add_option("-o,--output", simulateOut, "Where to write the result")->required();

  CLI::App* convert = app.add_subcommand("convert", "Convert a picture to Targa or PNG");
  convert->add_option("IMAGE", convertIn, "Picture to read")->required();
  convert->add_option("-o,--output", convertOut, "OUT.tga or OUT.png")->required();

  std::string latheIn, latheOut;
  int latheSections = 8;
  std::int32_t lathePoint = 0;
  CLI::App* lathe = app.add_subcommand("lathe", "Turn a profile spline about the pivot's axis");
  lathe->add_option("IN", latheIn, "Segment holding the profile")->required();
  lathe->add_option("--sections", latheSections, "Cross sections (1 or more)")->required();
  lathe->add_option("--point", lathePoint,
                    "Number of a point on the profile spline (default: the first spline)");
  lathe->add_option("-o,--output", latheOut, "Segment to write")->required();

  CLI::App* settings = app.add_subcommand("settings", "Show or change zentrope.ini");
  settings->require_subcommand(1);
  CLI::App* settingsList = settings->add_subcommand("list", "Every setting and its value");
  std::string section, key, value;
  CLI::App* settingsGet = settings->add_subcommand("get", "The value in force of one setting");
  settingsGet->add_option("SECTION", section)->required();
  settingsGet->add_option("KEY", key)->required();
  CLI::App* settingsSet = settings->add_subcommand("set", "Write one setting");
  settingsSet->add_option("SECTION", section)->required();
  settingsSet->add_option("KEY", key)->required();
  settingsSet->add_option("VALUE", value)->required();

  CLI::App* project = app.add_subcommand("project", "The project list (PROJECTS.BRX)");
  project->require_subcommand(1);
  std::string projectName, projectDir;
  CLI::App* projectAdd = project->add_subcommand("add", "Add or change a project: NAME: DIR");
  projectAdd->add_option("NAME", projectName, "Project name, e.g. DEMO:")->required();
  projectAdd->add_option("DIR", projectDir, "Its folder")->required();
  CLI::App* projectList = project->add_subcommand("list", "List the projects");

  CLI11_PARSE(app, argc, argv);
  if (argc == 1) {
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

  namespace cli = zentrope::cli;
  if (*info)
    return cli::Info(infoFile, infoJson);
  if (*check)
    return cli::Check(checkFiles);
  if (*resave)
    return cli::Resave(resaveIn, resaveOut);
  if (*settingsList)
    return cli::SettingsList();
  if (*settingsGet)
    return cli::SettingsGet(section, key);
  if (*settingsSet)
    return cli::SettingsSet(section, key, value);
  if (*projectAdd)
    return cli::ProjectAdd(projectName, projectDir);
  if (*projectList)
    return cli::ProjectList();
  if (*lathe)
    return cli::LatheCommand(latheIn, latheSections, lathePoint, latheOut);
  if (*convert)
    return cli::Convert(convertIn, convertOut);
  if (*simulate)
    return cli::Simulate(simulateIn, simulateOut);
  if (*eval)
    return cli::Eval(evalDocument, evalFigure, evalFrame, evalJson, evalPoints);
  std::cout << app.help();
  return 0;
}
