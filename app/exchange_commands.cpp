// Exchange subcommands: exporting posed geometry for other programs, importing
// DXF drawings as segments, assembling and playing movies.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "io/avi_compression.h"
#include "io/dxf_import.h"
#include "io/export_scene.h"
#include "io/frame_files.h"
#include "io/movie_encode.h"
#include "io/movie_player.h"
#include "model/segment.h"
#include "model/segment_file.h"
#include "render/render_settings.h"
#include "render/tessellation.h"
#include "shell/atomic_file.h"
#include "shell/interrupt.h"
#include "shell/settings.h"
#include "shell/string_table.h"
#include "shell/text_encoding.h"

namespace zentrope::cli {

namespace {

constexpr int kUsageError = 2;
// Frame numbers on the command line: users count from 1, and documents
// hold 16-bit frame counts.
constexpr int kLastFrameNumber = 32767;

struct ExportArgs {
  std::string in;
  std::string out;
  std::string action;
  float frame = 1.0f;
  std::string frames;  // "A-B"
  CLI::Option* frameOption = nullptr;
};

bool ParseRange(const std::string& text, int& first, int& last) {
  int a = 0, b = 0;
  char dash = 0, extra = 0;
  if (std::sscanf(text.c_str(), "%d%c%d%c", &a, &dash, &b, &extra) != 3 || dash != '-') {
    return false;
  }
  if (a < 1 || b < a || b > kLastFrameNumber) {
    return false;
  }
  first = a;
  last = b;
  return true;
}

void WarnAboutProblems(const std::string& file, const ModelScene& scene) {
  for (const std::string& problem : scene.problems) {
    // The scene builder speaks of pictures; an export writes faces.
    const std::string said =
        problem == kNothingToDraw ? "no patches to export: the files hold no faces" : problem;
    std::cerr << Utf8FromLegacy(file + ": warning: " + said) << '\n';
  }
}

int ExportFailed(const ExportProblem& problem) {
  std::cerr << problem.file << ": "
            << SaveFailureLine({LoadString(problem.messageId)}, problem.reason) << '\n';
  return 1;
}

int ExportCommand(const ExportArgs& args) {
  const std::optional<ExportFormat> format = ExportFormatFor(args.out);
  if (!format) {
    std::cerr << "zentrope export: the output must end in .dxf, .obj, .rib, .qtm or .glb\n";
    return kUsageError;
  }
  int first = 1, last = 1;
  const bool sequence = !args.frames.empty();
  if (sequence && !ParseRange(args.frames, first, last)) {
    std::cerr << "zentrope export: --frames must be FIRST-LAST, 1 <= FIRST <= LAST <= "
              << kLastFrameNumber << '\n';
    return kUsageError;
  }
  if (!sequence && (!std::isfinite(args.frame) || args.frame < 1.0f ||
                    args.frame > static_cast<float>(kLastFrameNumber))) {
    std::cerr << "zentrope export: --frame must be a frame number from 1 to " << kLastFrameNumber
              << '\n';
    return kUsageError;
  }

  Result<ExportSource> source = ExportSource::Open(args.in, args.action);
  if (!source) {
    const std::string& file = args.action.empty() ? args.in : args.action;
    std::cerr << Explain(file, source.failure().message, source.failure().detail) << '\n';
    return 1;
  }
  if (MemoryRanOut()) {
    return 1;
  }
  SceneExporter exporter(*format, args.out, SubdivisionSettings::FromSettings(Settings()));
  // The status line: "Creating DXF Files" and "Creating QTM Files" as the
  // render driver shows them; the other formats show the frame alone.
  std::string statusText;
  if (*format == ExportFormat::kDxf || *format == ExportFormat::kQtm) {
    statusText = LoadString(*format == ExportFormat::kDxf ? str::kCreatingDxfFiles
                                                          : str::kCreatingQtmFiles) +
                 ": ";
  }
  if (sequence) {
    set_cursor("Snooze");
  }
  int status = 0;
  for (int frame = first; frame <= last; ++frame) {
    if (sequence) {
      SetStatusText(statusText + "frame " + std::to_string(frame) + " (" +
                    std::to_string(frame - first + 1) + " of " + std::to_string(last - first + 1) +
                    ")");
      if (escape_pressed()) {
        status = -1;
        break;
      }
    }
    Result<ExportScene> scene = source->PoseAt(sequence ? static_cast<float>(frame) : args.frame);
    if (!scene) {
      std::cerr << Explain(args.in, scene.failure().message, scene.failure().detail) << '\n';
      status = 1;
      break;
    }
    // Ctrl-C during the patch search stops the sequence like Ctrl-C
    // between frames; the frame would lack patches.
    if (scene->scene.stopped) {
      status = -1;
      break;
    }
    if (frame == first) {
      WarnAboutProblems(args.in, scene->scene);
    }
    if (MemoryRanOut()) {
      status = 1;
      break;
    }
    if (!exporter.Write(*scene, sequence ? frame : -1)) {
      status = exporter.Problem().stopped ? -1 : ExportFailed(exporter.Problem());
      break;
    }
  }
  if (status == 0 && !exporter.Finish()) {
    status = ExportFailed(exporter.Problem());
  }
  if (sequence) {
    SetStatusText("");
    set_cursor("WakeUp");
  }
  if (status < 0) {
    // Files finished before the stop stay; a QTM file is never left half
    // written.
    std::cerr << "zentrope export: stopped; " << exporter.Written().size() << " file(s) written\n";
    return 1;
  }
  if (status != 0) {
    return status;
  }
  for (const std::string& file : exporter.Written()) {
    std::cout << file << '\n';
  }
  return 0;
}

struct ImportArgs {
  std::string in;
  std::string out;
  bool force = false;
};

int ImportCommand(const ImportArgs& args) {
  Result<SplineSet> splines = ImportDxfFile(args.in);
  if (!splines) {
    std::cerr << Explain(args.in, splines.failure().message, splines.failure().detail) << '\n';
    return 1;
  }
  if (MemoryRanOut()) {
    return 1;
  }
  const SaveReport report = SaveImportedSegment(std::move(*splines), args.out, args.force);
  if (!report.Ok()) {
    std::cerr << args.out << ": " << SaveFailureLine(report.failures, report.reason) << '\n';
    return 1;
  }
  return 0;
}

int PlayCommand(const std::string& movie) {
  std::string why;
  if (!play_movie(movie, &why)) {
    std::cerr << Explain(movie, "the movie cannot be played", why) << '\n';
    return 1;
  }
  return 0;
}

struct EncodeArgs {
  std::string pattern;
  std::string out;
  int fps = 0;  // 0: RENDER FrameRate
};

int EncodeCommand(const EncodeArgs& args) {
  std::string ext = std::filesystem::path(args.out).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (ext != ".avi") {
    std::cerr << "zentrope encode: the movie must end in .avi\n";
    return kUsageError;
  }
  const std::vector<FrameFile> frames = FindFrameFiles(args.pattern);
  if (frames.empty()) {
    std::cerr << "zentrope encode: " << args.pattern
              << ": no finished frames match (a run of # stands for the frame number, as in "
                 "out/walk_####.png)\n";
    return 1;
  }
  // Gaps are said, not filled: a farm task that failed shows here.
  for (std::size_t i = 1; i < frames.size(); ++i) {
    if (frames[i].frame > frames[i - 1].frame + 1) {
      std::cerr << "zentrope encode: warning: frames " << frames[i - 1].frame + 1 << " to "
                << frames[i].frame - 1 << " are missing\n";
    }
  }
  const int fps =
      args.fps > 0 ? args.fps : std::max<int>(1, RenderSettingsOfSession().full.frameRate);
  set_cursor("Snooze");
  const EncodeOutcome outcome = EncodeMovie(
      frames, args.out, fps, AviCompression::FromSettings(Settings()), [&](int i, int n) {
        SetStatusText("Encoding frame " + std::to_string(i + 1) + " of " + std::to_string(n));
      });
  SetStatusText("");
  set_cursor("WakeUp");
  if (outcome.stopped) {
    std::cerr << "zentrope encode: stopped; the movie was not changed\n";
    return 130;
  }
  if (!outcome.ok) {
    std::cerr << Explain(outcome.file, "the movie cannot be made", outcome.error) << '\n';
    return 1;
  }
  std::printf("%s: %d frame(s) at %d frames/s from %s ... %s\n", args.out.c_str(), outcome.frames,
              fps, frames.front().path.string().c_str(), frames.back().path.string().c_str());
  return 0;
}

}  // namespace

void RegisterExchangeCommands(CLI::App& app, Runner& chosen) {
  auto exportArgs = std::make_shared<ExportArgs>();
  CLI::App* exporter = app.add_subcommand(
      "export", "Write a segment, figure or choreography as DXF, OBJ, RIB, QTM or glTF (.glb)");
  exporter->add_option("IN", exportArgs->in, "MODEL.seg, FIGURE.fig or SCENE.cho")->required();
  exporter
      ->add_option("-o,--output", exportArgs->out,
                   "OUT.dxf, OUT.obj, OUT.rib, OUT.qtm or OUT.glb (the format by the extension)")
      ->required();
  exportArgs->frameOption =
      exporter->add_option("--frame", exportArgs->frame, "The frame to export, from 1 (default 1)");
  exporter
      ->add_option("--frames", exportArgs->frames,
                   "FIRST-LAST: a sequence, files named by frame (one QTM file)")
      ->excludes(exportArgs->frameOption);
  exporter->add_option("--action", exportArgs->action, "ACTION.act that poses the figure");
  exporter->callback(
      [&chosen, exportArgs] { chosen = [exportArgs] { return ExportCommand(*exportArgs); }; });

  auto importArgs = std::make_shared<ImportArgs>();
  CLI::App* importer = app.add_subcommand("import", "Read a DXF drawing into a new segment");
  importer->add_option("IN", importArgs->in, "DRAWING.dxf")->required();
  importer->add_option("-o,--output", importArgs->out, "Segment to write")->required();
  importer->add_flag("--force", importArgs->force, "Replace the segment if it exists");
  importer->callback(
      [&chosen, importArgs] { chosen = [importArgs] { return ImportCommand(*importArgs); }; });

  auto encodeArgs = std::make_shared<EncodeArgs>();
  CLI::App* encode = app.add_subcommand(
      "encode", "Assemble finished frames (a render's picture sequence) into an AVI movie");
  encode
      ->add_option("FRAMES", encodeArgs->pattern,
                   "The frames' name as rendered: out/walk_####.png, or a Targa-rule name")
      ->required();
  encode->add_option("-o,--output", encodeArgs->out, "MOVIE.avi")->required();
  encode->add_option("--fps", encodeArgs->fps, "Frames per second (default: RENDER FrameRate)")
      ->check(CLI::Range(1, 1000));
  encode->callback(
      [&chosen, encodeArgs] { chosen = [encodeArgs] { return EncodeCommand(*encodeArgs); }; });

  auto movie = std::make_shared<std::string>();
  CLI::App* play = app.add_subcommand("play", "Start the movie player on a movie and return");
  play->add_option("MOVIE", *movie, "MOVIE.avi")->required();
  play->callback([&chosen, movie] { chosen = [movie] { return PlayCommand(*movie); }; });
}

}  // namespace zentrope::cli
