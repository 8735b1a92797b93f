// The render subcommand: a choreography's frames (or an action's on a
// figure) through the render driver, or a single frame of one model drawn
// by the z-buffer renderer or the raytracer and written as a picture.

#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "render/model_raytrace.h"
#include "render/model_render.h"
#include "render/model_scene.h"
#include "render/picture_file.h"
#include "render/render_errors.h"
#include "render/render_settings.h"
#include "shell/error_log.h"
#include "shell/interrupt.h"
#include "shell/memory_pool.h"
#include "shell/settings.h"
#include "shell/text_encoding.h"

namespace zentrope::cli {

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
  // Raytrace only. Shadows and reflections default to QUICKRENDER's; the
  // option pointers tell whether the command line said either way.
  bool shadows = false;
  bool reflections = false;
  std::string antiAlias;  // empty: QUICKRENDER "AntiAlias"
  bool alpha = false;
  bool depth = false;
  bool shadowPicture = false;
  CLI::Option* shadowsOption = nullptr;
  CLI::Option* reflectionsOption = nullptr;
  CLI::Option* antiAliasOption = nullptr;
  CLI::Option* alphaOption = nullptr;
  CLI::Option* depthOption = nullptr;
  CLI::Option* shadowPictureOption = nullptr;
  CLI::Option* shadingOption = nullptr;
  CLI::Option* modeOption = nullptr;
  CLI::Option* frameOption = nullptr;
};

// Shows the render error's message and logs its line; 1 for the exit status.
int RenderFailed(const std::string& output, int code, const std::string& reason) {
  ReportRenderError(code);
  std::cerr << Explain(output, RenderErrorMessage(code), reason) << '\n';
  return 1;
}

// The scene of the model (and action) named; null after saying why. Warnings
// about files that could not be read are printed.
std::optional<ModelScene> LoadScene(const RenderArgs& args) {
  ModelSceneRequest request;
  request.model = args.model;
  request.action = args.action;
  request.frame = args.frame;
  Result<ModelScene> scene = LoadModelScene(request);
  if (!scene) {
    const std::string& file = args.action.empty() ? args.model : args.action;
    std::cerr << Explain(file, scene.failure().message, scene.failure().detail) << '\n';
    return std::nullopt;
  }
  for (const std::string& problem : scene->problems) {
    std::cerr << Utf8FromLegacy(args.model + ": warning: " + problem) << '\n';
  }
  return std::move(*scene);
}

// The exit status a frame's render code gives, after its report: 0 when the
// frame succeeded and nothing ran out.
int FrameStatus(const std::string& picture, int code, const std::string& reason) {
  if (code == render_error::kAborted) {
    std::cerr << "zentrope render: stopped; nothing written\n";
    return 1;
  }
  if (code == render_error::kMemory && MemoryRanOut()) {
    // The pool refused: the program's out-of-memory report (107, its
    // error-log line and the limit) follows once, as for any command.
    return 1;
  }
  if ((code == render_error::kLineBuffer || code == render_error::kBinnodeMemory) &&
      MemoryRanOut()) {
    // The frame's own memory code, message and log line, with the remedy;
    // the program's 107 report would say the same thing a second time.
    NoteMemoryReported();
    return RenderFailed(picture, code,
                        "the memory limit, MEMORY MaxMemory, is " +
                            std::to_string(MemoryPool::Main().limit() / 1024) + " kilobytes");
  }
  if (code != 0) {
    return RenderFailed(picture, code, reason);
  }
  return MemoryRanOut() ? 1 : 0;
}

