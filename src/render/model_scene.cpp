// Loading one model for a single-frame render and framing it.
#include "render/model_scene.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <limits>

#include "anim/action.h"
#include "anim/action_file.h"
#include "figure/figure_document.h"
#include "figure/pose.h"
#include "material/material_cache.h"
#include "model/patch_finder.h"
#include "model/segment_file.h"
#include "model/text_file.h"
#include "shell/project_paths.h"

namespace zentrope {
namespace {

bool IsFigure(const std::string& name) {
  if (const auto file = LocateFile(name)) {
    const std::string tag = DocumentTag(*file);
    if (tag == "FIGU") {
      return true;
    }
    if (!tag.empty()) {
      return false;
    }
  }
  std::string ext = std::filesystem::path(name).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return ext == ".fig";
}

void Include(ModelScene& scene, const Vector3& p) {
  if (scene.empty) {
    scene.boundsMin = scene.boundsMax = p;
    scene.empty = false;
    return;
  }
  scene.boundsMin = {std::min(scene.boundsMin.x, p.x), std::min(scene.boundsMin.y, p.y),
                     std::min(scene.boundsMin.z, p.z)};
  scene.boundsMax = {std::max(scene.boundsMax.x, p.x), std::max(scene.boundsMax.y, p.y),
                     std::max(scene.boundsMax.z, p.z)};
}

// A model without patches (splines that close no patch, a figure of empty
// segments) draws nothing but the background: say so rather than hand back a
// blank picture as if all were well.
void NoteNothingToDraw(ModelScene& scene) {
  for (const SceneSegment& s : scene.segments) {
    if (!s.segment->patches.empty()) {
      return;
    }
  }
  scene.problems.push_back(kNothingToDraw);
}

}  // namespace

std::shared_ptr<const Material> NeutralMaterial() {
  return GetMaterial("default", NeutralAttributes(), 1.0f);
}

void AddSceneSegment(ModelScene& scene, std::shared_ptr<Segment> segment,
                     const Transform& transform, std::shared_ptr<const Material> material,
                     float frame) {
  if (EnsurePatches(*segment) == PatchSearch::kStopped) {
    scene.problems.push_back(segment->path + ": the patch search was stopped");
    scene.stopped = true;
  }
  segment->working.ForEachPoint(
      [&](const ControlPoint& p) { Include(scene, transform.ApplyToPoint(p.position)); });
  SceneSegment added{std::move(segment), transform, std::move(material), {}, {}};
  for (const Patch& patch : added.segment->patches) {
    const PatchAttribute& attribute = patch.attribute;
    if (attribute.kind != PatchAttribute::Kind::kMaterial ||
        added.patchMaterials.count(attribute.materialPath) != 0) {
      continue;
    }
    std::string problem;
    added.patchMaterials[attribute.materialPath] =
        GetMaterial(attribute.materialPath, NeutralAttributes(), frame, &problem);
    if (!problem.empty()) {
      scene.problems.push_back(problem);
    }
  }
  scene.segments.push_back(std::move(added));
}

std::vector<int> AddFigureSegments(ModelScene& scene, const Figure& posed, float frame) {
  std::vector<int> segmentOfNode(posed.nodes.size(), -1);
  for (int n : posed.DepthFirst()) {
    const FigureNode& node = posed.nodes[static_cast<std::size_t>(n)];
    if (!node.segment) {
      continue;
    }
    // The node's first material: inline values, or a file ("default" and a
    // file that cannot be read give the segment's own values).
    const MaterialUse use =
        node.attributes.materials.empty() ? MaterialUse{} : node.attributes.materials.front();
    const AttributeRecord own = AttributeRecordFromMaterialUse(use);
    std::string problem;
    MaterialReference material =
        GetMaterial(use.Inline() ? std::string("default") : use.path, own, frame, &problem);
    if (!problem.empty()) {
      scene.problems.push_back(problem);
    }
    if (!use.missing.empty()) {
      scene.problems.push_back(use.missing +
                               ": cannot find the material; the segment wears its "
                               "own values");
    }
    segmentOfNode[static_cast<std::size_t>(n)] = static_cast<int>(scene.segments.size());
    AddSceneSegment(scene, node.segment, node.geometryTransform, std::move(material), frame);
    if (!node.attributes.surfaces.empty()) {
      const std::filesystem::path folder =
          std::filesystem::absolute(std::filesystem::path(posed.path)).parent_path();
      Result<std::vector<ProjectedMap>> maps =
          LoadProjectedMaps(node.attributes.surfaces, folder, static_cast<int>(frame), node.size);
      if (maps) {
        scene.segments.back().maps = std::move(*maps);
      } else {
        // The segment still renders, without its maps, but never silently.
        scene.problems.push_back(maps.failure().detail.empty() ? maps.failure().message
                                                               : maps.failure().detail);
      }
    }
  }
  return segmentOfNode;
}

Result<ModelScene> LoadModelScene(const ModelSceneRequest& request) {
  ModelScene scene;
  if (!IsFigure(request.model)) {
    Result<Segment> segment = OpenSegment(request.model);
    if (!segment) {
      return segment.failure();
    }
    AddSceneSegment(scene, std::make_shared<Segment>(std::move(*segment)), Transform::Identity(),
                    NeutralMaterial(), request.frame);
    NoteNothingToDraw(scene);
    return scene;
  }
  Result<Figure> figure = OpenFigure(request.model, SegmentRegistry::Process(), &scene.problems);
  if (!figure) {
    return figure.failure();
  }
  scene.figure.emplace(std::move(*figure));
  Figure& posed = *scene.figure;
  if (!request.action.empty()) {
    Result<Action> action = ReadAction(request.action, &posed);
    if (!action) {
      return action.failure();
    }
    action->Bind(posed);
    DeformFigure(posed, *action, request.frame);
    PoseFigure(posed, Transform::Identity(), {1, 1, 1}, ActionPose(*action, request.frame));
    // The nodes keep no reference into the action once posed.
    for (FigureNode& node : posed.nodes) {
      node.channelSet = nullptr;
    }
  } else {
    PoseFigure(posed, Transform::Identity(), {1, 1, 1});
  }
  scene.segmentOfNode = AddFigureSegments(scene, posed, request.frame);
  NoteNothingToDraw(scene);
  return scene;
}

ViewFraming FrameFront(const Vector3& boundsMin, const Vector3& boundsMax, int width, int height) {
  constexpr double kHalfFieldOfView = 20.0 * 3.14159265358979323846 / 180.0;
  constexpr double kFill = 0.4;  // half the picture less a tenth of it
  const double w = std::max(width, 1);
  const double h = std::max(height, 1);
  const double focal = (w / 2.0) / std::tan(kHalfFieldOfView);
  const double cx = (double{boundsMin.x} + boundsMax.x) / 2.0;
  const double cy = (double{boundsMin.y} + boundsMax.y) / 2.0;
  const double hx = (double{boundsMax.x} - boundsMin.x) / 2.0;
  const double hy = (double{boundsMax.y} - boundsMin.y) / 2.0;
  // The front face of the box (nearest the eye) is the widest on screen.
  double front = std::max({hx * focal / (kFill * w), hy * focal / (kFill * h), 1.0});
  front = std::max(front, 2.0);  // keep the whole box beyond the near plane
  const double eyeZ = double{boundsMax.z} + front;
  ViewFraming framing;
  framing.focal = static_cast<float>(focal);
  // x stays, y stays, depth = eyeZ − z: the eye looks along −z.
  framing.worldToView.t = {1,
                           0,
                           0,
                           0,
                           1,
                           0,
                           0,
                           0,
                           -1,
                           static_cast<float>(-cx),
                           static_cast<float>(-cy),
                           static_cast<float>(eyeZ)};
  return framing;
}

ViewFraming LookAt(const Vector3& eye, const Vector3& target, float fieldOfView, int width) {
  // Rows of the view rotation: right, up and forward (the depth axis).
  const auto unit = [](double x, double y, double z) {
    const double l = std::sqrt(x * x + y * y + z * z);
    return std::array<double, 3>{x / l, y / l, z / l};
  };
  const auto f = unit(double{target.x} - eye.x, double{target.y} - eye.y, double{target.z} - eye.z);
  // right = forward × up(0, 1, 0), so x runs to the right on screen.
  const auto r = unit(-f[2], 0.0, f[0]);
  const std::array<double, 3> u = {r[1] * f[2] - r[2] * f[1], r[2] * f[0] - r[0] * f[2],
                                   r[0] * f[1] - r[1] * f[0]};
  ViewFraming framing;
  const std::array<std::array<double, 3>, 3> rows = {r, u, f};
  for (int i = 0; i < 3; ++i) {
    framing.worldToView.t[static_cast<std::size_t>(3 * i)] = static_cast<float>(rows[i][0]);
    framing.worldToView.t[static_cast<std::size_t>(3 * i + 1)] = static_cast<float>(rows[i][1]);
    framing.worldToView.t[static_cast<std::size_t>(3 * i + 2)] = static_cast<float>(rows[i][2]);
    framing.worldToView.t[static_cast<std::size_t>(9 + i)] =
        static_cast<float>(-(rows[i][0] * eye.x + rows[i][1] * eye.y + rows[i][2] * eye.z));
  }
  const double half = double{fieldOfView} * 3.14159265358979323846 / 360.0;
  framing.focal = static_cast<float>((std::max(width, 1) / 2.0) / std::tan(half));
  return framing;
}

}  // namespace zentrope
