// The subcommands of the zentrope program. Each command group registers its
// own subcommands and options; the chosen one's parse callback leaves the
// work to run in the runner main calls once the services have started. A
// command returns the exit status (0 success, 1 failure).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "shell/startup.h"

namespace CLI {
class App;
}

namespace zentrope::cli {

// The work of the subcommand named on the command line; empty when none was.
using Runner = std::function<int()>;

void RegisterDocumentCommands(CLI::App& app, Runner& chosen);
void RegisterChoreographyCommands(CLI::App& app, Runner& chosen);
void RegisterSettingsCommands(CLI::App& app, Runner& chosen);
void RegisterRenderCommands(CLI::App& app, Runner& chosen);
// export, import and play: geometry and movies for other programs.
void RegisterExchangeCommands(CLI::App& app, Runner& chosen);
// view: the frame window, which runs the start-up sequence itself (its
// window kinds come first).
using FramedRunner = std::function<int(const StartUpOptions&)>;
void RegisterViewCommands(CLI::App& app, FramedRunner& framed);

// Output. Names from documents may be Latin-1: Printable turns every string
// (and key) into UTF-8, and Dump prints the result as one line of JSON.
nlohmann::ordered_json Printable(const nlohmann::ordered_json& j);
std::string Dump(const nlohmann::ordered_json& j);
// One line saying why: "FILE: message (detail)", without an empty "()" and
// without repeating the file name the detail starts with.
std::string Explain(const std::string& file, const std::string& message,
                    const std::string& detail = {});

// True when something the command read ran out of the memory limit: what it
// would save is then not the user's document, so nothing is written and
// main reports 107.
bool MemoryRanOut();
// A command that already reported running out under a code of its own (the
// raytracer's 802 and 803) says so, and main does not add 107 to it.
void NoteMemoryReported();
bool MemoryReported();

int Info(const std::string& file, bool json);
int Check(const std::vector<std::string>& files);
int Resave(const std::string& in, const std::string& out);
int Convert(const std::string& in, const std::string& out);
int Eval(const std::string& document, const std::string& figure, float frame, bool json,
         bool points);
int LatheCommand(const std::string& in, int sections, std::int32_t pointNumber,
                 const std::string& out);

// `zentrope render` of a choreography (or of an action on a figure): the
// range through the render driver. Empty strings and unset flags leave the
// scene's and the settings' values.
struct SceneRenderArgs {
  std::string document;  // .cho, or .act with figure; empty: the demo
  std::string figure;
  std::string frames;
  bool framesGiven = false;
  float step = 0.0f;
  bool stepGiven = false;
  float frame = 1.0f;
  bool frameGiven = false;
  std::string mode, shading, antiAlias, size, preset, selection, format, output, progress;
  bool shadows = false, shadowsGiven = false;
  bool reflections = false, reflectionsGiven = false;
  bool stamp = false, stampGiven = false;
  int threads = 0;
  bool skipExisting = false;
  bool listMissing = false;
  bool strict = false;
  bool quick = false;
};
int RenderScene(const SceneRenderArgs& args);
// "WIDTHxHEIGHT", each 1 to 16384; false leaves width and height.
bool ParseSize(const std::string& text, int& width, int& height);

// Choreographies.
bool ChoreographyInfo(const std::string& file, nlohmann::ordered_json& info, std::string& message);
int ChoreographyEval(const std::string& file, float frame, bool json);
int ChoreographyResave(const std::string& in, const std::string& out);
int Simulate(const std::string& in, const std::string& out);

int SettingsList();
int SettingsGet(const std::string& section, const std::string& key);
int SettingsSet(const std::string& section, const std::string& key, const std::string& value);

int ProjectAdd(const std::string& name, const std::string& directory);
int ProjectList();

}  // namespace zentrope::cli
