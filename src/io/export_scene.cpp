// Posing a segment, figure or choreography at a frame for the exporters.
#include "io/export_scene.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <set>
#include <utility>

#include "anim/action.h"
#include "anim/action_file.h"
#include "chor/choreography.h"
#include "chor/choreography_file.h"
#include "chor/frame_evaluation.h"
#include "io/dxf_writer.h"
#include "io/export_naming.h"
#include "io/gltf_writer.h"
#include "io/obj_writer.h"
#include "io/qtm_writer.h"
#include "io/rib_writer.h"
#include "model/text_file.h"
#include "render/render_errors.h"
#include "shell/project_paths.h"
#include "shell/string_table.h"

namespace zentrope {
namespace {

enum class SourceKind { kSegment, kFigure, kChoreography };

// The tag line decides; a file without a known tag goes by its extension.
SourceKind KindOf(const std::string& path) {
  if (const auto file = LocateFile(path)) {
    const std::string tag = DocumentTag(*file);
    if (tag == "CHOR") {
      return SourceKind::kChoreography;
    }
    if (tag == "FIGU") {
      return SourceKind::kFigure;
    }
    if (!tag.empty()) {
      return SourceKind::kSegment;
    }
  }
  std::string ext = std::filesystem::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (ext == ".cho") {
    return SourceKind::kChoreography;
  }
  return ext == ".fig" ? SourceKind::kFigure : SourceKind::kSegment;
}

// "ART:\MODELS\ARM.SEG" and "/x/arm.seg" both give the name "ARM" or "arm".
std::string SegmentName(const std::string& path) {
  if (path == kGhostName) {
    return path;
  }
  const std::size_t slash = path.find_last_of("/\\:");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) {
    name.erase(dot);
  }
  return name;
}

// The nodes of one posed figure, appended depth first under no parent; the
// first of them is a first child only when it opens the top level.
void AddFigureNodes(ExportScene& out, const Figure& figure, const std::vector<int>& segmentOfNode) {
  std::vector<int> exported(figure.nodes.size(), -1);
  for (int n : figure.DepthFirst()) {
    const FigureNode& node = figure.nodes[static_cast<std::size_t>(n)];
    ExportNode e;
    e.name = SegmentName(node.name);
    if (node.parent >= 0 && static_cast<std::size_t>(node.parent) < exported.size()) {
      e.parent = exported[static_cast<std::size_t>(node.parent)];
      e.firstChild = figure.nodes[static_cast<std::size_t>(node.parent)].firstChild == n;
    } else {
      e.parent = -1;
      e.firstChild = std::none_of(out.nodes.begin(), out.nodes.end(),
                                  [](const ExportNode& other) { return other.parent < 0; });
    }
    e.world = node.geometryTransform;
    e.segment = static_cast<std::size_t>(n) < segmentOfNode.size()
                    ? segmentOfNode[static_cast<std::size_t>(n)]
                    : -1;
    exported[static_cast<std::size_t>(n)] = static_cast<int>(out.nodes.size());
    out.nodes.push_back(std::move(e));
  }
}

// A model (segment or figure) as ModelScene loads it, with its nodes.
ExportScene FromModelScene(ModelScene model) {
  ExportScene out;
  out.scene = std::move(model);
  if (out.scene.figure) {
    AddFigureNodes(out, *out.scene.figure, out.scene.segmentOfNode);
  } else if (!out.scene.segments.empty()) {
    ExportNode e;
    e.name = SegmentName(out.scene.segments.front().segment->path);
    e.world = out.scene.segments.front().objectTransform;
    e.segment = 0;
    out.nodes.push_back(std::move(e));
  }
  return out;
}

// Removes the instances whose figure files cannot be loaded, putting their
// child instances in their place, and says which they were.
void DropUnloadable(std::vector<FigureInstance>& figures, std::vector<std::string>& problems) {
  for (std::size_t i = 0; i < figures.size();) {
    std::string message;
    if (LoadInstance(figures[i], &message)) {
      DropUnloadable(figures[i].children, problems);
      ++i;
      continue;
    }
    problems.push_back(message);
    std::vector<FigureInstance> children = std::move(figures[i].children);
    figures.erase(figures.begin() + static_cast<std::ptrdiff_t>(i));
    figures.insert(figures.begin() + static_cast<std::ptrdiff_t>(i),
                   std::make_move_iterator(children.begin()),
                   std::make_move_iterator(children.end()));
  }
}

}  // namespace

ExportSource::ExportSource() = default;
ExportSource::ExportSource(ExportSource&&) noexcept = default;
ExportSource& ExportSource::operator=(ExportSource&&) noexcept = default;
ExportSource::~ExportSource() = default;

