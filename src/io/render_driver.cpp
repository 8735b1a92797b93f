// The render driver's frame loop.

#include "io/render_driver.h"

#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <future>
#include <memory>
#include <new>
#include <set>
#include <system_error>

#include "chor/choreography.h"
#include "chor/document_names.h"
#include "chor/frame_evaluation.h"
#include "chor/scene_lights.h"
#include "io/avi_writer.h"
#include "io/export_naming.h"
#include "io/export_scene.h"
#include "io/frame_files.h"
#include "render/camera_view.h"
#include "render/frame_stamp.h"
#include "render/model_raytrace.h"
#include "render/model_render.h"
#include "render/picture_file.h"
#include "render/render_errors.h"
#include "render/wireframe.h"
#include "shell/error_log.h"
#include "shell/string_table.h"

namespace zentrope {

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

struct FormatInfo {
  DriverFormat format;
  const char* word;
  const char* extension;
};
constexpr FormatInfo kFormats[] = {
    {DriverFormat::kTarga, "tga", ".tga"}, {DriverFormat::kPng, "png", ".png"},
    {DriverFormat::kAvi, "avi", ".avi"},   {DriverFormat::kDxf, "dxf", ".dxf"},
    {DriverFormat::kQtm, "qtm", ".qtm"},   {DriverFormat::kObj, "obj", ".obj"},
    {DriverFormat::kGlb, "glb", ".glb"},
};

bool IsPicture(DriverFormat f) {
  return f == DriverFormat::kTarga || f == DriverFormat::kPng || f == DriverFormat::kAvi;
}

std::optional<ExportFormat> ExportFormatOf(DriverFormat f) {
  switch (f) {
    case DriverFormat::kDxf:
      return ExportFormat::kDxf;
    case DriverFormat::kQtm:
      return ExportFormat::kQtm;
    case DriverFormat::kObj:
      return ExportFormat::kObj;
    case DriverFormat::kGlb:
      return ExportFormat::kGlb;
    default:
      return std::nullopt;
  }
}

// The table's row of a format (every format has one).
const FormatInfo& InfoOf(DriverFormat f) {
  for (const FormatInfo& info : kFormats) {
    if (info.format == f) {
      return info;
    }
  }
  return kFormats[0];
}

const char* ExtensionOf(DriverFormat f) {
  return InfoOf(f).extension;
}

// The message a range that cannot write its files ends with.
int WriteFailureMessage(DriverFormat f) {
  if (const std::optional<ExportFormat> e = ExportFormatOf(f)) {
    return ExportFailureMessage(*e);
  }
  return str::kTroubleRendering;
}

// A working folder of this render's own for the raytracer's temporary
// pictures, so that renders running side by side (a farm node's tasks)
// never share "temp.tga"; removed with everything in it.
class PrivateTempFolder {
 public:
  PrivateTempFolder() {
    std::string pattern = (TempDirectory() / "zentrope-render-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
      path_ = pattern;
    } else {
      path_ = TempDirectory();
      owned_ = false;
    }
  }
  ~PrivateTempFolder() {
    if (owned_) {
      std::error_code ec;
      std::filesystem::remove_all(path_, ec);
    }
  }
  PrivateTempFolder(const PrivateTempFolder&) = delete;
  PrivateTempFolder& operator=(const PrivateTempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  bool owned_ = true;
};

// A picture of the frame and where it goes.
struct FrameWrite {
  int index = 0;
  float frame = 0.0f;
  std::string file;
  Picture picture;
  double seconds = 0.0;  // posing and rendering, before the write
};

struct WriteResult {
  FrameDone done;
  bool ok = true;
  std::string reason;
  double ms = 0.0;
  Picture picture;  // handed back, so its buffer serves a later frame
};

// What the frames are taken from, and how they are seen.
struct FrameSource {
  ExportSource source;
  const Choreography* chor = nullptr;
  std::optional<ViewFraming> fixedFraming;  // the skeletal window's steady Front view
};

void Crop(Picture& picture, const SelectionRect& r) {
  Picture cropped;
  cropped.Reset(r.Width(), r.Height());
  for (int y = 0; y < r.Height(); ++y) {
    const std::uint8_t* from = picture.Pixel(r.x1, r.y1 + y);
    std::copy(from, from + static_cast<std::ptrdiff_t>(r.Width()) * 3,
              cropped.bgr.begin() + static_cast<std::ptrdiff_t>(y) * r.Width() * 3);
  }
  picture = std::move(cropped);
}

// Renders and writes; owns the renderer state kept from frame to frame.
class FrameLoop {
 public:
  FrameLoop(const RenderJob& job, RenderProgress& progress, bool quick)
      : job_(job), progress_(progress), quick_(quick) {}

