// The frame window: Zentrope Studio as an interactive program. Start-up in
// its order (window kinds, project list, memory limit, noise table,
// temporary folder and settings, menu, font, the frame with its status line
// and tool strip, the stored placement and panels, then the loop), the
// frame's menus and tool strip, the module windows inside it, and the
// orderly close that asks before abandoning a changed choreography and
// writes the window state back.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "render/view_drawing.h"
#include "shell/startup.h"

namespace zentrope {

// The status line along the bottom and the tool strip along the top of the
// frame's client area, in pixels.
inline constexpr int kStatusLineHeight = 20;
inline constexpr int kToolStripHeight = 30;

struct FrameOptions {
  StartUpOptions startup;
  std::vector<std::string> files;  // opened once the frame is up, tiled
  std::string action;              // poses the figure files
  std::optional<ViewKind> view;
  std::optional<float> frame;
  std::string screenshot;  // PNG of the whole window, taken at the last frame drawn
  int quitAfter = 0;       // draw this many frames, then close; 0 runs until closed
  // Once the document is open: a Quick Render of its frame, or the Render
  // of its range; the frame shows the result before a screenshot is taken.
  enum class StartRender { kNone, kQuick, kRange };
  StartRender render = StartRender::kNone;
  bool traceStartUp = false;  // each start-up step on standard error
  std::string helpFile;       // what Contents and Using Help open
};

// Why no window can be opened here (no display to open it on), or nothing.
std::optional<std::string> NoDisplayReason();

// Runs the program; the exit status (0 closed normally, 1 it could not
// start or the screenshot could not be written).
int RunFrameWindow(const FrameOptions& options);

}  // namespace zentrope
