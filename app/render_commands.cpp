// Render subcommands: a single frame of one model drawn by the z-buffer
// renderer and written as a Targa or PNG picture.
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "render/model_render.h"
#include "render/model_scene.h"
#include "render/picture_file.h"
#include "render/render_errors.h"
#include "render/render_settings.h"
#include "shell/interrupt.h"
#include "shell/settings.h"
#include "shell/text_encoding.h"

namespace zentrope::cli {

namespace {

struct RenderArgs {
  std::string model;
  std::string action;
  float frame = 1.0f;
  std::string mode = "zbuffer";
  std::string shading;  // empty: QUICKRENDER "ZBufferMode"
  std::string size;     // WxH; empty: the RENDER output size
  int threads = 0;
  std::string output;
};

bool ParseSize(const std::string& text, int& width, int& height) {
  int w = 0, h = 0;
  char x = 0, extra = 0;
  if (std::sscanf(text.c_str(), "%d%c%d%c", &w, &x, &h, &extra) != 3 || (x != 'x' && x != 'X')) {
    return false;
  }
  if (w < 1 || h < 1 || w > 16384 || h > 16384) {
    return false;
  }
  width = w;
  height = h;
  return true;
}

// Shows the render error's message and logs its line; 1 for the exit status.
int RenderFailed(const std::string& output, int code, const std::string& reason) {
  ReportRenderError(code);
  std::cerr << Explain(output, RenderErrorMessage(code), reason) << '\n';
  return 1;
}

int RenderCommand(const RenderArgs& args) {
  if (args.mode != "zbuffer") {
    std::cerr << "zentrope render: --mode " << args.mode
              << " is not available yet; use --mode zbuffer\n";
    return 2;
  }
  if (PictureFormatFor(args.output) == PictureFormat::kUnknown) {
    std::cerr << "zentrope render: the output must end in .tga or .png\n";
    return 2;
  }
  const SessionRenderSettings& session = RenderSettingsOfSession();
  ModelRenderOptions options;
  options.shading = session.quick.shading;
  if (args.shading == "flat") {
    options.shading = Shading::kFlat;
  } else if (args.shading == "gouraud") {
    options.shading = Shading::kGouraud;
  } else if (args.shading == "phong") {
    options.shading = Shading::kPhong;
  }
  options.showDecals = session.quick.showDecals;
  options.light = session.quick.LightDirection();
  options.subdivision = SubdivisionSettings::FromSettings(Settings());
  options.width = session.full.OutputWidth();
  options.height = session.full.OutputHeight();
  if (!args.size.empty() && !ParseSize(args.size, options.width, options.height)) {
    std::cerr << "zentrope render: --size must be WIDTHxHEIGHT, each 1 to 16384\n";
    return 2;
  }
  options.threads = args.threads;
  options.frame = static_cast<int>(args.frame);

  ModelSceneRequest request;
  request.model = args.model;
  request.action = args.action;
  request.frame = args.frame;
  Result<ModelScene> scene = LoadModelScene(request);
  if (!scene) {
    const std::string& file = args.action.empty() ? args.model : args.action;
    std::cerr << Explain(file, scene.failure().message, scene.failure().detail) << '\n';
    return 1;
  }
  for (const std::string& problem : scene->problems) {
    std::cerr << Utf8FromLegacy(args.model + ": warning: " + problem) << '\n';
  }
  if (MemoryRanOut()) {
    return 1;
  }

  const auto start = std::chrono::steady_clock::now();
  const ModelRenderResult result = RenderModel(*scene, options);
  const auto stop = std::chrono::steady_clock::now();
  if (result.code == render_error::kAborted) {
    std::cerr << "zentrope render: stopped; nothing written\n";
    return 1;
  }
  if (result.code == render_error::kMemory && MemoryRanOut()) {
    // The pool refused: the program's out-of-memory report (107, its
    // error-log line and the limit) follows once, as for any command.
    return 1;
  }
  if (result.code != 0) {
    return RenderFailed(args.output, result.code, {});
  }
  if (MemoryRanOut()) {
    return 1;
  }
  const PictureWrite written = WritePicture(result.picture, args.output);
  if (written.code != 0) {
    return RenderFailed(args.output, written.code, written.reason);
  }
  const double ms = std::chrono::duration<double, std::milli>(stop - start).count();
  std::printf("%s: %dx%d, %zu pieces, %.1f ms\n", args.output.c_str(), result.picture.width,
              result.picture.height, result.pieces, ms);
  return 0;
}

}  // namespace

void RegisterRenderCommands(CLI::App& app, Runner& chosen) {
  auto args = std::make_shared<RenderArgs>();
  CLI::App* render =
      app.add_subcommand("render", "Render one model (a segment or a figure) to a picture");
  render->add_option("MODEL", args->model, "MODEL.seg or FIGURE.fig")->required();
  render->add_option("--action", args->action, "ACTION.act that poses the figure");
  render->add_option("--frame", args->frame, "Frame of the action (from 1)");
  render->add_option("--mode", args->mode, "Renderer")->check(CLI::IsMember({"zbuffer"}));
  render->add_option("--shading", args->shading, "flat, gouraud or phong (default: QUICKRENDER)")
      ->check(CLI::IsMember({"flat", "gouraud", "phong"}));
  render->add_option("--size", args->size, "WIDTHxHEIGHT (default: the RENDER output size)");
  render->add_option("--threads", args->threads, "Threads (0: every core)")
      ->check(CLI::Range(0, 256));
  render->add_option("-o,--output", args->output, "OUT.tga or OUT.png")->required();
  render->callback([&chosen, args] { chosen = [args] { return RenderCommand(*args); }; });
}

}  // namespace zentrope::cli
