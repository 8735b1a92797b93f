// The render output window: opened when a Render or Quick Render starts,
// it shows each frame as it is finished (read back from its file) and,
// at the end, the result with a note of what happened (frames written,
// stopped, the failure's message).
#pragma once

#include <memory>
#include <string>

#include "shell/frame/picture_texture.h"
#include "shell/frame/render_task.h"

namespace zentrope {

class RenderOutputWindow {
 public:
  explicit RenderOutputWindow(std::string title);

  // The frame just finished, and the render window's title for it.
  void Show(Picture picture, const std::string& title);
  // The render ended: the quick render's picture, or the last frame the
  // range wrote when none was shown (a movie's last frame for AVI).
  void Finish(RenderTask::Finished done);

  const std::string& title() const { return title_; }
  // What happened, in one or more lines; the failure's message when failed.
  const std::string& note() const { return note_; }
  bool finished() const { return finished_; }
  bool failed() const { return failed_; }
  bool open() const { return open_; }
  // Draws the window; it closes with its close box.
  void Draw();

 private:
  int serial_ = 0;
  std::string title_;
  std::string note_;
  bool finished_ = false;
  bool failed_ = false;
  bool open_ = true;
  bool shown_ = false;  // a frame has been shown
  Picture picture_;
  bool upload_ = false;
  int sizedWidth_ = -1, sizedHeight_ = -1;
  PictureTexture texture_;
};

}  // namespace zentrope
