// The module windows inside the frame, each on one document: the direction
// window on a choreography, the character window on a figure (at rest or
// posed by an action) and the sculpture window on a segment. Each shows its
// document in one, two or four views at a frame; views zoom, pan and orbit
// with the mouse; the direction window plays its frames and renders.
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "io/export_scene.h"
#include "render/view_drawing.h"
#include "shell/frame/picture_texture.h"
#include "shell/frame/render_output_window.h"
#include "shell/frame/render_task.h"
#include "shell/result.h"

namespace zentrope {

enum class ModuleKind { kDirection, kCharacter, kSculpture };

// The kind of window a file opens in, by its extension: .cho direction,
// .fig character, .seg sculpture; nothing for other files.
std::optional<ModuleKind> ModuleKindFor(const std::string& path);

// What the frame gives its windows each time they are drawn.
struct WindowContext {
  ViewOptions options;                // grid, spacing, Bird's Eye perspective
  std::function<void(int)> showHelp;  // the status line's command id
  // A render starts: the frame opens a render output window for it.
  std::function<std::shared_ptr<RenderOutputWindow>()> openRender;
  // The render ended (the window holds its result).
  std::function<void(const RenderOutputWindow&)> renderFinished;
};

class DocumentWindow {
 public:
  // Opens the document (an action poses a figure). Fails with the
  // document's message.
  static Result<std::unique_ptr<DocumentWindow>> Open(const std::string& path,
                                                      const std::string& action = {});
  // An empty untitled choreography.
  static std::unique_ptr<DocumentWindow> NewChoreography(int frames);

  ModuleKind kind() const { return kind_; }
  const std::string& path() const { return path_; }
  // "DIRECTION: demo.cho", "CHARACTER: walker.fig", "SCULPTURE: box.seg".
  std::string Title() const;
  // The interface's name of the window: the title, and an id that stays
  // when the title changes.
  std::string WindowName() const;
  bool Playing() const { return playing_; }
  // The choreography has changes that are not saved.
  bool Changed() const { return changed_; }
  // Writes the choreography back to its file; false with why.
  bool Save(std::string* why);
  bool Rendering() const { return task_.Running(); }
  // Render: the scene's range with the render settings; quick: this frame
  // with the quick-render settings, kept in memory. Direction windows only.
  void Render(bool quick) { StartRender(quick); }
  void StopRendering() { task_.Stop(); }

  // Placement asked for by Tile and Cascade, taken at the next draw.
  void Place(float x, float y, float w, float h);
  // False (and nothing changes) for the Camera and Light views of a model.
  bool SetView(ViewKind kind);
  void SetLayout(int views);  // 1, 2 or 4
  void SetFrame(float frame);
  float frame() const { return frame_; }
  // Problems met opening or posing (files that could not be read).
  const std::vector<std::string>& problems() const { return problems_; }

  // Draws the window; true when it has the focus.
  bool Draw(const WindowContext& context);
  // Where the window was last drawn: x, y, width, height.
  std::array<float, 4> Rect() const { return rect_; }
  bool WantsClose() const { return closeAsked_; }
  void CancelClose() { closeAsked_ = false; }

 private:
  struct Pane {
    ViewState state;
    Picture picture;
    PictureTexture texture;
    bool dirty = true;
    int width = 0, height = 0;
  };

  DocumentWindow() = default;
  void Pose();
  void DrawToolRow(const WindowContext& context);
  void DrawFrameRow(const WindowContext& context);
  void DrawPanes(const WindowContext& context);
  void DrawPane(Pane& pane, int index, float w, float h, const WindowContext& context);
  void RedrawPane(Pane& pane, const WindowContext& context);
  // The view options of a pane: the camera's or the light's eye for those
  // views, control points in the sculpture window.
  ViewOptions PaneOptions(const Pane& pane, const WindowContext& context) const;
  void DrawRenderDialog();
  void StartRender(bool quick);
  void HandleKeys(const WindowContext& context);
  bool ToolButton(const char* label, int id, const WindowContext& context, bool enabled = true);
  void MarkAllDirty();

  ModuleKind kind_ = ModuleKind::kSculpture;
  std::string path_;
  std::string action_;
  int serial_ = 0;
  std::optional<ExportSource> source_;
  std::optional<ExportScene> posed_;
  ViewDecorations decorations_;
  std::vector<std::string> problems_;
  float frame_ = 1.0f;
  float posedFrame_ = -1.0f;
  int first_ = 1, last_ = 1;
  bool playing_ = false;
  std::chrono::steady_clock::time_point playStart_;
  float playFrom_ = 1.0f;
  int frameRate_ = 30;
  std::vector<Pane> panes_;
  int active_ = 0;
  bool shaded_ = false;
  enum class DragMode { kZoom, kPan, kOrbit };
  DragMode dragMode_ = DragMode::kOrbit;  // what a drag with the left button does
  bool changed_ = false;
  bool closeAsked_ = false;
  std::optional<std::array<float, 4>> placement_;
  std::array<float, 4> rect_{};
  ViewOptions lastOptions_;
  RenderTask task_;
  bool outputWanted_ = false;  // a render started without its window yet
  std::weak_ptr<RenderOutputWindow> output_;
  bool renderDialog_ = false;
  std::string lastRenderNote_;
  // The render dialog's fields (the choreography's scene settings).
  float renderFrom_ = 1.0f, renderTo_ = 30.0f, renderStep_ = 1.0f;
  char outputName_[256] = {};
  int renderMode_ = 1;  // wireframe, z-buffer, raytrace
};

}  // namespace zentrope
