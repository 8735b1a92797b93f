// Editor views drawn into pictures.
#include "render/view_drawing.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "chor/choreography.h"
#include "chor/scene_lights.h"
#include "core/spline.h"
#include "render/wireframe.h"

namespace zentrope {

namespace {

constexpr double kDegrees = 3.14159265358979323846 / 180.0;
constexpr int kPathSteps = 8;  // pieces per path segment, as splines are drawn
constexpr float kEmptyHalf = 500.0f;
constexpr float kMargin = 0.1f;  // a tenth of the view on each side stays free

struct KindEntry {
  ViewKind kind;
  const char* title;
  const char* word;
  float heading;
  float pitch;
};

constexpr KindEntry kKinds[] = {
    {ViewKind::kFront, "Front", "front", 0.0f, 0.0f},
    {ViewKind::kBack, "Back", "back", 180.0f, 0.0f},
    {ViewKind::kLeft, "Left", "left", -90.0f, 0.0f},
    {ViewKind::kRight, "Right", "right", 90.0f, 0.0f},
    {ViewKind::kTop, "Top", "top", 0.0f, 90.0f},
    {ViewKind::kBottom, "Bottom", "bottom", 0.0f, -90.0f},
    {ViewKind::kBirdsEye, "Bird's Eye", "birdseye", 45.0f, 30.0f},
    {ViewKind::kCamera, "Camera", "camera", 0.0f, 0.0f},
    {ViewKind::kLight, "Light", "light", 0.0f, 0.0f},
};

const KindEntry& EntryOf(ViewKind kind) {
  for (const KindEntry& e : kKinds) {
    if (e.kind == kind) {
      return e;
    }
  }
  return kKinds[0];
}

// World to view rotation of an orthographic view looking along heading and
// pitch: rows right, up and the viewing direction (the depth axis).
Transform OrbitRotation(float heading, float pitch, const Vector3& centre) {
  const double h = heading * kDegrees, p = pitch * kDegrees;
  // The level direction of the heading, then tilted down by the pitch.
  const double d0[3] = {-std::sin(h), 0.0, -std::cos(h)};
  const double d[3] = {std::cos(p) * d0[0], -std::sin(p), std::cos(p) * d0[2]};
  const double u[3] = {std::sin(p) * d0[0], std::cos(p), std::sin(p) * d0[2]};
  const double r[3] = {d[1] * u[2] - d[2] * u[1], d[2] * u[0] - d[0] * u[2],
                       d[0] * u[1] - d[1] * u[0]};
  const double* rows[3] = {r, u, d};
  Transform t;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      t.t[static_cast<std::size_t>(3 * i + j)] = static_cast<float>(rows[i][j]);
    }
    t.t[static_cast<std::size_t>(9 + i)] = static_cast<float>(
        -(rows[i][0] * centre.x + rows[i][1] * centre.y + rows[i][2] * centre.z));
  }
  return t;
}

// The scene's own eye a view looks through: the camera's or the light's
// framing; none for the editor views (and for Camera or Light without it).
const ViewFraming* EyeOf(const ViewState& state, const ViewOptions& options) {
  const std::optional<ViewFraming>& eye =
      state.kind == ViewKind::kCamera ? options.camera : options.light;
  const bool looks = state.kind == ViewKind::kCamera || state.kind == ViewKind::kLight;
  return looks && eye ? &*eye : nullptr;
}

// A fitted view in perspective: only Bird's Eye, when the user asks for it.
bool PerspectiveFit(const ViewState& state, const ViewOptions& options) {
  return state.kind == ViewKind::kBirdsEye && options.perspectiveBirdsEye;
}

void Grow(Vector3& lo, Vector3& hi, const Vector3& p) {
  lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
  hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
}

void DrawPolyline(const View& view, const std::vector<Vector3>& points, DrawSink& sink) {
  for (std::size_t i = 1; i < points.size(); ++i) {
    DrawViewLine(view, view.transform.ApplyToPoint(points[i - 1]),
                 view.transform.ApplyToPoint(points[i]), sink);
  }
}

