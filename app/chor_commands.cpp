// Choreography subcommands: describing, evaluating and simulating scenes.
#include <iostream>
#include <memory>
#include <set>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "chor/choreography_file.h"
#include "chor/dynamics.h"
#include "chor/frame_evaluation.h"
#include "chor/scene_lights.h"
#include "commands.h"
#include "render/render_settings.h"
#include "shell/atomic_file.h"
#include "shell/interrupt.h"
#include "shell/project_paths.h"
#include "shell/text_encoding.h"

namespace zentrope::cli {

namespace {

using nlohmann::ordered_json;

ordered_json Triple(const Vector3& v) {
  return ordered_json::array({v.x, v.y, v.z});
}

Result<Choreography> OpenOrReport(const std::string& file) {
  Result<Choreography> chor = read_choreography(file);
  if (!chor) {
    std::cerr << Explain(file, chor.failure().message, chor.failure().detail) << '\n';
  }
  return chor;
}

int SaveOrReport(const Choreography& chor, const std::string& out) {
  if (MemoryRanOut()) {
    return 1;
  }
  std::string detail;
  if (write_choreography(chor, out, &detail) != SaveStatus::kSaved) {
    std::cerr << out << ": "
              << SaveFailureLine({"the choreography could not be saved"},
                                 SaveReasonFor(detail, LocateFile(out).value_or(out)))
              << '\n';
    return 1;
  }
  return 0;
}

// Segments and actions that could not be read leave their figures without
// them: the scene still evaluates, but never silently.
void WarnAboutProblems(const std::string& file, const Choreography& chor) {
  std::set<std::string> warned;  // a file placed twice is named once
  for (const FigureInstance* f : chor.AllFigures()) {
    for (const std::string& problem : f->runtime.problems) {
      if (warned.insert(problem).second) {
        std::cerr << Utf8FromLegacy(file + ": warning: " + problem) << '\n';
      }
    }
  }
}

}  // namespace

bool ChoreographyInfo(const std::string& file, nlohmann::ordered_json& info, std::string& message) {
  Result<Choreography> chor = read_choreography(file);
  if (!chor) {
    message = Explain(file, chor.failure().message, chor.failure().detail);
    return false;
  }
  const SceneSettings& s = chor->scene;
  ordered_json j;
  j["type"] = "CHOR";
  j["version"] = chor->fileVersion;
  j["length"] = s.length;
  j["render_from"] = s.renderFrom;
  j["render_to"] = s.renderTo;
  j["render_step"] = s.renderStep;
  j["output_name"] = s.outputName;
  j["render_format"] = RenderFormatName(RenderFormatForOutput(s.outputName));
  j["output_size"] = ordered_json::array({s.outputWidth, s.outputHeight});
  j["paths"] = chor->paths.size();
  j["lights"] = chor->lights.size();
  const std::vector<const FigureInstance*> figures = std::as_const(*chor).AllFigures();
  j["figures"] = figures.size();
  ordered_json tracks = ordered_json::array();
  ordered_json files = ordered_json::array();
  for (const FigureInstance* f : figures) {
    ordered_json counts = ordered_json::array();
    for (const Track& t : f->tracks) {
      counts.push_back(t.placements.size());
    }
    tracks.push_back(counts);
    files.push_back(f->fileName);
  }
  j["tracks"] = tracks;
  j["figure_files"] = files;
  info = j;
  return true;
}

int ChoreographyEval(const std::string& file, float frame, bool json) {
  Result<Choreography> chor = OpenOrReport(file);
  if (!chor) {
    return 1;
  }
  std::string message;
  if (const int code =
          evaluate_figures(Transform::Identity(), chor->figures, frame, *chor, {}, &message)) {
    std::cerr << Utf8FromLegacy(file + ": evaluation stopped with error " + std::to_string(code) +
                                ": " + message)
              << '\n';
    return 1;
  }
  WarnAboutProblems(file, std::as_const(*chor));
  ordered_json j;
  j["frame"] = frame;
  const CameraState camera = CameraAt(*chor, frame);
  j["camera"] = {{"position", Triple(camera.position)},
                 {"target", Triple(camera.target)},
                 {"channels", camera.channels}};
  ordered_json lights = ordered_json::array();
  for (const LightState& l : LightsAt(*chor, frame)) {
    lights.push_back({{"position", Triple(l.position)},
                      {"direction", Triple(l.direction)},
                      {"type", l.type},
                      {"colour", Triple(l.colour)},
                      {"width", l.width},
                      {"reach", l.reach}});
  }
  j["lights"] = lights;
  ordered_json figures = ordered_json::array();
  for (const FigureInstance* f : std::as_const(*chor).AllFigures()) {
    ordered_json tracks = ordered_json::array();
    for (std::size_t t = 0; t < f->tracks.size(); ++t) {
      const int current = f->tracks[t].current;
      tracks.push_back({{"placement", current},
                        {"action_frame", current >= 0 && t < f->runtime.actionFrames.size()
                                             ? ordered_json(f->runtime.actionFrames[t])
                                             : ordered_json(nullptr)}});
    }
    figures.push_back({{"file", f->fileName},
                       {"placement_transform", f->runtime.placement.t},
                       {"scale", Triple(f->runtime.scale)},
                       {"tracks", tracks}});
  }
  j["figures"] = figures;
  j = Printable(j);
  if (json) {
    std::cout << Dump(j) << '\n';
    return 0;
  }
  std::cout << "frame " << frame << "\ncamera " << j["camera"]["position"].dump() << " looking at "
            << j["camera"]["target"].dump() << '\n';
  for (const auto& l : j["lights"]) {
    std::cout << "light type " << l["type"].dump() << " at " << l["position"].dump() << " colour "
              << l["colour"].dump() << '\n';
  }
  for (const auto& f : j["figures"]) {
    std::cout << f["file"].get<std::string>() << "\n  placement " << f["placement_transform"].dump()
              << "\n  scale " << f["scale"].dump() << "\n  tracks " << f["tracks"].dump() << '\n';
  }
  return 0;
}

int ChoreographyResave(const std::string& in, const std::string& out) {
  Result<Choreography> chor = OpenOrReport(in);
  if (!chor) {
    return 1;
  }
  return SaveOrReport(*chor, out);
}

int Simulate(const std::string& in, const std::string& out) {
  Result<Choreography> chor = OpenOrReport(in);
  if (!chor) {
    return 1;
  }
  const DynamicsRun run = RunDynamics(*chor, escape_pressed);
  if (run.code != 0) {
    std::cerr << in << ": the simulation stopped with error " << run.code << ": " << run.message
              << '\n';
    return 1;
  }
  if (!run.completed) {
    std::cerr << in << ": the simulation was interrupted; nothing was written\n";
    return 1;
  }
  WarnAboutProblems(in, std::as_const(*chor));
  return SaveOrReport(*chor, out);
}

void RegisterChoreographyCommands(CLI::App& app, Runner& chosen) {
  struct SimulateArgs {
    std::string in, out;
  };
  auto args = std::make_shared<SimulateArgs>();
  CLI::App* simulate =
      app.add_subcommand("simulate", "Run a scene's dynamics and save the simulated motion");
  simulate->add_option("SCENE", args->in, "Choreography to simulate")->required();
  simulate->add_option("-o,--output", args->out, "Where to write the result")->required();
  simulate->callback(
      [&chosen, args] { chosen = [args] { return Simulate(args->in, args->out); }; });
}

}  // namespace zentrope::cli