Result<ExportSource> ExportSource::Open(const std::string& path, const std::string& action) {
  ExportSource source;
  source.path_ = path;
  source.action_ = action;
  const SourceKind kind = KindOf(path);
  if (kind != SourceKind::kFigure && !action.empty()) {
    return Failure{LoadString(str::kTroubleOpeningAction),
                   action + ": an action poses a figure; " + path + " is not one"};
  }
  if (kind == SourceKind::kChoreography) {
    Result<Choreography> chor = read_choreography(path);
    if (!chor) {
      return chor.failure();
    }
    source.chor_ = std::make_unique<Choreography>(std::move(*chor));
    source.lastFrame_ = std::max<int>(1, source.chor_->scene.length);
    DropUnloadable(source.chor_->figures, source.openProblems_);
    return source;
  }
  if (!action.empty()) {
    Result<Action> read = ReadAction(action);
    if (!read) {
      return read.failure();
    }
    source.lastFrame_ = std::max<int>(1, read->length);
  }
  Result<ModelScene> scene = LoadModelScene({path, action, source.openedFrame_});
  if (!scene) {
    return scene.failure();
  }
  source.opened_.emplace(std::move(*scene));
  return source;
}

Result<ExportScene> ExportSource::PoseScene(float frame) {
  if (!chor_) {
    if (opened_ && frame == openedFrame_) {
      ModelScene scene = std::move(*opened_);
      opened_.reset();
      return FromModelScene(std::move(scene));
    }
    opened_.reset();
    Result<ModelScene> scene = LoadModelScene({path_, action_, frame});
    if (!scene) {
      return scene.failure();
    }
    return FromModelScene(std::move(*scene));
  }

  ExportScene out;
  out.scene.problems = openProblems_;
  EvaluationOptions options;
  options.draw = true;
  options.force = true;
  std::set<const FigureInstance*> posed;
  options.sink = [&posed](FigureInstance& f, const Transform&, const Vector3&) {
    posed.insert(&f);
    return 0;
  };
  std::string message;
  if (evaluate_figures(Transform::Identity(), chor_->figures, frame, *chor_, options, &message) !=
      0) {
    return Failure{message.empty() ? std::string("Trouble Opening Figure") : message,
                   path_ + ": the frame could not be evaluated"};
  }
  // The figures in the choreography's own order (a figure, then its child
  // instances), each a tree of top level nodes.
  std::set<std::string> noted(out.scene.problems.begin(), out.scene.problems.end());
  for (const FigureInstance* f : std::as_const(*chor_).AllFigures()) {
    for (const std::string& problem : f->runtime.problems) {
      if (noted.insert(problem).second) {
        out.scene.problems.push_back(problem);
      }
    }
    if (posed.count(f) == 0 || !f->runtime.figure) {
      continue;
    }
    const std::vector<int> segments = AddFigureSegments(out.scene, *f->runtime.figure, frame);
    AddFigureNodes(out, *f->runtime.figure, segments);
  }
  const bool anyPatch =
      std::any_of(out.scene.segments.begin(), out.scene.segments.end(),
                  [](const SceneSegment& s) { return !s.segment->patches.empty(); });
  if (!anyPatch) {
    out.scene.problems.push_back(kNothingToDraw);
  }
  return out;
}

Result<ExportScene> ExportSource::PoseAt(float frame) {
  Result<ExportScene> scene = PoseScene(frame);
  if (scene) {
    scene->frame = frame;
  }
  return scene;
}

int ExportSource::FirstFrame() const {
  return 1;
}
int ExportSource::LastFrame() const {
  return lastFrame_;
}

std::optional<ExportFormat> ExportFormatFor(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (ext == ".dxf") {
    return ExportFormat::kDxf;
  }
  if (ext == ".obj") {
    return ExportFormat::kObj;
  }
  if (ext == ".rib") {
    return ExportFormat::kRib;
  }
  if (ext == ".qtm") {
    return ExportFormat::kQtm;
  }
  if (ext == ".glb") {
    return ExportFormat::kGlb;
  }
  return std::nullopt;
}

int ExportFailureMessage(ExportFormat format) {
  switch (format) {
    case ExportFormat::kDxf:
      return str::kTroubleSavingDxf;
    case ExportFormat::kObj:
      return str::kTroubleSavingObj;
    case ExportFormat::kRib:
      return str::kTroubleSavingRib;
    case ExportFormat::kQtm:
      return str::kTroubleSavingQtm;
    case ExportFormat::kGlb:
      break;
  }
  return str::kTroubleSavingGltf;
}