  // Renders every frame; a quick render keeps its one picture in
  // quickPicture instead of writing it.
  RenderOutcome Run(Picture* quickPicture);

 private:
  bool Open();
  bool Prepare();
  void NoteProblems(const std::vector<std::string>& problems);
  // Renders the posed frame into picture; false after noting the failure.
  bool RenderPicture(const ExportScene& scene, float frame, Picture& picture);
  WriteResult WriteFrame(FrameWrite write);
  bool CollectWrite();
  bool Fail(int messageId, std::string detail) {
    if (outcome_.messageId == 0) {
      outcome_.messageId = messageId;
      outcome_.detail = std::move(detail);
    }
    return false;
  }

  const RenderJob& job_;
  RenderProgress& progress_;
  bool quick_;
  RenderOutcome outcome_;
  std::optional<FrameSource> source_;
  std::unique_ptr<ModelRenderer> zbuffer_;
  std::unique_ptr<PrivateTempFolder> temp_;
  std::unique_ptr<SceneExporter> exporter_;
  AviWriter avi_;
  std::set<std::string> noted_;
  std::future<WriteResult> pending_;
  // The buffer of a written frame, drawn into again: a fresh picture per
  // frame costs its allocation, page faults and clearing every frame.
  Picture spare_;
};

bool FrameLoop::Open() {
  const std::string& action = job_.window == RenderWindow::kSkeletal ? job_.action : std::string();
  Result<ExportSource> opened = ExportSource::Open(job_.document, action);
  if (!opened) {
    // A figure that cannot be opened is the evaluation's error 107; the
    // line says which document failed and why.
    const Failure& failure = opened.failure();
    const bool figure = failure.message == LoadString(str::kTroubleOpeningFigure);
    return Fail(figure ? kFigureLoadError : str::kTroubleRendering,
                failure.message + ": " + (failure.detail.empty() ? job_.document : failure.detail));
  }
  source_.emplace(FrameSource{std::move(*opened), nullptr, std::nullopt});
  source_->chor = source_->source.choreography();
  if (!source_->source.UnloadableFigures().empty()) {
    // A scene without one of its figures would render wrong frames: none
    // is rendered.
    std::string all;
    for (const std::string& figure : source_->source.UnloadableFigures()) {
      all += (all.empty() ? "" : "; ") + figure;
    }
    return Fail(kFigureLoadError, all);
  }
  return true;
}

bool FrameLoop::Prepare() {
  if (job_.mode == RenderMode::kZBuffer && IsPicture(job_.format)) {
    try {
      zbuffer_ = std::make_unique<ModelRenderer>();
    } catch (const std::bad_alloc&) {
      return Fail(str::kLowMemory, "the z-buffer renderer cannot be prepared");
    }
  }
  if (job_.mode == RenderMode::kRaytrace && IsPicture(job_.format)) {
    temp_ = std::make_unique<PrivateTempFolder>();
  }
  if (const std::optional<ExportFormat> e = ExportFormatOf(job_.format)) {
    exporter_ = std::make_unique<SceneExporter>(*e, job_.outputName, job_.subdivision);
  }
  // The folder of the output is made once; a failure is the format's own
  // message before any frame is rendered. A quick render writes nothing.
  const std::filesystem::path folder = std::filesystem::path(job_.outputName).parent_path();
  if (!quick_ && !folder.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder)) {
      const std::string reason = ec ? ec.message() : "not a folder";
      return Fail(WriteFailureMessage(job_.format),
                  folder.string() + ": cannot create the folder: " + reason);
    }
  }
  if (job_.window == RenderWindow::kSkeletal) {
    // One steady Front view for the whole action, from its first frame,
    // so that any sub-range frames its pictures as the whole range does.
    Result<ExportScene> first = source_->source.PoseAt(1.0f);
    if (first) {
      source_->fixedFraming =
          FrameFront(first->scene.boundsMin, first->scene.boundsMax, job_.width, job_.height);
    }
  }
  return true;
}

