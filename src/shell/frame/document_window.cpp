// The direction, character and sculpture windows.
#include "shell/frame/document_window.h"

#include <SDL.h>
#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "chor/choreography.h"
#include "chor/choreography_file.h"
#include "chor/scene_lights.h"
#include "io/scene_render_job.h"
#include "render/camera_view.h"
#include "render/model_render.h"
#include "render/render_settings.h"
#include "shell/frame/frame_commands.h"
#include "shell/string_table.h"

namespace zentrope {

namespace {

int NextSerial() {
  static int serial = 0;
  return ++serial;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

const char* KindWord(ModuleKind kind) {
  switch (kind) {
    case ModuleKind::kDirection:
      return "DIRECTION";
    case ModuleKind::kCharacter:
      return "CHARACTER";
    case ModuleKind::kSculpture:
      return "SCULPTURE";
  }
  return "";
}

// A light's eye: from the first light towards its target.
std::optional<ViewFraming> LightFraming(const Choreography& chor, float frame, int width) {
  const std::vector<LightState> lights = LightsAt(chor, frame);
  if (lights.empty()) {
    return std::nullopt;
  }
  const LightState& l = lights.front();
  const auto apart = [&l](const Vector3& t) {
    return std::abs(t.x - l.position.x) + std::abs(t.y - l.position.y) +
               std::abs(t.z - l.position.z) >
           1e-3f;  // false for NaN too
  };
  // Towards its target, else along its direction.
  Vector3 target = l.target;
  if (!apart(target)) {
    target = {l.position.x - l.direction.x * 100.0f, l.position.y - l.direction.y * 100.0f,
              l.position.z - l.direction.z * 100.0f};
  }
  if (!apart(target)) {
    return std::nullopt;
  }
  return LookAt(l.position, target, 60.0f, width);
}

}  // namespace

std::optional<ModuleKind> ModuleKindFor(const std::string& path) {
  const std::string ext = Lower(std::filesystem::path(path).extension().string());
  if (ext == ".cho") {
    return ModuleKind::kDirection;
  }
  if (ext == ".fig") {
    return ModuleKind::kCharacter;
  }
  if (ext == ".seg") {
    return ModuleKind::kSculpture;
  }
  return std::nullopt;
}

Result<std::unique_ptr<DocumentWindow>> DocumentWindow::Open(const std::string& path,
                                                             const std::string& action) {
  const std::optional<ModuleKind> kind = ModuleKindFor(path);
  if (!kind) {
    return Failure{LoadString(str::kCantOpenFile),
                   path + ": not a choreography (.cho), figure (.fig) or segment (.seg)"};
  }
  Result<ExportSource> source = ExportSource::Open(path, action);
  if (!source) {
    return source.failure();
  }
  std::unique_ptr<DocumentWindow> w(new DocumentWindow());
  w->kind_ = *kind;
  w->path_ = path;
  w->action_ = action;
  w->serial_ = NextSerial();
  w->first_ = source->FirstFrame();
  w->last_ = source->LastFrame();
  w->problems_ = source->UnloadableFigures();
  w->source_.emplace(std::move(*source));
  w->frame_ = static_cast<float>(w->first_);
  w->frameRate_ = std::max<int>(1, RenderSettingsOfSession().full.frameRate);
  if (const Choreography* chor = w->source_->choreography()) {
    w->renderFrom_ = chor->scene.renderFrom;
    w->renderTo_ = chor->scene.renderTo;
    w->renderStep_ = chor->scene.renderStep > 0.0f ? chor->scene.renderStep : 1.0f;
    std::snprintf(w->outputName_, sizeof w->outputName_, "%s",
                  chor->scene.outputName.empty() ? RenderSettingsOfSession().full.outputName.c_str()
                                                 : chor->scene.outputName.c_str());
    const RenderMode mode = RenderSettingsOfSession().full.mode;
    w->renderMode_ = mode == RenderMode::kWireframe ? 0 : mode == RenderMode::kZBuffer ? 1 : 2;
  }
  // A choreography opens on its camera, a model on its Front view.
  w->panes_.resize(1);
  w->panes_[0].state =
      InitialViewState(*kind == ModuleKind::kDirection ? ViewKind::kCamera : ViewKind::kFront);
  w->Pose();
  return w;
}

std::unique_ptr<DocumentWindow> DocumentWindow::NewChoreography(int frames) {
  std::unique_ptr<DocumentWindow> w(new DocumentWindow());
  w->kind_ = ModuleKind::kDirection;
  w->path_ = LoadString(str::kUntitled);
  w->serial_ = NextSerial();
  w->last_ = std::max(1, frames);
  w->panes_.resize(1);
  w->panes_[0].state = InitialViewState(ViewKind::kBirdsEye);
  return w;
}

std::string DocumentWindow::Title() const {
  std::string title =
      std::string(KindWord(kind_)) + ": " + std::filesystem::path(path_).filename().string();
  if (!action_.empty()) {
    title += " (" + std::filesystem::path(action_).filename().string() + ")";
  }
  if (changed_) {
    title += " *";
  }
  return title;
}

std::string DocumentWindow::WindowName() const {
  return Title() + "###doc" + std::to_string(serial_);
}

bool DocumentWindow::Save(std::string* why) {
  Choreography* chor = source_ ? source_->choreography() : nullptr;
  if (!chor) {
    *why = "nothing to save";
    return false;
  }
  std::string detail;
  if (write_choreography(*chor, path_, &detail) != SaveStatus::kSaved) {
    *why = LoadString(str::kSaveChoreography) + ": " + detail;
    return false;
  }
  changed_ = false;
  return true;
}

void DocumentWindow::Place(float x, float y, float w, float h) {
  placement_ = {x, y, w, h};
}

bool DocumentWindow::SetView(ViewKind kind) {
  // The camera and the lights are a choreography's: a model has neither.
  const bool eye = kind == ViewKind::kCamera || kind == ViewKind::kLight;
  if (eye && kind_ != ModuleKind::kDirection) {
    return false;
  }
  panes_[static_cast<std::size_t>(active_)].state = InitialViewState(kind);
  MarkAllDirty();
  return true;
}

void DocumentWindow::SetLayout(int views) {
  static constexpr ViewKind kTwin[] = {ViewKind::kFront, ViewKind::kRight};
  static constexpr ViewKind kQuad[] = {ViewKind::kFront, ViewKind::kTop, ViewKind::kRight,
                                       ViewKind::kBirdsEye};
  const ViewState first = panes_.front().state;
  panes_.clear();
  panes_.resize(views == 4 ? 4 : views == 2 ? 2 : 1);
  panes_[0].state = first;
  for (std::size_t i = 1; i < panes_.size(); ++i) {
    ViewKind k = views == 4 ? kQuad[i] : kTwin[i];
    if (kind_ == ModuleKind::kDirection && i + 1 == panes_.size()) {
      k = ViewKind::kCamera;
    }
    panes_[i].state = InitialViewState(k);
  }
  active_ = 0;
}

void DocumentWindow::SetFrame(float frame) {
  frame_ = std::clamp(frame, static_cast<float>(first_), static_cast<float>(last_));
  Pose();
}

void DocumentWindow::MarkAllDirty() {
  for (Pane& p : panes_) {
    p.dirty = true;
  }
}

void DocumentWindow::Pose() {
  if (!source_ || frame_ == posedFrame_) {
    return;
  }
  Result<ExportScene> posed = source_->PoseAt(frame_);
  posedFrame_ = frame_;
  if (!posed) {
    problems_.push_back(posed.failure().message + ": " + posed.failure().detail);
    posed_.reset();
  } else {
    for (const std::string& p : posed->scene.problems) {
      if (p != kNothingToDraw &&
          std::find(problems_.begin(), problems_.end(), p) == problems_.end()) {
        problems_.push_back(p);
      }
    }
    posed_ = std::move(*posed);
  }
  decorations_ = {};
  if (const Choreography* chor = source_->choreography()) {
    decorations_ = DecorationsAt(*chor, frame_);
  }
  MarkAllDirty();
}

bool DocumentWindow::ToolButton(const char* label, int id, const WindowContext& context,
                                bool enabled) {
  if (!enabled) {
    ImGui::BeginDisabled();
  }
  const bool pressed = ImGui::Button(label);
  if (!enabled) {
    ImGui::EndDisabled();
  }
  if (ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled)) {
    if (context.showHelp) {
      context.showHelp(id);
    }
    const std::string key = ToolButtonShortcut(id);
    ImGui::SetTooltip("%s%s%s", HelpLine(id).c_str(), key.empty() ? "" : "  ", key.c_str());
  }
  ImGui::SameLine();
  return pressed && enabled;
}

void DocumentWindow::DrawToolRow(const WindowContext& context) {
  Pane& pane = panes_[static_cast<std::size_t>(active_)];
  ImGui::SetNextItemWidth(110.0f);
  if (ImGui::BeginCombo("##view", ViewKindTitle(pane.state.kind))) {
    for (ViewKind k : kAllViewKinds) {
      if ((k == ViewKind::kCamera || k == ViewKind::kLight) && kind_ != ModuleKind::kDirection) {
        continue;
      }
      if (ImGui::Selectable(ViewKindTitle(k), k == pane.state.kind)) {
        SetView(k);
      }
    }
    ImGui::EndCombo();
  }
  ImGui::SameLine();
  // What a drag with the left button does: zoom, pan or orbit. The Zoom
  // button's right click fits the view.
  const auto modeButton = [&](const char* label, int id, DragMode mode) {
    const bool on = dragMode_ == mode;
    if (on) {
      ImGui::PushStyleColor(ImGuiCol_Button, ImGui::GetStyleColorVec4(ImGuiCol_ButtonActive));
    }
    const bool pressed = ToolButton(label, id, context);
    const bool fit = id == command::kZoomButton && ImGui::IsItemClicked(ImGuiMouseButton_Right);
    if (on) {
      ImGui::PopStyleColor();
    }
    if (pressed) {
      dragMode_ = mode;
    }
    if (fit) {
      pane.state = InitialViewState(pane.state.kind);
      pane.dirty = true;
    }
  };
  modeButton("Zoom", command::kZoomButton, DragMode::kZoom);
  modeButton("Pan", command::kPanButton, DragMode::kPan);
  modeButton("Orbit", command::kOrbitButton, DragMode::kOrbit);
  if (kind_ == ModuleKind::kSculpture || kind_ == ModuleKind::kCharacter) {
    if (ToolButton(shaded_ ? "Lines" : "Shaded", command::kShadedButton, context)) {
      shaded_ = !shaded_;
      MarkAllDirty();
    }
  }
  if (kind_ == ModuleKind::kDirection) {
    const bool can = source_.has_value() && !task_.Running();
    if (ToolButton("Render...", command::kRenderButton, context, can)) {
      renderDialog_ = true;
    }
    if (ToolButton("Quick Render", command::kQuickRenderButton, context, can)) {
      StartRender(true);
    }
  }
  ImGui::NewLine();
}

void DocumentWindow::DrawFrameRow(const WindowContext& context) {
  if (last_ <= first_) {
    return;
  }
  if (ToolButton("|<", command::kFirstFrameButton, context)) {
    playing_ = false;
    SetFrame(static_cast<float>(first_));
  }
  if (ToolButton("<", command::kPreviousFrameButton, context)) {
    playing_ = false;
    SetFrame(std::floor(frame_) - 1.0f);
  }
  if (ToolButton(playing_ ? "Stop" : "Play", command::kPlayButton, context)) {
    playing_ = !playing_;
    playStart_ = std::chrono::steady_clock::now();
    playFrom_ = frame_;
  }
  if (ToolButton(">", command::kNextFrameButton, context)) {
    playing_ = false;
    SetFrame(std::floor(frame_) + 1.0f);
  }
  if (ToolButton(">|", command::kLastFrameButton, context)) {
    playing_ = false;
    SetFrame(static_cast<float>(last_));
  }
  int f = static_cast<int>(frame_);
  ImGui::SetNextItemWidth(std::max(120.0f, ImGui::GetContentRegionAvail().x - 10.0f));
  if (ImGui::SliderInt("##frame", &f, first_, last_, "Frame %d")) {
    playing_ = false;
    SetFrame(static_cast<float>(f));
  }
}

ViewOptions DocumentWindow::PaneOptions(const Pane& pane, const WindowContext& context) const {
  static const ModelScene kEmpty;
  const ModelScene& scene = posed_ ? posed_->scene : kEmpty;
  ViewOptions options = context.options;
  options.controlPoints = kind_ == ModuleKind::kSculpture;
  if (const Choreography* chor = source_ ? source_->choreography() : nullptr) {
    if (pane.state.kind == ViewKind::kCamera) {
      const CameraState camera = CameraAt(*chor, frame_);
      if (camera.onPath) {
        options.camera = CameraFraming(camera, scene, pane.width, pane.height);
      }
    } else if (pane.state.kind == ViewKind::kLight) {
      options.light = LightFraming(*chor, frame_, pane.width);
    }
  }
  return options;
}

void DocumentWindow::RedrawPane(Pane& pane, const WindowContext& context) {
  pane.picture.width = pane.width;
  pane.picture.height = pane.height;
  static const ModelScene kEmpty;
  const ModelScene& scene = posed_ ? posed_->scene : kEmpty;
  const ViewOptions options = PaneOptions(pane, context);
  if (shaded_ && posed_ && !scene.empty) {
    ModelRenderOptions render;
    render.width = pane.width;
    render.height = pane.height;
    render.background = view_colour::kPaper;
    render.frame = static_cast<int>(frame_);
    render.camera =
        ShadingFraming(scene, decorations_, pane.state, options, pane.width, pane.height);
    ModelRenderResult result = RenderModel(scene, render);
    if (result.code == 0) {
      pane.picture = std::move(result.picture);
      pane.texture.Upload(pane.picture);
      pane.dirty = false;
      return;
    }
  }
  DrawDocumentView(scene, decorations_, pane.state, options, pane.picture);
  pane.texture.Upload(pane.picture);
  pane.dirty = false;
}

void DocumentWindow::DrawPane(Pane& pane, int index, float w, float h,
                              const WindowContext& context) {
  const int pw = std::max(8, static_cast<int>(w));
  const int ph = std::max(8, static_cast<int>(h));
  if (pw != pane.width || ph != pane.height) {
    pane.width = pw;
    pane.height = ph;
    pane.dirty = true;
  }
  if (pane.dirty) {
    RedrawPane(pane, context);
  }
  const ImVec2 origin = ImGui::GetCursorScreenPos();
  ImGui::PushID(index);
  ImGui::Image(pane.texture.Id(), ImVec2(static_cast<float>(pw), static_cast<float>(ph)));
  ImDrawList* draw = ImGui::GetWindowDrawList();
  const ViewState initial = InitialViewState(pane.state.kind);
  const bool turned = pane.state.heading != initial.heading || pane.state.pitch != initial.pitch;
  draw->AddText(
      ImVec2(origin.x + 4, origin.y + 2), IM_COL32(0, 0, 128, 255),
      (std::string(ViewKindTitle(pane.state.kind)) + (turned ? " (turned)" : "")).c_str());
  if (index == active_ && panes_.size() > 1) {
    draw->AddRect(origin, ImVec2(origin.x + pw, origin.y + ph), IM_COL32(0, 90, 200, 255));
  }
  // The mouse acts on the view through a button over the picture, so drags
  // with any button belong to the view and not to the window.
  ImGui::SetCursorScreenPos(origin);
  ImGui::InvisibleButton("##pane", ImVec2(static_cast<float>(pw), static_cast<float>(ph)),
                         ImGuiButtonFlags_MouseButtonLeft | ImGuiButtonFlags_MouseButtonRight |
                             ImGuiButtonFlags_MouseButtonMiddle);
  ImGuiIO& io = ImGui::GetIO();
  if (ImGui::IsItemHovered()) {
    if (ImGui::IsMouseClicked(ImGuiMouseButton_Left) ||
        ImGui::IsMouseClicked(ImGuiMouseButton_Right)) {
      active_ = index;
    }
    if (io.MouseWheel != 0.0f) {
      pane.state.zoom =
          std::clamp(pane.state.zoom * std::pow(1.15f, io.MouseWheel), 0.01f, 1000.0f);
      pane.dirty = true;
    }
    if (ImGui::IsMouseDoubleClicked(ImGuiMouseButton_Left)) {
      pane.state = InitialViewState(pane.state.kind);
      pane.dirty = true;
    }
  }
  if (ImGui::IsItemActive() && (io.MouseDelta.x != 0.0f || io.MouseDelta.y != 0.0f)) {
    const ImVec2 d = io.MouseDelta;
    const bool otherButton =
        ImGui::IsMouseDown(ImGuiMouseButton_Right) || ImGui::IsMouseDown(ImGuiMouseButton_Middle);
    // The camera and the light are the scene's own eyes: they pan and zoom
    // but do not orbit.
    const bool eye =
        (pane.state.kind == ViewKind::kCamera || pane.state.kind == ViewKind::kLight) && source_ &&
        source_->choreography();
    const bool zoom = !otherButton && dragMode_ == DragMode::kZoom;
    const bool pan = otherButton || io.KeyShift || dragMode_ == DragMode::kPan ||
                     (eye && dragMode_ == DragMode::kOrbit);
    if (zoom) {
      // Dragging up zooms in.
      pane.state.zoom = std::clamp(pane.state.zoom * std::pow(1.01f, -d.y), 0.01f, 1000.0f);
    } else if (pan) {
      // In world units: the drag over the view's scale (a perspective
      // Bird's Eye pans as its orthographic self, at the box's middle).
      static const ModelScene kEmpty;
      const ModelScene& scene = posed_ ? posed_->scene : kEmpty;
      ViewOptions options = PaneOptions(pane, context);
      options.perspectiveBirdsEye = false;
      const View v = MakeView(scene, decorations_, pane.state, options, pw, ph);
      const float scale = std::max(v.zoom, 1e-6f);
      pane.state.panX += d.x / scale;
      pane.state.panY -= d.y / scale;
    } else {
      pane.state.heading -= d.x * 0.5f;
      pane.state.pitch = std::clamp(pane.state.pitch + d.y * 0.5f, -90.0f, 90.0f);
    }
    pane.dirty = true;
  }
  ImGui::PopID();
}

void DocumentWindow::DrawPanes(const WindowContext& context) {
  ImVec2 avail = ImGui::GetContentRegionAvail();
  const float meter = task_.Running() ? ImGui::GetFrameHeightWithSpacing() : 0.0f;
  avail.y -= meter;
  const float gap = 2.0f;
  const int columns = panes_.size() == 1 ? 1 : 2;
  const int rows = panes_.size() == 4 ? 2 : 1;
  const float w = (avail.x - gap * (columns - 1)) / columns;
  const float h = (avail.y - gap * (rows - 1)) / rows;
  if (w < 8.0f || h < 8.0f) {
    return;
  }
  ImGui::PushStyleVar(ImGuiStyleVar_ItemSpacing, ImVec2(gap, gap));
  for (std::size_t i = 0; i < panes_.size(); ++i) {
    if (i % 2 == 1) {
      ImGui::SameLine();
    }
    DrawPane(panes_[i], static_cast<int>(i), w, h, context);
  }
  ImGui::PopStyleVar();
  if (task_.Running()) {
    const RenderTask::Progress p = task_.Snapshot();
    char text[320];
    std::snprintf(text, sizeof text, "%s  (%d of %d; Escape stops)", p.title.c_str(),
                  std::min(p.index + 1, std::max(p.count, 1)), std::max(p.count, 1));
    ImGui::ProgressBar(p.count > 0 ? static_cast<float>(p.finished) / p.count : 0.0f,
                       ImVec2(-1.0f, 0.0f), text);
  }
}

void DocumentWindow::StartRender(bool quick) {
  Choreography* chor = source_ ? source_->choreography() : nullptr;
  if (!chor) {
    return;
  }
  RenderJob job = DirectionRenderJob(path_, *chor, quick);
  if (quick) {
    job.frames = {frame_};
  } else {
    job.mode = renderMode_ == 0   ? RenderMode::kWireframe
               : renderMode_ == 1 ? RenderMode::kZBuffer
                                  : RenderMode::kRaytrace;
  }
  if (task_.Start(std::move(job), quick)) {
    outputWanted_ = true;
  }
}

void DocumentWindow::DrawRenderDialog() {
  if (renderDialog_) {
    ImGui::OpenPopup("Render");
    renderDialog_ = false;
  }
  if (!ImGui::BeginPopupModal("Render", nullptr, ImGuiWindowFlags_AlwaysAutoResize)) {
    return;
  }
  Choreography* chor = source_ ? source_->choreography() : nullptr;
  ImGui::InputFloat("From", &renderFrom_, 1.0f, 10.0f, "%g");
  ImGui::InputFloat("To", &renderTo_, 1.0f, 10.0f, "%g");
  ImGui::InputFloat("Step", &renderStep_, 1.0f, 1.0f, "%g");
  ImGui::InputText("Output", outputName_, sizeof outputName_);
  static const char* kModes[] = {"Wireframe", "Z-Buffer", "Raytrace"};
  ImGui::Combo("Mode", &renderMode_, kModes, 3);
  ImGui::TextDisabled("Frames go to the output name; its extension picks the format.");
  const bool valid = renderStep_ > 0.0f && renderFrom_ <= renderTo_ && outputName_[0] != 0;
  if (!valid) {
    ImGui::BeginDisabled();
  }
  if (ImGui::Button("Render") && chor) {
    // The range and the name are the scene's own: they are saved with it.
    SceneSettings& scene = chor->scene;
    if (scene.renderFrom != renderFrom_ || scene.renderTo != renderTo_ ||
        scene.renderStep != renderStep_ || scene.outputName != outputName_) {
      scene.renderFrom = renderFrom_;
      scene.renderTo = renderTo_;
      scene.renderStep = renderStep_;
      scene.outputName = outputName_;
      changed_ = true;
    }
    StartRender(false);
    ImGui::CloseCurrentPopup();
  }
  if (!valid) {
    ImGui::EndDisabled();
  }
  ImGui::SameLine();
  if (ImGui::Button("Cancel")) {
    ImGui::CloseCurrentPopup();
  }
  ImGui::EndPopup();
}

void DocumentWindow::HandleKeys(const WindowContext& context) {
  if (!ImGui::IsWindowFocused(ImGuiFocusedFlags_RootAndChildWindows) ||
      ImGui::GetIO().WantTextInput) {
    return;
  }
  const auto pressed = [](SDL_Scancode key) { return ImGui::IsKeyPressed(key, false); };
  if (pressed(SDL_SCANCODE_ESCAPE) && task_.Running()) {
    task_.Stop();
  }
  if (pressed(SDL_SCANCODE_Z)) {
    dragMode_ = DragMode::kZoom;
  }
  if (pressed(SDL_SCANCODE_P)) {
    dragMode_ = DragMode::kPan;
  }
  if (pressed(SDL_SCANCODE_O)) {
    dragMode_ = DragMode::kOrbit;
  }
  if (last_ > first_) {
    if (pressed(SDL_SCANCODE_SPACE)) {
      playing_ = !playing_;
      playStart_ = std::chrono::steady_clock::now();
      playFrom_ = frame_;
    }
    if (pressed(SDL_SCANCODE_COMMA)) {
      SetFrame(std::floor(frame_) - 1.0f);
    }
    if (pressed(SDL_SCANCODE_PERIOD)) {
      SetFrame(std::floor(frame_) + 1.0f);
    }
    if (pressed(SDL_SCANCODE_HOME)) {
      SetFrame(static_cast<float>(first_));
    }
    if (pressed(SDL_SCANCODE_END)) {
      SetFrame(static_cast<float>(last_));
    }
  }
  if (kind_ == ModuleKind::kDirection && source_ && !task_.Running()) {
    if (pressed(SDL_SCANCODE_R)) {
      renderDialog_ = true;
    }
    if (pressed(SDL_SCANCODE_Q)) {
      StartRender(true);
    }
  }
  if (kind_ != ModuleKind::kDirection && pressed(SDL_SCANCODE_S)) {
    shaded_ = !shaded_;
    MarkAllDirty();
  }
  (void)context;
}

bool DocumentWindow::Draw(const WindowContext& context) {
  if (context.options.grid != lastOptions_.grid ||
      context.options.gridSpacing != lastOptions_.gridSpacing ||
      context.options.perspectiveBirdsEye != lastOptions_.perspectiveBirdsEye) {
    lastOptions_ = context.options;
    MarkAllDirty();
  }
  if (playing_) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - playStart_).count();
    const int span = last_ - first_ + 1;
    const int step = static_cast<int>(seconds * frameRate_);
    const int at = (static_cast<int>(playFrom_) - first_ + step) % std::max(span, 1);
    SetFrame(static_cast<float>(first_ + at));
  }
  // The render output window: opened with the render, showing each frame
  // as it finishes, then the result.
  if (outputWanted_ && context.openRender) {
    output_ = context.openRender();
    outputWanted_ = false;
  }
  if (const std::shared_ptr<RenderOutputWindow> out = output_.lock()) {
    Picture latest;
    if (task_.TakeLatest(latest)) {
      out->Show(std::move(latest), task_.Snapshot().title);
    }
  }
  if (std::optional<RenderTask::Finished> done = task_.Take()) {
    if (const std::shared_ptr<RenderOutputWindow> out = output_.lock()) {
      out->Finish(std::move(*done));
      if (context.renderFinished) {
        context.renderFinished(*out);
      }
    }
  }
  if (placement_) {
    ImGui::SetNextWindowPos(ImVec2((*placement_)[0], (*placement_)[1]));
    ImGui::SetNextWindowSize(ImVec2((*placement_)[2], (*placement_)[3]));
    placement_.reset();
  } else {
    ImGui::SetNextWindowSize(ImVec2(640, 480), ImGuiCond_FirstUseEver);
  }
  bool open = true;
  bool focused = false;
  const std::string title = WindowName();
  if (ImGui::Begin(title.c_str(), &open,
                   ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse |
                       ImGuiWindowFlags_NoCollapse)) {
    focused = ImGui::IsWindowFocused(ImGuiFocusedFlags_RootAndChildWindows);
    const ImVec2 pos = ImGui::GetWindowPos(), size = ImGui::GetWindowSize();
    rect_ = {pos.x, pos.y, size.x, size.y};
    DrawToolRow(context);
    DrawFrameRow(context);
    DrawPanes(context);
    HandleKeys(context);
    DrawRenderDialog();
  }
  ImGui::End();
  if (!open) {
    closeAsked_ = true;
  }
  return focused;
}

}  // namespace zentrope