namespace {

const char* Extension(ExportFormat format) {
  switch (format) {
    case ExportFormat::kDxf:
      return ".dxf";
    case ExportFormat::kObj:
      return ".obj";
    case ExportFormat::kRib:
      return ".rib";
    case ExportFormat::kQtm:
      return ".qtm";
    case ExportFormat::kGlb:
      break;
  }
  return ".glb";
}

// Every segment's pieces, in world space, to one face writer; 0, or the
// tessellation's code (110 when the user stopped it or the writer refused a
// piece).
int DrawFaces(const ExportScene& scene, std::uint32_t flag, PieceTarget& writer,
              const SubdivisionSettings& subdivision) {
  TessellationTargets targets;
  targets.dxfFaces = &writer;
  targets.objFaces = &writer;
  for (const SceneSegment& s : scene.scene.segments) {
    const MaterialLookup lookup = [&s](const std::string& path) -> const Material* {
      const auto it = s.patchMaterials.find(path);
      return it == s.patchMaterials.end() ? nullptr : it->second.get();
    };
    if (const int code = DrawSegmentPatches(*s.segment, s.objectTransform, flag, s.material.get(),
                                            lookup, subdivision, targets)) {
      return code;
    }
  }
  return 0;
}

}  // namespace

SceneExporter::SceneExporter(ExportFormat format, std::string path,
                             const SubdivisionSettings& subdivision)
    : format_(format), path_(std::move(path)), subdivision_(subdivision) {}

SceneExporter::~SceneExporter() = default;

bool SceneExporter::Fail(const std::string& file, const std::string& reason) {
  problem_.messageId = ExportFailureMessage(format_);
  problem_.file = file;
  problem_.reason = reason;
  return false;
}

bool SceneExporter::Write(const ExportScene& scene, int frame) {
  const std::string target = frame < 0 ? path_ : ExportFileName(path_, frame, Extension(format_));
  // A tessellation stopped with nothing refused was the user's Ctrl-C.
  const auto tessellationFailed = [&](int code, const std::string& file, const std::string& why) {
    if (code == render_error::kAborted && why.empty()) {
      problem_.stopped = true;
      return false;
    }
    return Fail(file, why.empty() ? "the patches could not be tessellated (error " +
                                        std::to_string(code) + ")"
                                  : why);
  };
  // The face writers (DXF, OBJ): open, every piece into the writer, close.
  const auto writeFaces = [&](auto& writer, auto open, auto close, std::uint32_t flag) {
    if (!(writer.*open)(path_, frame)) {
      return Fail(target, writer.Reason());
    }
    if (const int code = DrawFaces(scene, flag, writer, subdivision_)) {
      return tessellationFailed(code, target, writer.Reason());
    }
    if (!(writer.*close)()) {
      return Fail(target, writer.Reason());
    }
    return true;
  };
  switch (format_) {
    case ExportFormat::kDxf: {
      DxfWriter writer;
      if (!writeFaces(writer, &DxfWriter::OpenDxf, &DxfWriter::CloseDxf,
                      tessellation_flags::kDxfFaces)) {
        return false;
      }
      break;
    }
    case ExportFormat::kObj: {
      ObjWriter writer;
      if (!writeFaces(writer, &ObjWriter::OpenObj, &ObjWriter::CloseObj,
                      tessellation_flags::kObjFaces)) {
        return false;
      }
      break;
    }
    case ExportFormat::kRib: {
      RibWriter writer;
      if (!writer.OpenRib(path_, frame, static_cast<int>(std::lround(scene.frame)))) {
        return Fail(target, writer.Reason());
      }
      for (const SceneSegment& s : scene.scene.segments) {
        if (!writer.WriteRibPatches(*s.segment, s.objectTransform)) {
          return Fail(target, writer.Reason());
        }
      }
      if (!writer.CloseRib()) {
        return Fail(target, writer.Reason());
      }
      break;
    }
    case ExportFormat::kGlb: {
      std::string reason;
      if (!WriteGlb(scene, path_, frame, subdivision_, &reason)) {
        if (reason == kGlbStopped) {
          problem_.stopped = true;
          return false;
        }
        return Fail(target, reason);
      }
      break;
    }
    case ExportFormat::kQtm: {
      if (!qtm_) {
        qtm_ = std::make_unique<QtmWriter>();
        if (!qtm_->OpenQtm(path_, frame)) {
          return Fail(target, qtm_->Reason());
        }
      }
      if (!qtm_->WriteQtmFrame()) {
        return Fail(qtm_->FileName(), qtm_->Reason());
      }
      // Each node's world transform: a CHILD/SIBLING walk alone cannot say
      // where a node's children end, so a reader needs no composing.
      for (const ExportNode& node : scene.nodes) {
        if (node.segment < 0) {
          continue;
        }
        const SceneSegment& s = scene.scene.segments[static_cast<std::size_t>(node.segment)];
        if (!qtm_->WriteQtmNode(node.firstChild, node.world, *s.segment)) {
          return Fail(qtm_->FileName(), qtm_->Reason());
        }
      }
      return true;
    }
  }
  written_.push_back(target);
  return true;
}

bool SceneExporter::Finish() {
  if (!qtm_) {
    return true;
  }
  const std::string file = qtm_->FileName();
  const bool ok = qtm_->CloseQtm();
  if (!ok) {
    Fail(file, qtm_->Reason());
  } else {
    written_.push_back(file);
  }
  qtm_.reset();
  return ok;
}

}  // namespace zentrope