void FrameLoop::NoteProblems(const std::vector<std::string>& problems) {
  for (const std::string& problem : problems) {
    if (problem == kNothingToDraw || !noted_.insert(problem).second) {
      continue;
    }
    outcome_.problems.push_back(problem);
    progress_.Warning(problem);
  }
}

bool FrameLoop::RenderPicture(const ExportScene& posed, float frame, Picture& picture) {
  const ModelScene& scene = posed.scene;
  const bool direction = job_.window == RenderWindow::kDirection && source_->chor != nullptr;
  std::optional<CameraState> camera;
  if (direction) {
    camera = CameraAt(*source_->chor, frame);
  }
  const ViewFraming framing =
      source_->fixedFraming ? *source_->fixedFraming
      : camera              ? CameraFraming(*camera, scene, job_.width, job_.height)
                            : FrameFront(scene.boundsMin, scene.boundsMax, job_.width, job_.height);
  const std::array<std::uint8_t, 3> background =
      camera ? CameraBackground(*camera) : std::array<std::uint8_t, 3>{0, 0, 0};

  const auto start = Clock::now();
  try {
    if (job_.mode == RenderMode::kWireframe) {
      // White paper, or cyan for an action window's render.
      const std::array<std::uint8_t, 3> paper = direction
                                                    ? std::array<std::uint8_t, 3>{255, 255, 255}
                                                    : std::array<std::uint8_t, 3>{255, 255, 0};
      picture.Reset(job_.width, job_.height, paper);
      DrawWireframe(scene, framing, picture, paper);
      outcome_.times.rendering += Ms(Clock::now() - start);
    } else if (job_.mode == RenderMode::kZBuffer) {
      ModelRenderOptions options;
      options.width = job_.width;
      options.height = job_.height;
      options.shading = job_.shading;
      options.showDecals = job_.showDecals;
      options.light = job_.defaultLight;
      options.subdivision = job_.subdivision;
      options.threads = job_.threads;
      options.background = background;
      options.frame = static_cast<int>(frame);
      options.camera = framing;
      const ModelRenderResult result = zbuffer_->Render(scene, options);
      outcome_.times.tessellation += result.tessellationMs;
      outcome_.times.rendering += result.rasterMs;
      if (result.code == render_error::kAborted) {
        outcome_.stopped = true;
        return false;
      }
      if (result.code != 0) {
        return Fail(str::kTroubleRendering, RenderErrorMessage(result.code));
      }
      // Only the colours go to the writer; the depth stays with the
      // renderer.
      const Picture& drawn = zbuffer_->picture();
      picture.width = drawn.width;
      picture.height = drawn.height;
      picture.bgr.assign(drawn.bgr.begin(), drawn.bgr.end());
      picture.depth.clear();
    } else {
      ModelRaytraceOptions options;
      options.width = job_.width;
      options.height = job_.height;
      options.shadows = job_.shadows;
      options.reflections = job_.reflections;
      options.antiAlias = job_.antiAlias;
      options.showDecals = job_.showDecals;
      options.light = job_.defaultLight;
      options.threads = job_.threads;
      options.frame = static_cast<int>(frame);
      options.camera = framing;
      if (direction) {
        // The choreography's own lights, background, ambiance and fog; other
        // windows keep the single default light on black.
        options.lights = RaytraceLights(LightsAt(*source_->chor, frame));
        options.background = background;
        const float ambiance = camera->channels[camera_channel::kGlobalAmbiance] / 100.0f;
        options.ambient = std::isfinite(ambiance) ? std::clamp(ambiance, 0.0f, 1.0f) : 0.0f;
        options.fogDistance = camera->fogDistance;
      }
      const ModelRaytraceResult result =
          RaytraceModelPicture(scene, options, temp_->path(), picture);
      outcome_.times.tessellation += result.objectsMs + result.treeMs;
      outcome_.times.rendering += result.frame.traceMs + result.frame.writeMs;
      if (result.code == render_error::kAborted) {
        outcome_.stopped = true;
        return false;
      }
      if (result.code != 0) {
        std::string detail = RenderErrorMessage(result.code);
        if (!result.file.empty()) {
          detail = result.file.string() + ": " + detail;
        }
        if (!result.reason.empty()) {
          detail += ": " + result.reason;
        }
        return Fail(str::kTroubleRendering, detail);
      }
    }
    if (job_.selection) {
      Crop(picture, *job_.selection);
    }
    if (job_.frameNumber) {
      const std::string file = FrameOutputFile(job_, frame);
      StampFrameNumber(picture,
                       StampText(job_.format == DriverFormat::kAvi, static_cast<int>(frame),
                                 job_.outputName, std::filesystem::path(file).filename().string()));
    }
  } catch (const std::bad_alloc&) {
    return Fail(str::kTroubleRendering, RenderErrorMessage(render_error::kMemory));
  }
  return true;
}

