// The render output window: the picture a Render or Quick Render produced, with a
// note of what happened (frames written, stopped, the failure's message).
#pragma once

#include <memory>
#include <string>

#include "shell/frame/picture_texture.h"
#include "shell/frame/render_task.h"

namespace zentrope {

class RenderOutputWindow {
 public:
  // The window of a finished render: the quick render's picture, or the
  // last frame the range wrote, read back from its file (a movie's last
  // frame for AVI).
  static std::unique_ptr<RenderOutputWindow> FromFinished(RenderTask::Finished done);

  const std::string& title() const { return title_; }
  // What happened, in one or more lines; the failure's message when failed.
  const std::string& note() const { return note_; }
  bool failed() const { return failed_; }
  bool open() const { return open_; }
  // Draws the window; it closes with its close box.
  void Draw();

 private:
  int serial_ = 0;
  std::string title_;
  std::string note_;
  bool failed_ = false;
  bool open_ = true;
  Picture picture_;
  PictureTexture texture_;
};

}  // namespace zentrope
