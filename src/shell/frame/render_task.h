// A render started from a window: the render driver runs the job on a
// worker thread while the frame window keeps drawing. The window reads the
// progress (frame i of n, the render window's title), asks it to stop
// (Escape: the frame in hand finishes) and takes the outcome and the last
// picture when it is done.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "io/render_driver.h"

namespace zentrope {

class RenderTask {
 public:
  RenderTask() = default;
  ~RenderTask();
  RenderTask(const RenderTask&) = delete;
  RenderTask& operator=(const RenderTask&) = delete;

  // Starts the job: the whole range, or with quick one frame (the job's
  // first) with the picture kept in memory. False while one is running.
  bool Start(RenderJob job, bool quick);
  bool Running() const { return running_.load(); }
  // Escape: the range ends after the frame in hand.
  void Stop() { stop_.store(true); }

  struct Progress {
    int index = 0;  // of the frame being rendered
    int count = 0;
    int finished = 0;
    std::string title;  // "RENDER: ..." for the render window
    std::vector<std::string> warnings;
  };
  Progress Snapshot() const;

  struct Finished {
    RenderOutcome outcome;
    bool quick = false;
    std::optional<Picture> picture;  // the quick render's picture
    std::string lastFile;            // the last file put in place
    float lastFrame = 0.0f;
    std::string title;
  };
  // The result, once, after the worker finished; nothing while running.
  std::optional<Finished> Take();
  // The picture of the frame finished last, once: false when no frame
  // finished since the last call.
  bool TakeLatest(Picture& out);

 private:
  class Reporter;
  void Join();

  std::thread worker_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  Progress progress_;
  std::optional<Finished> finished_;
  std::optional<Picture> latest_;
};

}  // namespace zentrope