WriteResult FrameLoop::WriteFrame(FrameWrite write) {
  const auto start = Clock::now();
  WriteResult result;
  result.done.index = write.index;
  result.done.frame = write.frame;
  result.done.file = write.file;
  if (job_.format == DriverFormat::kAvi) {
    const int count = static_cast<int>(job_.frames.size());
    // Samples are numbered by their place in the range, so a list of
    // frames with gaps still makes one movie, closed after its last.
    result.ok = avi_.write_avi_frame(static_cast<float>(write.index + 1), 1.0f,
                                     static_cast<float>(count), 1.0f, job_.frameRate,
                                     job_.outputName, write.picture, job_.compression);
    result.reason = avi_.Reason();
  } else {
    const PictureWrite written = WritePicture(write.picture, write.file);
    result.ok = written.code == 0;
    result.reason = written.code == 0 ? std::string() : RenderErrorMessage(written.code);
    if (!written.reason.empty()) {
      result.reason += ": " + written.reason;
    }
  }
  result.ms = Ms(Clock::now() - start);
  result.done.seconds = write.seconds + result.ms / 1000.0;
  result.picture = std::move(write.picture);
  return result;
}

// Waits for the frame being written, reports it; false when it failed.
bool FrameLoop::CollectWrite() {
  if (!pending_.valid()) {
    return true;
  }
  const auto start = Clock::now();
  WriteResult result = pending_.get();
  outcome_.times.waiting += Ms(Clock::now() - start);
  outcome_.times.writing += result.ms;
  spare_ = std::move(result.picture);
  if (!result.ok) {
    return Fail(str::kTroubleRendering, result.done.file + ": " + result.reason);
  }
  ++outcome_.rendered;
  if (job_.format != DriverFormat::kAvi || outcome_.files.empty()) {
    outcome_.files.push_back(result.done.file);
  }
  if (IsPicture(job_.format) || job_.format == DriverFormat::kAvi) {
    result.done.picture = &spare_;
  }
  progress_.FrameFinished(result.done, static_cast<int>(job_.frames.size()));
  return true;
}

