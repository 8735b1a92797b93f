// The view subcommand: Zentrope Studio's frame window, optionally on a
// document, and its headless screenshot mode for tests and scripts.

#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "render/view_drawing.h"
#include "shell/frame/document_window.h"
#include "shell/frame/frame_window.h"

namespace zentrope::cli {

void RegisterViewCommands(CLI::App& app, FramedRunner& framed) {
  struct ViewArgs {
    std::vector<std::string> files;
    std::string action;
    std::string view;
    float frame = 1.0f;
    std::string screenshot;
    int quitAfter = 0;
    bool trace = false;
    std::string render;
  };
  auto args = std::make_shared<ViewArgs>();
  CLI::App* view =
      app.add_subcommand("view", "Open the frame window (on a choreography, figure or segment)");
  view->add_option("files", args->files, "The .cho, .fig and .seg files to open");
  view->add_option("--action", args->action, "The action that poses the figure");
  view->add_option("--view", args->view,
                   "The first view: front, back, left, right, top, bottom, birdseye, camera, "
                   "light")
      ->check(CLI::IsMember(
          {"front", "back", "left", "right", "top", "bottom", "birdseye", "camera", "light"}));
  CLI::Option* frameOption = view->add_option("--frame", args->frame, "The frame to show");
  view->add_option("--screenshot", args->screenshot,
                   "Save a PNG of the whole window after the last frame drawn");
  view->add_option("--quit-after", args->quitAfter,
                   "Draw this many frames of the interface, then close (5 with --screenshot)")
      ->check(CLI::Range(1, 100000));
  view->add_option("--render", args->render,
                   "Once open, render the choreography: quick (this frame, shown in a render "
                   "window) or range (its frames to its output name)")
      ->check(CLI::IsMember({"quick", "range"}));
  view->add_flag("--trace-startup", args->trace, "Print each start-up step on standard error");
  view->callback([&framed, args, frameOption] {
    framed = [args, frameOption](const StartUpOptions& startup) {
      if (args->files.empty() && (!args->view.empty() || frameOption->count() > 0 ||
                                  !args->action.empty() || !args->render.empty())) {
        std::cerr << "zentrope view: --view, --frame, --action and --render act on a document: "
                     "name one\n";
        return 2;
      }
      if (!args->action.empty() &&
          std::none_of(args->files.begin(), args->files.end(), [](const std::string& f) {
            return ModuleKindFor(f) == ModuleKind::kCharacter;
          })) {
        std::cerr << "zentrope view: --action poses a figure: name its .fig file too\n";
        return 2;
      }
      FrameOptions options;
      options.startup = startup;
      options.files = args->files;
      options.action = args->action;
      if (!args->view.empty()) {
        options.view = ViewKindNamed(args->view);
      }
      if (frameOption->count() > 0) {
        options.frame = args->frame;
      }
      options.screenshot = args->screenshot;
      options.quitAfter = args->quitAfter;
      options.traceStartUp = args->trace;
      options.render = args->render == "quick"   ? FrameOptions::StartRender::kQuick
                       : args->render == "range" ? FrameOptions::StartRender::kRange
                                                 : FrameOptions::StartRender::kNone;
      options.helpFile = std::string(ZENTROPE_SOURCE_DIR) + "/README.md";
      return RunFrameWindow(options);
    };
  });
}

}  // namespace zentrope::cli