// A small three-axis cross at a world point, its arms a fixed number of
// pixels long whatever the zoom.
void DrawCross(const View& view, const Vector3& at, float pixels, DrawSink& sink) {
  const float arm = pixels / std::max(view.zoom, 1e-6f);
  const Vector3 c = view.transform.ApplyToPoint(at);
  if (view.Perspective()) {
    // Arms measured at the point's depth.
    const float a = arm * std::max(c.z, kNearPlane) / view.distance;
    DrawViewLine(view, {c.x - a, c.y, c.z}, {c.x + a, c.y, c.z}, sink);
    DrawViewLine(view, {c.x, c.y - a, c.z}, {c.x, c.y + a, c.z}, sink);
    return;
  }
  DrawViewLine(view, {c.x - arm, c.y - arm, c.z}, {c.x + arm, c.y + arm, c.z}, sink);
  DrawViewLine(view, {c.x - arm, c.y + arm, c.z}, {c.x + arm, c.y - arm, c.z}, sink);
  DrawViewLine(view, {c.x - arm, c.y - arm, c.z}, {c.x + arm, c.y - arm, c.z}, sink);
  DrawViewLine(view, {c.x - arm, c.y + arm, c.z}, {c.x + arm, c.y + arm, c.z}, sink);
}

// Grid lines on the plane the view looks most squarely at (the ground for
// Top, Bottom, Bird's Eye, Camera and Light), about the framing box.
void DrawGrid(const View& view, const ViewState& state, float spacing, const Vector3& lo,
              const Vector3& hi, DrawSink& sink) {
  if (!(spacing > 0.0f) || !std::isfinite(spacing)) {
    return;
  }
  const float step = GridSpacingOn(view, spacing);
  // Which world axes span the plane: 0 x, 1 y, 2 z.
  int a = 0, b = 2;
  const bool sideOn = state.kind == ViewKind::kFront || state.kind == ViewKind::kBack ||
                      state.kind == ViewKind::kLeft || state.kind == ViewKind::kRight;
  if (sideOn && std::abs(state.pitch) < 45.0f) {
    const bool alongX = std::abs(std::sin(state.heading * kDegrees)) < 0.7071;
    a = alongX ? 0 : 2;
    b = 1;
  }
  // Cover the box and a view's width around it, at most 400 lines a side.
  const float reach = std::max({hi.x - lo.x, hi.y - lo.y, hi.z - lo.z, 2 * kEmptyHalf});
  const auto axisLo = [&](int i) { return (i == 0 ? lo.x : i == 1 ? lo.y : lo.z) - reach; };
  const auto axisHi = [&](int i) { return (i == 0 ? hi.x : i == 1 ? hi.y : hi.z) + reach; };
  const auto at = [](int i, int j, float u, float v) {
    Vector3 p{0, 0, 0};
    (i == 0 ? p.x : i == 1 ? p.y : p.z) = u;
    (j == 0 ? p.x : j == 1 ? p.y : p.z) = v;
    return p;
  };
  const float aLo = std::floor(axisLo(a) / step) * step, aHi = axisHi(a);
  const float bLo = std::floor(axisLo(b) / step) * step, bHi = axisHi(b);
  int lines = 0;
  for (float u = aLo; u <= aHi && lines < 400; u += step, ++lines) {
    DrawViewLine(view, view.transform.ApplyToPoint(at(a, b, u, bLo)),
                 view.transform.ApplyToPoint(at(a, b, u, bHi)), sink);
  }
  lines = 0;
  for (float v = bLo; v <= bHi && lines < 400; v += step, ++lines) {
    DrawViewLine(view, view.transform.ApplyToPoint(at(a, b, aLo, v)),
                 view.transform.ApplyToPoint(at(a, b, aHi, v)), sink);
  }
}

}  // namespace

const char* ViewKindTitle(ViewKind kind) {
  return EntryOf(kind).title;
}
const char* ViewKindWord(ViewKind kind) {
  return EntryOf(kind).word;
}

std::optional<ViewKind> ViewKindNamed(const std::string& word) {
  for (const KindEntry& e : kKinds) {
    if (word == e.word) {
      return e.kind;
    }
  }
  return std::nullopt;
}

ViewState InitialViewState(ViewKind kind) {
  ViewState state;
  state.kind = kind;
  state.heading = EntryOf(kind).heading;
  state.pitch = EntryOf(kind).pitch;
  return state;
}