RenderOutcome FrameLoop::Run(Picture* quickPicture) {
  const auto runStart = Clock::now();
  if (FramePerFile(job_.format) && !quick_) {
    for (const float frame : job_.frames) {
      if (frame != std::floor(frame)) {
        char shown[32];
        std::snprintf(shown, sizeof shown, "%g", static_cast<double>(frame));
        Fail(str::kTroubleRendering, std::string("frame ") + shown +
                                         " has a fraction: a sequence of files numbers whole "
                                         "frames (render fields to a movie)");
        outcome_.times.total = Ms(Clock::now() - runStart);
        return outcome_;
      }
    }
  }
  if (!Open() || !Prepare()) {
    outcome_.times.total = Ms(Clock::now() - runStart);
    return outcome_;
  }
  NoteProblems(source_->source.UnloadableFigures());
  const int count = static_cast<int>(job_.frames.size());
  for (int index = 0; index < count; ++index) {
    const float frame = job_.frames[static_cast<std::size_t>(index)];
    if (progress_.StopRequested()) {
      outcome_.stopped = true;
      break;
    }
    const std::string file = FrameOutputFile(job_, frame);
    if (job_.skipExisting && FramePerFile(job_.format) && FrameFileComplete(file)) {
      // The frame being written is reported first, so reports stay in
      // frame order.
      if (!CollectWrite()) {
        break;
      }
      ++outcome_.skipped;
      FrameDone done;
      done.index = index;
      done.frame = frame;
      done.file = file;
      done.skipped = true;
      progress_.FrameFinished(done, count);
      continue;
    }
    progress_.FrameStarted(index, count, frame, RenderWindowTitle(job_, frame));
    const auto frameStart = Clock::now();
    Result<ExportScene> scene = source_->source.PoseAt(frame);
    outcome_.times.evaluation += Ms(Clock::now() - frameStart);
    if (!scene) {
      Fail(scene.failure().message == LoadString(str::kTroubleRendering) ? str::kTroubleRendering
                                                                         : kFigureLoadError,
           scene.failure().message + ": " + scene.failure().detail);
      break;
    }
    if (scene->scene.stopped) {
      outcome_.stopped = true;  // Ctrl-C in the patch search
      break;
    }
    NoteProblems(scene->scene.problems);

    if (exporter_) {
      const auto writeStart = Clock::now();
      // The QTM file is the name given; a name with a run of '#' gives each
      // geometry frame its own exporter at the numbered name; other names
      // follow the export rule.
      SceneExporter* exporter = exporter_.get();
      std::unique_ptr<SceneExporter> numbered;
      int exportFrame = static_cast<int>(frame);
      if (job_.format == DriverFormat::kQtm) {
        exportFrame = -1;
      } else if (HasFramePattern(job_.outputName)) {
        numbered =
            std::make_unique<SceneExporter>(*ExportFormatOf(job_.format), file, job_.subdivision);
        exporter = numbered.get();
        exportFrame = -1;
      }
      if (!exporter->Write(*scene, exportFrame)) {
        if (exporter->Problem().stopped) {
          outcome_.stopped = true;
        } else {
          Fail(exporter->Problem().messageId,
               exporter->Problem().file + ": " + exporter->Problem().reason);
        }
        break;
      }
      outcome_.times.writing += Ms(Clock::now() - writeStart);
      ++outcome_.rendered;
      if (job_.format != DriverFormat::kQtm || outcome_.files.empty()) {
        outcome_.files.push_back(file);
      }
      FrameDone done;
      done.index = index;
      done.frame = frame;
      done.file = file;
      done.seconds = Ms(Clock::now() - frameStart) / 1000.0;
      progress_.FrameFinished(done, count);
      continue;
    }

    FrameWrite write;
    write.index = index;
    write.frame = frame;
    write.file = file;
    write.picture = std::move(spare_);
    if (!RenderPicture(*scene, frame, write.picture)) {
      break;
    }
    if (quick_) {
      if (quickPicture != nullptr) {
        *quickPicture = std::move(write.picture);
      }
      ++outcome_.rendered;
      break;
    }
    write.seconds = Ms(Clock::now() - frameStart) / 1000.0;
    // The previous frame's write finishes while this frame was rendering;
    // this frame is written while the next one renders.
    if (!CollectWrite()) {
      break;
    }
    pending_ = std::async(std::launch::async, [this, w = std::move(write)]() mutable {
      return WriteFrame(std::move(w));
    });
  }
  CollectWrite();
  if (exporter_ && outcome_.messageId == 0 && !outcome_.stopped && !exporter_->Finish()) {
    Fail(exporter_->Problem().messageId,
         exporter_->Problem().file + ": " + exporter_->Problem().reason);
  }
  // A movie still open (the range stopped early, or a frame failed) is
  // closed properly, keeping the frames written.
  if (avi_.IsOpen() && !avi_.Close() && outcome_.messageId == 0) {
    Fail(str::kTroubleRendering, job_.outputName + ": " + avi_.Reason());
  }
  outcome_.times.total = Ms(Clock::now() - runStart);
  return outcome_;
}

}  // namespace

