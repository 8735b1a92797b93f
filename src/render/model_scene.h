// ModelScene: one model as a single-frame render sees it, a segment alone or
// a figure (posed by an action at a frame, or at rest): every posed segment
// with its object transform and material, the box that bounds them, and the
// Front view that frames the box.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/transform.h"
#include "figure/figure.h"
#include "material/material.h"
#include "material/projected_map.h"
#include "model/segment.h"
#include "shell/result.h"

namespace zentrope {

struct SceneSegment {
  std::shared_ptr<Segment> segment;
  Transform objectTransform;  // segment space to world space
  std::shared_ptr<const Material> material;
  std::vector<ProjectedMap> maps;
  // The materials the segment's patch colours name, read before drawing so
  // the tessellating threads only look them up.
  std::map<std::string, std::shared_ptr<const Material>> patchMaterials;
};

struct ModelSceneRequest {
  std::string model;   // .seg or .fig
  std::string action;  // .act (figures only), or empty for the rest pose
  float frame = 1.0f;  // user frame of the action
};

struct ModelScene {
  std::optional<Figure> figure;  // owns the segments of a figure
  std::vector<SceneSegment> segments;
  // Per node of figure: the index of its entry in segments, or −1 (a ghost).
  std::vector<int> segmentOfNode;
  Vector3 boundsMin;
  Vector3 boundsMax;
  bool empty = true;                  // no control point at all
  std::vector<std::string> problems;  // files that could not be read, as warnings
  bool stopped = false;               // the user stopped a patch search: patches are missing
};

// The warning a scene without a single patch carries: its picture shows
// only the background.
inline constexpr const char* kNothingToDraw =
    "no patches to draw: the picture shows only the background";

// Adds a posed segment (its patches found, the materials its patch colours
// name read at the frame) and grows the bounds.
void AddSceneSegment(ModelScene& scene, std::shared_ptr<Segment> segment,
                     const Transform& objectTransform, std::shared_ptr<const Material> material,
                     float frame = 1.0f);

// Adds every segment of a posed figure in depth-first order, each with its
// node's geometry transform, its node's first material and its projected
// maps read at the (user) frame; what cannot be read goes to
// scene.problems. Returns, per figure node, the index of its entry in
// scene.segments, or −1 for a node without a segment (a ghost).
std::vector<int> AddFigureSegments(ModelScene& scene, const Figure& posed, float frame);

// What a segment wears when nothing gives it a material: the "default"
// material of the neutral values, a light grey with a little ambiance and a
// soft highlight, so an unmaterialled model is visible.
std::shared_ptr<const Material> NeutralMaterial();

// Opens the model (and the action), poses it and gathers its segments with
// their patches found. Fails with the document's message when the model or
// the action cannot be read.
Result<ModelScene> LoadModelScene(const ModelSceneRequest& request);

// A perspective camera: worldToView gives view space (x right, y up, z the
// depth from the eye); a point projects to column focal·x/z + width/2 and
// row height/2 − focal·y/z.
struct ViewFraming {
  Transform worldToView;
  float focal = 1.0f;  // perspective distance in pixels
};

// The Front view of a box: the eye on the +z side looking along −z, y up, in
// perspective (a horizontal field of view of 40 degrees), far enough back
// that the box fills the picture but for a margin of about a tenth on each
// side.
ViewFraming FrameFront(const Vector3& boundsMin, const Vector3& boundsMax, int width, int height);

// A camera at eye looking at target with y up, its horizontal field of view
// in degrees across width pixels.
ViewFraming LookAt(const Vector3& eye, const Vector3& target, float fieldOfView, int width);

}  // namespace zentrope
