// ExportSource: a segment, a figure (at rest or posed by an action) or a
// choreography, posed at a frame for export, with the figure hierarchy the
// exporters mirror.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/transform.h"
#include "render/model_scene.h"
#include "render/tessellation.h"
#include "shell/result.h"

namespace zentrope {

class Choreography;
class QtmWriter;

// One node of the exported hierarchy, in depth-first order (a node, its
// children, then its next sibling). A choreography's figures are top nodes.
struct ExportNode {
  std::string name;  // the segment's name (file name without folder and extension), or "ghost"
  int parent = -1;   // index in ExportScene::nodes; -1 for a top node
  bool firstChild = true;  // false when it follows a sibling
  Transform world;         // segment space to world space
  int segment = -1;        // index in ExportScene::scene.segments; -1 for a node without one
};

struct ExportScene {
  ModelScene scene;  // the posed segments (patches found) with their materials
  std::vector<ExportNode> nodes;
  float frame = 1.0f;  // the frame it is posed at
};

class ExportSource {
 public:
  // .seg, .fig (with an optional action) or .cho; fails with the document's
  // message.
  static Result<ExportSource> Open(const std::string& path, const std::string& action = {});
  ExportSource(ExportSource&&) noexcept;
  ExportSource& operator=(ExportSource&&) noexcept;
  ~ExportSource();

  // The scene at a user frame. Files that could not be read are listed in
  // scene.problems; the frame is still posed without them. A choreography's
  // scene shares the source's posed segments: it holds until the next
  // PoseAt.
  Result<ExportScene> PoseAt(float frame);
  // The frames the document has: a choreography's length, an action's, 1
  // for a segment or a figure at rest.
  int FirstFrame() const;
  int LastFrame() const;
  // The choreography of a .cho source (its camera and lights); null for a
  // model.
  const Choreography* choreography() const { return chor_.get(); }
  Choreography* choreography() { return chor_.get(); }
  // Figures of the choreography that could not be loaded when it was
  // opened ("Trouble Opening Figure: file"); they are left out of every
  // frame.
  const std::vector<std::string>& UnloadableFigures() const { return openProblems_; }

 private:
  Result<ExportScene> PoseScene(float frame);
  ExportSource();
  std::string path_;
  std::string action_;
  std::unique_ptr<Choreography> chor_;
  int lastFrame_ = 1;
  // A model is read once by Open; its first frame is handed out from there.
  std::optional<ModelScene> opened_;
  float openedFrame_ = 1.0f;
  // Choreography figures that could not be loaded ("Trouble Opening Figure: file").
  std::vector<std::string> openProblems_;
};

// The geometry formats a posed scene is exported to.
enum class ExportFormat { kDxf, kObj, kRib, kQtm, kGlb };

// By the file's extension, whatever its case: ".dxf", ".obj", ".rib",
// ".qtm", ".glb"; nothing for any other.
std::optional<ExportFormat> ExportFormatFor(const std::string& path);
// The string-table number of the format's failure message ("Trouble
// Saving DXF" ...).
int ExportFailureMessage(ExportFormat format);

// Why an export failed: the format's message, the file and the system's
// reason; or the user stopped it (Ctrl-C during the tessellation).
struct ExportProblem {
  int messageId = 0;
  std::string file;
  std::string reason;
  bool stopped = false;
};

// Writes posed frames in one format. DXF and OBJ take the tessellated
// pieces in world space (subdivision from the settings), RIB every
// segment's bicubic patches through its world transform, glTF the node
// hierarchy with one mesh per segment; these write one file per frame. QTM
// writes every frame into one file, opened by the first frame and put in
// place by Finish.
class SceneExporter {
 public:
  SceneExporter(ExportFormat format, std::string path, const SubdivisionSettings& subdivision);
  ~SceneExporter();
  SceneExporter(const SceneExporter&) = delete;
  SceneExporter& operator=(const SceneExporter&) = delete;

  // One frame. frame < 0 writes the path as given; otherwise the file (or,
  // for QTM, the one file at the first frame) is named by ExportFileName.
  bool Write(const ExportScene& scene, int frame);
  // Puts a QTM file in place; nothing to do for the other formats.
  bool Finish();
  // The files put in place so far.
  const std::vector<std::string>& Written() const { return written_; }
  const ExportProblem& Problem() const { return problem_; }

 private:
  bool Fail(const std::string& file, const std::string& reason);
  ExportFormat format_;
  std::string path_;
  SubdivisionSettings subdivision_;
  std::unique_ptr<QtmWriter> qtm_;
  std::vector<std::string> written_;
  ExportProblem problem_;
};

}  // namespace zentrope