int ZBufferCommand(const RenderArgs& args, int width, int height) {
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
  options.width = width;
  options.height = height;
  options.threads = args.threads;
  options.frame = static_cast<int>(args.frame);

  std::optional<ModelScene> scene = LoadScene(args);
  if (!scene || MemoryRanOut()) {
    return 1;
  }

  const auto start = std::chrono::steady_clock::now();
  const ModelRenderResult result = RenderModel(*scene, options);
  const auto stop = std::chrono::steady_clock::now();
  if (const int status = FrameStatus(args.output, result.code, {})) {
    return status;
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

int RaytraceCommand(const RenderArgs& args, int width, int height) {
  const bool png = PictureFormatFor(args.output) == PictureFormat::kPng;
  if (png && (args.alpha || args.depth || args.shadowPicture)) {
    std::cerr << "zentrope render: --alpha, --depth and --shadow-picture write Targa pictures; "
                 "use a .tga output\n";
    return 2;
  }
  const SessionRenderSettings& session = RenderSettingsOfSession();
  ModelRaytraceOptions options;
  options.width = width;
  options.height = height;
  options.showDecals = session.quick.showDecals;
  options.light = session.quick.LightDirection();
  options.shadows = args.shadowsOption->count() > 0 ? args.shadows : session.quick.shadows;
  options.reflections =
      args.reflectionsOption->count() > 0 ? args.reflections : session.quick.reflections;
  options.antiAlias = session.quick.antiAlias;
  if (args.antiAlias == "none") {
    options.antiAlias = AntiAlias::kNone;
  } else if (args.antiAlias == "low") {
    options.antiAlias = AntiAlias::kLow;
  } else if (args.antiAlias == "high") {
    options.antiAlias = AntiAlias::kHigh;
  }
  options.alpha = args.alpha;
  options.depthPicture = args.depth;
  options.shadowPicture = args.shadowPicture;
  options.threads = args.threads;
  options.frame = static_cast<int>(args.frame);

  std::optional<ModelScene> scene = LoadScene(args);
  if (!scene || MemoryRanOut()) {
    return 1;
  }

  const auto start = std::chrono::steady_clock::now();
  const ModelRaytraceResult result = RaytraceModel(*scene, options, args.output, TempDirectory());
  const auto stop = std::chrono::steady_clock::now();
  // The picture that failed may be a ".dep" or ".sha" beside the output, or
  // a temporary picture: name that one.
  if (const int status = FrameStatus(result.file.empty() ? args.output : result.file.string(),
                                     result.code, result.reason)) {
    return status;
  }
  const auto total = static_cast<unsigned long long>(result.frame.loop.counts.Total());
  const double ms = std::chrono::duration<double, std::milli>(stop - start).count();
  std::printf(
      "%s: %dx%d, %zu objects, %llu rays, %.1f ms (objects %.1f, tree %.1f, trace %.1f, "
      "write %.1f)\n",
      args.output.c_str(), width, height, result.objects, total, ms, result.objectsMs,
      result.treeMs, result.frame.traceMs, result.frame.writeMs);
  return 0;
}

int RenderCommand(const RenderArgs& args) {
  const bool raytrace = args.mode == "raytrace";
  if (!raytrace) {
    // Options only the raytracer reads are a mistake with the z-buffer, not
    // something to drop in silence.
    for (const CLI::Option* option :
         {args.shadowsOption, args.reflectionsOption, args.antiAliasOption, args.alphaOption,
          args.depthOption, args.shadowPictureOption}) {
      if (option->count() > 0) {
        std::cerr << "zentrope render: " << option->get_name() << " is for --mode raytrace only\n";
        return 2;
      }
    }
  } else if (args.shadingOption->count() > 0) {
    std::cerr << "zentrope render: --shading is for --mode zbuffer only\n";
    return 2;
  }
  if (PictureFormatFor(args.output) == PictureFormat::kUnknown) {
    std::cerr << "zentrope render: the output must end in .tga or .png\n";
    return 2;
  }
  const SessionRenderSettings& session = RenderSettingsOfSession();
  int width = session.full.OutputWidth();
  int height = session.full.OutputHeight();
  if (!args.size.empty() && !ParseSize(args.size, width, height)) {
    std::cerr << "zentrope render: --size must be WIDTHxHEIGHT, each 1 to 16384\n";
    return 2;
  }
  return raytrace ? RaytraceCommand(args, width, height) : ZBufferCommand(args, width, height);
}

}  // namespace

namespace {

bool IsSceneDocument(const std::string& path) {
  if (path.empty()) {
    return true;  // the demo production
  }
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return ext == ".cho" || ext == ".act" || ext == ".ske" || ext == ".mor";
}

// A render of one model (segment or figure) or of a range (a scene or an
// action), by the document named; options only the other kind reads are a
// usage error rather than something dropped in silence.
int Dispatch(const RenderArgs& args, SceneRenderArgs scene,
             const std::vector<const CLI::Option*>& sceneOnly,
             const std::vector<const CLI::Option*>& modelOnly) {
  if (IsSceneDocument(args.model)) {
    for (const CLI::Option* option : modelOnly) {
      if (option->count() > 0) {
        std::cerr << "zentrope render: " << option->get_name()
                  << " is for a single model (.seg or .fig)\n";
        return 2;
      }
    }
    scene.document = args.model;
    scene.mode = args.modeOption->count() > 0 ? args.mode : std::string();
    scene.shading = args.shading;
    scene.antiAlias = args.antiAlias;
    scene.size = args.size;
    scene.output = args.output;
    scene.threads = args.threads;
    scene.frame = args.frame;
    scene.frameGiven = args.frameOption->count() > 0;
    scene.shadows = args.shadows;
    scene.shadowsGiven = args.shadowsOption->count() > 0;
    scene.reflections = args.reflections;
    scene.reflectionsGiven = args.reflectionsOption->count() > 0;
    return RenderScene(scene);
  }
  for (const CLI::Option* option : sceneOnly) {
    if (option->count() > 0) {
      std::cerr << "zentrope render: " << option->get_name()
                << " is for a choreography or an action render\n";
      return 2;
    }
  }
  if (args.mode == "wireframe") {
    std::cerr << "zentrope render: --mode wireframe is for a choreography or an action render\n";
    return 2;
  }
  if (args.output.empty()) {
    std::cerr << "zentrope render: a model render needs -o OUT.tga or OUT.png\n";
    return 2;
  }
  return RenderCommand(args);
}

}  // namespace

void RegisterRenderCommands(CLI::App& app, Runner& chosen) {
  auto args = std::make_shared<RenderArgs>();
  auto scene = std::make_shared<SceneRenderArgs>();
  CLI::App* render = app.add_subcommand(
      "render",
      "Render a choreography's frames (default: the demo), an action on a figure, or one model");
  render->add_option("DOCUMENT", args->model,
                     "SCENE.cho (default: examples/demo/demo.cho), ACTION.act with --figure, or "
                     "MODEL.seg / FIGURE.fig");
  auto actionOption =
      render->add_option("--action", args->action, "ACTION.act that poses the figure");
  args->frameOption = render->add_option(
      "--frame", args->frame, "Frame of the action (from 1); with --quick, the frame to render");
  args->modeOption = render
                         ->add_option("--mode", args->mode,
                                      "wireframe, zbuffer or raytrace (default: RENDER settings; "
                                      "zbuffer for one model)")
                         ->check(CLI::IsMember({"wireframe", "zbuffer", "raytrace"}));
  args->shadingOption = render
                            ->add_option("--shading", args->shading,
                                         "zbuffer: flat, gouraud or phong (default: the settings)")
                            ->check(CLI::IsMember({"flat", "gouraud", "phong"}));
  args->shadowsOption = render->add_flag("--shadows,!--no-shadows", args->shadows,
                                         "raytrace: shadows (default: the settings)");
  args->reflectionsOption = render->add_flag("--reflections,!--no-reflections", args->reflections,
                                             "raytrace: reflections (default: the settings)");
  args->antiAliasOption = render
                              ->add_option("--aa", args->antiAlias,
                                           "raytrace: none, low or high (default: the settings)")
                              ->check(CLI::IsMember({"none", "low", "high"}));
  args->alphaOption = render->add_flag("--alpha", args->alpha, "raytrace: 32-bit Targa with alpha");
  args->depthOption =
      render->add_flag("--depth", args->depth, "raytrace: depth picture OUT.dep beside the output");
  args->shadowPictureOption =
      render->add_flag("--shadow-picture", args->shadowPicture,
                       "raytrace: shadow picture OUT.sha beside the output");
  render->add_option("--size", args->size, "WIDTHxHEIGHT (default: the scene's or RENDER's size)");
  render
      ->add_option("--threads", args->threads,
                   "Threads (0: the cores this process may use, within SLURM_CPUS_PER_TASK)")
      ->check(CLI::Range(0, 256));
  render->add_option("-o,--output", args->output,
                     "Output: OUT.tga or OUT.png for a model; for a range a Targa or PNG "
                     "sequence (a run of # numbers frames: shots/walk_####.png), OUT.avi, or "
                     "geometry (.dxf, .qtm, .obj, .glb). Default: the scene's output name");
  // The stamp flag's count tells whether the command line said either way.
  const CLI::Option* stampOption =
      render->add_flag("--stamp,!--no-stamp", scene->stamp,
                       "Stamp the frame number (default: RENDER ShowFrameNumber)");
  const CLI::Option* framesOption = render->add_option(
      "--frames", scene->frames, "Frames: 1-100, 1-100x5 or 1,3,7-20 (default: the scene's range)");
  const CLI::Option* stepOption =
      render->add_option("--step", scene->step, "Step between frames (default: the scene's)");
  std::vector<const CLI::Option*> sceneOnly = {
      render->add_option("--figure", scene->figure, "FIGURE.fig an action renders on"),
      framesOption,
      stepOption,
      render->add_option("--preset", scene->preset,
                         "Size preset: MINI, LORES, TARGA, HIRES, D1, FILM"),
      render->add_option("--selection", scene->selection,
                         "X1,Y1,X2,Y2: render exactly this rectangle of the window (SELECTION)"),
      render->add_option("--format", scene->format, "tga, png, avi, dxf, qtm, obj or glb")
          ->check(CLI::IsMember({"tga", "png", "avi", "dxf", "qtm", "obj", "glb"})),
      render
          ->add_option("--progress", scene->progress,
                       "bar, json (one line per frame on standard error) or none")
          ->check(CLI::IsMember({"bar", "json", "none"})),
      stampOption,
      render->add_flag("--skip-existing", scene->skipExisting,
                       "Leave frames whose file is already complete (resume)"),
      render->add_flag("--list-missing", scene->listMissing,
                       "Print the frames whose files do not exist yet; render nothing"),
      render->add_flag("--strict", scene->strict,
                       "Fail before the first frame when any file the scene names is missing"),
      render->add_flag("--quick", scene->quick,
                       "One frame (--frame) with the QUICKRENDER settings, to -o as a picture"),
  };
  std::vector<const CLI::Option*> modelOnly = {actionOption, args->alphaOption, args->depthOption,
                                               args->shadowPictureOption};
  render->callback(
      [&chosen, args, scene, sceneOnly, modelOnly, stampOption, framesOption, stepOption] {
        chosen = [args, scene, sceneOnly, modelOnly, stampOption, framesOption, stepOption] {
          SceneRenderArgs s = *scene;
          s.stampGiven = stampOption->count() > 0;
          s.framesGiven = framesOption->count() > 0;
          s.stepGiven = stepOption->count() > 0;
          return Dispatch(*args, s, sceneOnly, modelOnly);
        };
      });
}

}  // namespace zentrope::cli
