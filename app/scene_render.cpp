// `zentrope render SCENE.cho` and `zentrope render ACTION.act --figure FIG`:
// the settings and options made into a render job, the range rendered by
// the render driver with a progress bar or JSON lines, and the summary.

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "anim/action_file.h"
#include "chor/choreography_file.h"
#include "chor/frame_evaluation.h"
#include "commands.h"
#include "io/avi_compression.h"
#include "io/frame_files.h"
#include "io/render_driver.h"
#include "io/scene_render_job.h"
#include "render/picture_file.h"
#include "render/render_errors.h"
#include "render/render_settings.h"
#include "render/tessellation.h"
#include "shell/interrupt.h"
#include "shell/project_paths.h"
#include "shell/settings.h"
#include "shell/string_table.h"
#include "shell/text_encoding.h"
#include "shell/usable_cores.h"

namespace zentrope::cli {

namespace {

constexpr int kUsageError = 2;
constexpr int kInterrupted = 130;

int Usage(const std::string& text) {
  std::cerr << "zentrope render: " << text << '\n';
  return kUsageError;
}

std::string FrameWord(float frame) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(frame));
  return text;
}

// A whole frame as an integer, for farm tools that expect one.
nlohmann::ordered_json JsonFrame(float frame) {
  if (frame == std::floor(frame) && std::fabs(frame) < 1e9f) {
    return static_cast<long long>(frame);
  }
  return frame;
}

std::string Duration(double seconds) {
  char text[32];
  if (seconds < 60.0) {
    std::snprintf(text, sizeof text, "%.1f s", seconds);
  } else {
    const int s = static_cast<int>(seconds + 0.5);
    std::snprintf(text, sizeof text, "%d:%02d", s / 60, s % 60);
  }
  return text;
}

// The bar on a terminal, JSON lines for farm managers, or nothing.
class CommandProgress final : public RenderProgress {
 public:
  enum class Style { kBar, kJson, kNone };
  explicit CommandProgress(Style style) : style_(style), start_(Clock::now()) {}

  void FrameStarted(int index, int count, float, const std::string& title) override {
    if (style_ == Style::kBar) {
      Draw(index, count, title);
    }
  }
  void FrameFinished(const FrameDone& done, int count) override {
    ++finished_;
    if (!done.skipped) {
      ++rendered_;
      renderedSeconds_ += done.seconds;
    }
    if (style_ == Style::kJson) {
      nlohmann::ordered_json line = {{"event", "frame"},        {"frame", JsonFrame(done.frame)},
                                     {"file", done.file},       {"seconds", done.seconds},
                                     {"skipped", done.skipped}, {"index", done.index + 1},
                                     {"count", count}};
      std::cerr << Dump(Printable(line)) << std::endl;
    } else if (style_ == Style::kBar) {
      Draw(finished_, count, "frame " + FrameWord(done.frame) + (done.skipped ? " kept" : ""));
    }
  }
  void Warning(const std::string& text) override {
    Clear();
    std::cerr << Utf8FromLegacy("zentrope render: warning: " + text) << std::endl;
  }
  bool StopRequested() override { return stop_requested(); }
  void Clear() {
    if (style_ == Style::kBar && drawn_) {
      std::fputs("\r\033[K", stderr);
      std::fflush(stderr);
      drawn_ = false;
    }
  }
  double Elapsed() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }
  Style style() const { return style_; }

 private:
  using Clock = std::chrono::steady_clock;
  void Draw(int done, int count, const std::string& what) {
    constexpr int kWidth = 24;
    const int filled = count > 0 ? done * kWidth / count : kWidth;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(kWidth, '.');
    const double elapsed = Elapsed();
    std::string left = "--";
    if (rendered_ > 0 && count > done) {
      left = Duration(renderedSeconds_ / rendered_ * (count - done));
    }
    std::fprintf(stderr, "\r\033[K[%s] %d of %d  %s  %s elapsed, %s left", bar.c_str(), done, count,
                 what.c_str(), Duration(elapsed).c_str(), left.c_str());
    std::fflush(stderr);
    drawn_ = true;
  }
  Style style_;
  Clock::time_point start_;
  int finished_ = 0;
  int rendered_ = 0;
  double renderedSeconds_ = 0.0;
  bool drawn_ = false;
};

