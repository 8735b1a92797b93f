// The editor views of a document drawn into a picture: Front, Back, Left,
// Right, Top, Bottom and Bird's Eye (orthographic, framed to fit), Camera
// and Light (the choreography's own eyes), with the grid, every posed
// segment's splines, and the choreography's paths, camera and lights.
// The frame window presents these pictures; tests draw them directly.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/view.h"
#include "render/model_scene.h"
#include "render/zbuffer.h"

namespace zentrope {

class Choreography;

enum class ViewKind { kFront, kBack, kLeft, kRight, kTop, kBottom, kBirdsEye, kCamera, kLight };

inline constexpr std::array<ViewKind, 9> kAllViewKinds = {
    ViewKind::kFront,  ViewKind::kBack,     ViewKind::kLeft,   ViewKind::kRight, ViewKind::kTop,
    ViewKind::kBottom, ViewKind::kBirdsEye, ViewKind::kCamera, ViewKind::kLight};

// "Front", "Back", ..., "Bird's Eye", "Camera", "Light": the view menu's texts.
const char* ViewKindTitle(ViewKind kind);
// The command-line word: "front", "back", "left", "right", "top", "bottom",
// "birdseye", "camera", "light".
const char* ViewKindWord(ViewKind kind);
std::optional<ViewKind> ViewKindNamed(const std::string& word);

// How the user has moved a view: a zoom factor over the fitted zoom, a pan
// in world units across the screen, and for the orthographic views an
// orbit (heading about the vertical, pitch above the horizon, in degrees).
struct ViewState {
  ViewKind kind = ViewKind::kFront;
  float zoom = 1.0f;
  float panX = 0.0f;
  float panY = 0.0f;
  float heading = 0.0f;
  float pitch = 0.0f;
};

// A view as first shown: fitted, no pan, the kind's own direction (Bird's
// Eye from heading 45 and 30 degrees above).
ViewState InitialViewState(ViewKind kind);

// What a choreography shows beside its figures at a frame, in world space.
struct ViewDecorations {
  std::vector<std::vector<Vector3>> paths;  // each path as a polyline
  std::optional<Vector3> camera;
  std::optional<Vector3> cameraTarget;
  struct Lamp {
    Vector3 position;
    std::optional<Vector3> target;
  };
  std::vector<Lamp> lights;
};

// The paths (8 pieces per spline segment), the camera with its target and
// the lights with theirs, at a user frame.
ViewDecorations DecorationsAt(const Choreography& chor, float frame);

struct ViewOptions {
  bool grid = true;                  // DIRECTION "Grid"
  float gridSpacing = 200.0f;        // DIRECTION "GridSpacing", world units
  bool perspectiveBirdsEye = false;  // GLOBAL "PerspectiveBirdsEye"
  bool controlPoints = false;        // marks on every control point (the sculpture window)
  std::array<std::uint8_t, 3> paper = {255, 255, 255};  // blue, green, red
  // The camera and light views' eyes; without them those views show the
  // Front view.
  std::optional<ViewFraming> camera;
  std::optional<ViewFraming> light;
};

// The box a fitted view frames: the scene's bounds with the decorations,
// or ±500 about the origin when both are empty.
void FramingBox(const ModelScene& scene, const ViewDecorations& decorations, Vector3& lo,
                Vector3& hi);

// The view a picture of width × height is drawn through (its transform is
// world to view space).
View MakeView(const ModelScene& scene, const ViewDecorations& decorations, const ViewState& state,
              const ViewOptions& options, int width, int height);

// The perspective framing the z-buffer renderer shades a view with: the
// camera's or light's own eye, or an eye backed off along the view's
// direction so the box's middle keeps the view's scale.
ViewFraming ShadingFraming(const ModelScene& scene, const ViewDecorations& decorations,
                           const ViewState& state, const ViewOptions& options, int width,
                           int height);

// The grid's spacing in world units: the set spacing, doubled until its
// lines lie at least 6 pixels apart, or halved while they lie more than a
// quarter of the view apart.
float GridSpacingOn(const View& view, float spacing);

// Colours (blue, green, red) of the drawn views.
namespace view_colour {
inline constexpr std::array<std::uint8_t, 3> kPaper = {255, 255, 255};
inline constexpr std::array<std::uint8_t, 3> kGrid = {192, 192, 192};
inline constexpr std::array<std::uint8_t, 3> kSpline = {0, 0, 0};
inline constexpr std::array<std::uint8_t, 3> kPath = {255, 0, 0};
inline constexpr std::array<std::uint8_t, 3> kCamera = {0, 0, 255};
inline constexpr std::array<std::uint8_t, 3> kLight = {0, 160, 255};
}  // namespace view_colour

// Clears the picture to the paper and draws the view: the grid, the
// paths, the splines of every segment, the camera and the lights. The
// render driver's wireframe frames are the Camera view of this drawing
// without grid and decorations.
void DrawDocumentView(const ModelScene& scene, const ViewDecorations& decorations,
                      const ViewState& state, const ViewOptions& options, Picture& picture);

}  // namespace zentrope
