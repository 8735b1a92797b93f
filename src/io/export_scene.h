// ExportSource: a segment, a figure (at rest or posed by an action) or a
// choreography, posed at a frame for export, with the figure hierarchy the
// exporters mirror.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/transform.h"
#include "render/model_scene.h"
#include "shell/result.h"

namespace zentrope {

class Choreography;

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
  // scene.problems; the frame is still posed without them.
  Result<ExportScene> PoseAt(float frame);
  // The frames the document has: a choreography's length, an action's, 1
  // for a segment or a figure at rest.
  int FirstFrame() const;
  int LastFrame() const;

 private:
  ExportSource();
  std::string path_;
  std::string action_;
  std::unique_ptr<Choreography> chor_;
  int lastFrame_ = 1;
};

}  // namespace zentrope