bool ParseSelection(const std::string& text, SelectionRect& r) {
  char extra = 0;
  return std::sscanf(text.c_str(), "%d,%d,%d,%d%c", &r.x1, &r.y1, &r.x2, &r.y2, &extra) == 4;
}

std::string ReplaceExtension(const std::string& name, const char* word) {
  return std::filesystem::path(name).replace_extension(std::string(".") + word).string();
}

// The demo production: in the current folder's examples, else in the
// sources the program was built from.
std::string DemoScene() {
  const std::filesystem::path local = "examples/demo/demo.cho";
  std::error_code ec;
  if (std::filesystem::is_regular_file(local, ec)) {
    return local.string();
  }
#ifdef ZENTROPE_EXAMPLES_DIR
  const std::filesystem::path built =
      std::filesystem::path(ZENTROPE_EXAMPLES_DIR) / "demo/demo.cho";
  if (std::filesystem::is_regular_file(built, ec)) {
    return built.string();
  }
#endif
  return local.string();
}

bool IsActionFile(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return ext == ".act" || ext == ".ske" || ext == ".mor";
}

}  // namespace

int RenderScene(const SceneRenderArgs& args) {
  const SessionRenderSettings& session = RenderSettingsOfSession();
  RenderJob job;
  const std::string document = args.document.empty() ? DemoScene() : args.document;

  // What the range, the size and the name come from: the choreography's
  // own render settings, or the session's for an action.
  float from = 1.0f, to = 1.0f, step = session.full.step;
  std::string outputName = session.full.outputName;
  std::int16_t preset = session.full.OutputPreset();
  int width = session.full.OutputWidth(), height = session.full.OutputHeight();
  if (IsActionFile(document)) {
    if (args.figure.empty()) {
      return Usage("an action renders on a figure: give --figure FIGURE.fig");
    }
    std::int16_t length = 0;
    float stride = 0.0f;
    if (!PeekActionTiming(document, length, stride)) {
      std::error_code ec;
      std::cerr << Explain(document, LoadString(str::kTroubleOpeningAction),
                           std::filesystem::exists(document, ec)
                               ? "not an action file this program reads"
                               : "no such file")
                << '\n';
      return 1;
    }
    job.window = RenderWindow::kSkeletal;
    job.document = args.figure;
    job.action = document;
    to = std::max<float>(1.0f, length);
  } else {
    if (!args.figure.empty()) {
      return Usage("--figure is for action renders (ACTION.act --figure FIGURE.fig)");
    }
    Result<Choreography> chor = read_choreography(document);
    if (!chor) {
      std::cerr << Explain(document, chor.failure().message, chor.failure().detail) << '\n';
      return 1;
    }
    const SceneSettings& scene = chor->scene;
    job.window = RenderWindow::kDirection;
    job.document = document;
    from = scene.renderFrom;
    to = scene.renderTo;
    step = scene.renderStep > 0.0f ? scene.renderStep : 1.0f;
    if (!scene.outputName.empty()) {
      outputName = scene.outputName;
    }
    preset = scene.outputPreset;
    width = scene.outputWidth;
    height = scene.outputHeight;
    std::int16_t w = 0, h = 0;
    if (PresetSize(preset, w, h)) {
      width = w;
      height = h;
    }
    if (session.full.selectionOutput) {
      preset = kPresetSelection;
    }
  }
  LookFromSettings(job, args.quick);

  // Options over the settings.
  if (!args.mode.empty()) {
    job.mode = args.mode == "wireframe"  ? RenderMode::kWireframe
               : args.mode == "raytrace" ? RenderMode::kRaytrace
                                         : RenderMode::kZBuffer;
  }
  if (!args.shading.empty()) {
    job.shading = args.shading == "flat"    ? Shading::kFlat
                  : args.shading == "phong" ? Shading::kPhong
                                            : Shading::kGouraud;
  }
  if (args.shadowsGiven) {
    job.shadows = args.shadows;
  }
  if (args.reflectionsGiven) {
    job.reflections = args.reflections;
  }
  if (!args.antiAlias.empty()) {
    job.antiAlias = args.antiAlias == "high"  ? AntiAlias::kHigh
                    : args.antiAlias == "low" ? AntiAlias::kLow
                                              : AntiAlias::kNone;
  }
  if (args.stampGiven) {
    job.frameNumber = args.stamp;
  }
  if (args.stepGiven) {
    if (!(args.step > 0.0f) || !std::isfinite(args.step)) {
      return Usage("--step must be a positive number of frames");
    }
    step = args.step;
  }
  if (!args.size.empty() && !args.preset.empty()) {
    return Usage("give --size or --preset, not both");
  }
  if (!args.size.empty()) {
    if (!ParseSize(args.size, width, height)) {
      return Usage("--size must be WIDTHxHEIGHT, each 1 to 16384");
    }
    preset = kPresetCustom;
  } else if (!args.preset.empty()) {
    const std::int16_t index = PresetIndexNamed(args.preset);
    std::int16_t w = 0, h = 0;
    if (!PresetSize(index, w, h)) {
      return Usage("--preset must be MINI, LORES, TARGA, HIRES, D1 or FILM");
    }
    preset = index;
    width = w;
    height = h;
  }
  width = std::max(width, 1);
  height = std::max(height, 1);
  job.width = width;
  job.height = height;
  if (!args.selection.empty()) {
    SelectionRect r;
    if (!ParseSelection(args.selection, r)) {
      return Usage("--selection must be X1,Y1,X2,Y2 (the rectangle's corners in the window)");
    }
    if (r.x1 < 0 || r.y1 < 0 || r.x2 < r.x1 || r.y2 < r.y1 || r.x2 >= width || r.y2 >= height) {
      return Usage("--selection " + args.selection + " must lie within the " +
                   std::to_string(width) + "x" + std::to_string(height) + " window");
    }
    job.selection = r;
  } else if (preset == kPresetSelection) {
    return Usage(
        "the output is the window's selection (OutputMode SELECTION): give --selection "
        "X1,Y1,X2,Y2");
  }

  // Options that only one mode reads are a mistake with another, not
  // something to drop in silence.
  if (job.mode != RenderMode::kRaytrace &&
      (args.shadowsGiven || args.reflectionsGiven || !args.antiAlias.empty())) {
    return Usage("--shadows, --reflections and --aa are for --mode raytrace");
  }
  if (job.mode != RenderMode::kZBuffer && !args.shading.empty()) {
    return Usage("--shading is for --mode zbuffer");
  }
  if (args.quick && args.framesGiven) {
    return Usage("--quick renders one frame: give --frame F, not --frames");
  }
  if (args.frameGiven && !args.quick) {
    return Usage("--frame is for --quick (one frame); a range takes --frames");
  }
  if (args.frameGiven && (!std::isfinite(args.frame) || args.frame < 0.0f || args.frame > 999999)) {
    return Usage("--frame must be a frame number from 0 to 999999");
  }

  // The output: its name, and the format its extension or --format says.
  std::string name = args.output.empty() ? outputName : args.output;
  if (!args.output.empty() && std::filesystem::path(args.output).filename().empty()) {
    return Usage("-o " + args.output + " names a folder: give a file name");
  }
  if (args.output.empty()) {
    // A name the scene file holds may come from anywhere: it is used only
    // when it stays in the current folder (or names a project folder).
    const ResolvedPath resolved = resolve_path(name, Projects());
    const std::filesystem::path plain(name);
    bool inside = resolved.kind != PathKind::kPlain || !plain.is_absolute();
    for (const auto& part : plain) {
      inside = inside && part != "..";
    }
    if (resolved.kind == PathKind::kPlain && (!inside || plain.filename().empty())) {
      std::cerr << Utf8FromLegacy("zentrope render: " + document + ": the scene's output name \"" +
                                  name +
                                  "\" leads outside the current folder; name the output with -o")
                << '\n';
      return 1;
    }
  }
  if (!args.format.empty()) {
    const std::optional<DriverFormat> format = DriverFormatNamed(args.format);
    if (!format) {
      return Usage("--format must be tga, png, avi, dxf, qtm, obj or glb");
    }
    job.format = *format;
    if (args.output.empty()) {
      name = ReplaceExtension(name, DriverFormatWord(*format));
    } else if (DriverFormatForOutput(name) != *format ||
               std::filesystem::path(name).extension().empty()) {
      return Usage("-o " + args.output + " does not end in ." + DriverFormatWord(*format) +
                   " as --format " + args.format + " says");
    }
  } else {
    job.format = DriverFormatForOutput(name);
    if (std::filesystem::path(name).extension().empty()) {
      name += ".tga";
    }
  }
  std::string why;
  const std::optional<std::filesystem::path> located = LocateFile(name, &why);
  if (!located) {
    std::cerr << "zentrope render: " << name << ": " << why << "; name the output with -o\n";
    return 1;
  }
  job.outputName = located->string();
  if (args.skipExisting && !FramePerFile(job.format)) {
    return Usage("--skip-existing needs one file per frame (tga, png, dxf, obj, glb), not " +
                 std::string(DriverFormatWord(job.format)));
  }
  if (args.quick && job.format != DriverFormat::kPng && job.format != DriverFormat::kTarga) {
    return Usage("--quick renders one picture: give -o NAME.png or NAME.tga");
  }

  // The frames.
  if (args.quick) {
    job.frames = {args.frameGiven ? args.frame : from};
  } else if (args.framesGiven) {
    int a = 0, b = 0;
    char dash = 0, extra = 0;
    if (std::sscanf(args.frames.c_str(), "%d%c%d%c", &a, &dash, &b, &extra) == 3 && dash == '-' &&
        a > b) {
      std::cerr << "zentrope render: nothing to render: the range " << args.frames
                << " starts after its last frame\n";
      return 0;
    }
    std::string error;
    std::optional<std::vector<float>> frames = ParseFrameList(args.frames, step, &error);
    if (!frames) {
      return Usage("--frames " + args.frames + ": " + error);
    }
    job.frames = std::move(*frames);
  } else {
    job.frames = FrameRange(from, to, step);
    if (job.frames.empty()) {
      std::cerr << "zentrope render: " << document << ": nothing to render: the range starts at "
                << FrameWord(from) << ", after its last frame " << FrameWord(to) << '\n';
      return 0;
    }
  }

  if (FramePerFile(job.format) && !args.quick) {
    for (const float frame : job.frames) {
      if (frame != std::floor(frame)) {
        return Usage("frame " + FrameWord(frame) +
                     " has a fraction (a step below 1): a sequence of files numbers whole "
                     "frames; use --step 1 or a movie (.avi)");
      }
    }
  }

  job.compression = AviCompression::FromSettings(Settings());
  job.subdivision = SubdivisionSettings::FromSettings(Settings());
  job.threads = args.threads > 0 ? args.threads : UsableCores();
  job.skipExisting = args.skipExisting;

  if (args.listMissing) {
    for (const float frame : MissingFrames(job)) {
      std::printf("%s\n", FrameWord(frame).c_str());
    }
    return 0;
  }
  if (args.strict) {
    const std::vector<std::string> missing = MissingDocuments(job);
    for (const std::string& line : missing) {
      std::cerr << Utf8FromLegacy(line) << '\n';
    }
    if (!missing.empty()) {
      std::cerr << "zentrope render: --strict: " << missing.size()
                << " missing file(s); nothing rendered\n";
      return 1;
    }
  }

  CommandProgress::Style style = CommandProgress::Style::kNone;
  if (args.progress == "json") {
    style = CommandProgress::Style::kJson;
  } else if (args.progress == "bar" || (args.progress.empty() && StatusLineVisible())) {
    style = CommandProgress::Style::kBar;
  }
  CommandProgress progress(style);
  StopAfterFrame(true);
  ClearStopRequest();

  RenderOutcome outcome;
  if (args.quick) {
    QuickRender quick = quick_render(job, job.frames.front(), progress);
    outcome = std::move(quick.outcome);
    if (outcome.ok()) {
      // One picture goes exactly where -o says.
      const std::string file = job.outputName;
      std::error_code ec;
      const std::filesystem::path folder = std::filesystem::path(file).parent_path();
      if (!folder.empty()) {
        std::filesystem::create_directories(folder, ec);
      }
      const PictureWrite written = WritePicture(quick.picture, file);
      if (written.code != 0) {
        outcome.messageId = str::kTroubleRendering;
        outcome.detail = file + ": " + RenderErrorMessage(written.code) +
                         (written.reason.empty() ? "" : ": " + written.reason);
      } else {
        outcome.files.push_back(file);
      }
    }
  } else {
    outcome = render_frames(job, progress);
  }
  progress.Clear();
  StopAfterFrame(false);

  const double seconds = progress.Elapsed();
  const std::string output = outcome.files.empty() ? job.outputName
                             : outcome.files.size() == 1
                                 ? outcome.files.front()
                                 : outcome.files.front() + " ... " + outcome.files.back();
  if (outcome.messageId != 0 || outcome.stopped) {
    const std::string message = outcome.stopped ? "interrupted" : LoadString(outcome.messageId);
    if (style == CommandProgress::Style::kJson) {
      nlohmann::ordered_json line = {{"event", "failed"},          {"message", message},
                                     {"detail", outcome.detail},   {"interrupted", outcome.stopped},
                                     {"frames", outcome.rendered}, {"seconds", seconds}};
      std::cerr << Dump(Printable(line)) << std::endl;
    }
    if (outcome.stopped && outcome.messageId == 0) {
      std::cerr << "zentrope render: stopped after " << outcome.rendered
                << " frame(s); the finished frames are kept"
                << (job.format == DriverFormat::kAvi ? " and the movie is closed" : "") << '\n';
      return kInterrupted;
    }
    // A figure that cannot be opened is said as frame evaluation says it
    // ("Trouble Opening Figure: FILE"), with its error number.
    const std::string line =
        outcome.messageId == kFigureLoadError
            ? outcome.detail + " (error " + std::to_string(kFigureLoadError) + ")"
            : message + (outcome.detail.empty() ? "" : " (" + outcome.detail + ")");
    std::cerr << Utf8FromLegacy("zentrope render: " + line) << '\n';
    return 1;
  }
  if (style == CommandProgress::Style::kJson) {
    nlohmann::ordered_json line = {{"event", "completed"},       {"frames", outcome.rendered},
                                   {"skipped", outcome.skipped}, {"seconds", seconds},
                                   {"output", output},           {"missing", outcome.problems}};
    std::cerr << Dump(Printable(line)) << std::endl;
  }
  std::printf("%s: %d frame(s) rendered", document.c_str(), outcome.rendered);
  if (outcome.skipped > 0) {
    std::printf(", %d kept", outcome.skipped);
  }
  std::printf(" in %s (%.1f frames/s) -> %s\n", Duration(seconds).c_str(),
              seconds > 0.0 ? outcome.rendered / seconds : 0.0, output.c_str());
  if (!outcome.problems.empty()) {
    std::printf("missing (rendered without them):");
    for (const std::string& problem : outcome.problems) {
      std::printf(" %s;", Utf8FromLegacy(problem).c_str());
    }
    std::printf("\n");
  }
  return MemoryRanOut() ? 1 : 0;
}

}  // namespace zentrope::cli