std::optional<DriverFormat> DriverFormatNamed(const std::string& word) {
  const std::string lower = Lower(word);
  for (const FormatInfo& info : kFormats) {
    if (lower == info.word) {
      return info.format;
    }
  }
  return std::nullopt;
}

const char* DriverFormatWord(DriverFormat format) {
  return InfoOf(format).word;
}

DriverFormat DriverFormatForOutput(const std::string& outputName) {
  const std::string ext = Lower(std::filesystem::path(outputName).extension().string());
  for (const FormatInfo& info : kFormats) {
    if (ext == info.extension) {
      return info.format;
    }
  }
  return DriverFormat::kTarga;
}

bool FramePerFile(DriverFormat format) {
  return format != DriverFormat::kAvi && format != DriverFormat::kQtm;
}

std::string FrameOutputFile(const RenderJob& job, float frame) {
  const int number = static_cast<int>(frame);
  switch (job.format) {
    case DriverFormat::kAvi:
      return job.outputName;
    case DriverFormat::kTarga:
    case DriverFormat::kPng:
      return FrameFileName(job.outputName, number);
    case DriverFormat::kQtm:
      return job.outputName;
    default:
      return HasFramePattern(job.outputName)
                 ? FrameFileName(job.outputName, number)
                 : ExportFileName(job.outputName, number, ExtensionOf(job.format));
  }
}

std::string RenderWindowTitle(const RenderJob& job, float frame) {
  const std::string title = LoadString(str::kRenderSection) + ": ";
  if (job.format == DriverFormat::kTarga || job.format == DriverFormat::kPng) {
    return title + std::filesystem::path(FrameOutputFile(job, frame)).filename().string();
  }
  char number[32];
  std::snprintf(number, sizeof number, "%g", static_cast<double>(frame));
  return title + std::filesystem::path(job.outputName).filename().string() + " Frame: " + number;
}

RenderOutcome render_frames(const RenderJob& job, RenderProgress& progress) {
  FrameLoop loop(job, progress, false);
  return loop.Run(nullptr);
}

QuickRender quick_render(const RenderJob& job, float frame, RenderProgress& progress) {
  RenderJob one = job;
  one.frames = {frame};
  if (!IsPicture(one.format)) {
    one.format = DriverFormat::kTarga;
  }
  one.skipExisting = false;
  QuickRender result;
  FrameLoop loop(one, progress, true);
  result.outcome = loop.Run(&result.picture);
  return result;
}

std::vector<float> MissingFrames(const RenderJob& job) {
  std::vector<float> missing;
  for (const float frame : job.frames) {
    if (!FrameFileComplete(FrameOutputFile(job, frame))) {
      missing.push_back(frame);
    }
  }
  return missing;
}

std::vector<std::string> MissingDocuments(const RenderJob& job) {
  std::vector<std::string> missing;
  for (const std::string& document : {job.document, job.action}) {
    if (document.empty()) {
      continue;
    }
    for (const NameProblem& problem : CheckNames(document)) {
      missing.push_back(FormatNameProblem(problem));
    }
  }
  return missing;
}

}  // namespace zentrope