ViewDecorations DecorationsAt(const Choreography& chor, float frame) {
  ViewDecorations out;
  for (const Path& path : chor.paths) {
    std::vector<Vector3> line;
    for (const ControlPoint* a = path.first; a; a = NextInTraversal(a)) {
      if (line.empty()) {
        line.push_back(a->position);
      }
      if (!a->next) {
        continue;
      }
      for (int i = 1; i <= kPathSteps; ++i) {
        line.push_back(SegmentPoint(*a, static_cast<float>(i) / kPathSteps));
      }
    }
    if (!line.empty()) {
      out.paths.push_back(std::move(line));
    }
  }
  const CameraState camera = CameraAt(chor, frame);
  if (camera.onPath) {
    out.camera = camera.position;
    if (chor.cameraTarget) {
      out.cameraTarget = camera.target;
    }
  }
  const std::vector<LightState> lights = LightsAt(chor, frame);
  for (std::size_t i = 0; i < lights.size(); ++i) {
    ViewDecorations::Lamp lamp{lights[i].position, std::nullopt};
    if (i < chor.lights.size() && chor.lights[i].target) {
      lamp.target = lights[i].target;
    }
    out.lights.push_back(lamp);
  }
  return out;
}

void FramingBox(const ModelScene& scene, const ViewDecorations& decorations, Vector3& lo,
                Vector3& hi) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  lo = {kInf, kInf, kInf};
  hi = {-kInf, -kInf, -kInf};
  if (!scene.empty) {
    Grow(lo, hi, scene.boundsMin);
    Grow(lo, hi, scene.boundsMax);
  }
  for (const auto& path : decorations.paths) {
    for (const Vector3& p : path) {
      Grow(lo, hi, p);
    }
  }
  for (const auto& p : {decorations.camera, decorations.cameraTarget}) {
    if (p) {
      Grow(lo, hi, *p);
    }
  }
  for (const auto& lamp : decorations.lights) {
    Grow(lo, hi, lamp.position);
    if (lamp.target) {
      Grow(lo, hi, *lamp.target);
    }
  }
  if (!(lo.x <= hi.x) || !std::isfinite(lo.x) || !std::isfinite(hi.x) || !std::isfinite(lo.y) ||
      !std::isfinite(hi.y) || !std::isfinite(lo.z) || !std::isfinite(hi.z)) {
    lo = {-kEmptyHalf, -kEmptyHalf, -kEmptyHalf};
    hi = {kEmptyHalf, kEmptyHalf, kEmptyHalf};
  }
}

namespace {

// A fitted view about the framing box: its rotation (world to view, the
// box's centre at the origin), the box's half extents across, up and in
// depth, and the orthographic zoom that fits it.
struct Fitted {
  Transform transform;
  float ex = 0.0f, ey = 0.0f, ez = 0.0f;
  float fit = 1.0f;
};

Fitted FitView(const ModelScene& scene, const ViewDecorations& decorations, const ViewState& state,
               int width, int height) {
  Vector3 lo, hi;
  FramingBox(scene, decorations, lo, hi);
  const Vector3 centre{(lo.x + hi.x) / 2, (lo.y + hi.y) / 2, (lo.z + hi.z) / 2};
  Fitted f;
  f.transform = OrbitRotation(state.heading, state.pitch, centre);
  for (int i = 0; i < 8; ++i) {
    const Vector3 corner{(i & 1) ? hi.x : lo.x, (i & 2) ? hi.y : lo.y, (i & 4) ? hi.z : lo.z};
    const Vector3 v = f.transform.ApplyToPoint(corner);
    f.ex = std::max(f.ex, std::abs(v.x));
    f.ey = std::max(f.ey, std::abs(v.y));
    f.ez = std::max(f.ez, std::abs(v.z));
  }
  const float usable = 0.5f - kMargin;  // half the view less the margin
  f.fit = std::min(width * usable / std::max(f.ex, 1e-3f), height * usable / std::max(f.ey, 1e-3f));
  return f;
}

// How far a perspective eye backs off from the box's centre: far enough
// that the box's nearest face is drawn at most a sixth larger than its
// middle, which keeps the fitted scale.
float EyeDistance(const Fitted& f) {
  return f.ez + 6.0f * std::max({f.ex, f.ey, 1.0f});
}

View ScreenView(int width, int height) {
  View view;
  view.clip = {0, 0, static_cast<std::int16_t>(std::min(width - 1, 32767)),
               static_cast<std::int16_t>(std::min(height - 1, 32767))};
  view.cx = static_cast<std::int16_t>(std::min(width / 2, 32767));
  view.cy = static_cast<std::int16_t>(std::min(height / 2, 32767));
  return view;
}

}  // namespace

View MakeView(const ModelScene& scene, const ViewDecorations& decorations, const ViewState& state,
              const ViewOptions& options, int width, int height) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  if (const ViewFraming* eye = EyeOf(state, options)) {
    View view = FramingView(*eye, width, height);
    view.zoom *= state.zoom;
    view.px = state.panX;
    view.py = state.panY;
    return view;
  }
  // Camera and Light without their eyes show the Front view (orbitable).
  const Fitted f = FitView(scene, decorations, state, width, height);
  View view = ScreenView(width, height);
  view.transform = f.transform;
  view.zoom = f.fit * state.zoom;
  view.px = state.panX;
  view.py = state.panY;
  if (PerspectiveFit(state, options)) {
    // Perspective Bird's Eye: the box's middle keeps the fitted scale, the
    // pan moves the picture as far as in the orthographic view.
    const float back = EyeDistance(f);
    view.transform.t[11] += back;
    view.distance = 1.0f;
    view.zoom *= back;
    view.px = state.panX / back;
    view.py = state.panY / back;
  }
  return view;
}

ViewFraming ShadingFraming(const ModelScene& scene, const ViewDecorations& decorations,
                           const ViewState& state, const ViewOptions& options, int width,
                           int height) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  if (const ViewFraming* eye = EyeOf(state, options)) {
    ViewFraming framing = *eye;
    framing.focal *= state.zoom;
    return framing;
  }
  const Fitted f = FitView(scene, decorations, state, width, height);
  const float back = EyeDistance(f);
  ViewFraming framing;
  framing.worldToView = f.transform;
  // The pan as a sideways move of the eye; at the box's middle it moves
  // the picture as far as the lines.
  framing.worldToView.t[9] += state.panX;
  framing.worldToView.t[10] += state.panY;
  framing.worldToView.t[11] += back;
  framing.focal = f.fit * state.zoom * back;
  return framing;
}

float GridSpacingOn(const View& view, float spacing) {
  // Screen spacing at unit depth (perspective views) or on the screen plane:
  // at least 6 pixels, and halved while wider than a quarter of the view,
  // so a spacing set for another scale still shows a grid.
  const float most = std::max(6.0f, (std::min(view.clip.right, view.clip.bottom) + 1) / 4.0f);
  float step = spacing;
  for (int i = 0; i < 40 && step * view.zoom < 6.0f; ++i) {
    step *= 2.0f;
  }
  for (int i = 0; i < 40 && step * view.zoom > most && step / 2.0f * view.zoom >= 6.0f; ++i) {
    step /= 2.0f;
  }
  return step;
}

void DrawDocumentView(const ModelScene& scene, const ViewDecorations& decorations,
                      const ViewState& state, const ViewOptions& options, Picture& picture) {
  const int width = std::max(picture.width, 1), height = std::max(picture.height, 1);
  picture.Reset(width, height, options.paper);
  View view = MakeView(scene, decorations, state, options, width, height);
  const Transform worldToView = view.transform;
  Vector3 lo, hi;
  FramingBox(scene, decorations, lo, hi);
  if (options.grid) {
    PictureSink grid(picture, view_colour::kGrid);
    DrawGrid(view, state, options.gridSpacing, lo, hi, grid);
  }
  PictureSink paths(picture, view_colour::kPath);
  for (const auto& path : decorations.paths) {
    DrawPolyline(view, path, paths);
  }
  PictureSink splines(picture, view_colour::kSpline, options.controlPoints);
  DrawSceneSplines(scene, view, worldToView, splines);
  if (decorations.camera) {
    PictureSink camera(picture, view_colour::kCamera);
    DrawCross(view, *decorations.camera, 5.0f, camera);
    if (decorations.cameraTarget) {
      DrawCross(view, *decorations.cameraTarget, 3.0f, camera);
      DrawPolyline(view, {*decorations.camera, *decorations.cameraTarget}, camera);
    }
  }
  PictureSink lights(picture, view_colour::kLight);
  for (const auto& lamp : decorations.lights) {
    DrawCross(view, lamp.position, 4.0f, lights);
    if (lamp.target) {
      DrawPolyline(view, {lamp.position, *lamp.target}, lights);
    }
  }
}

}  // namespace zentrope
