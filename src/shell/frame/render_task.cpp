// The render driver on a worker thread.
#include "shell/frame/render_task.h"

namespace zentrope {

class RenderTask::Reporter final : public RenderProgress {
 public:
  explicit Reporter(RenderTask& task) : task_(task) {}
  void FrameStarted(int index, int count, float, const std::string& title) override {
    std::lock_guard lock(task_.mutex_);
    task_.progress_.index = index;
    task_.progress_.count = count;
    task_.progress_.title = title;
  }
  void FrameFinished(const FrameDone& done, int count) override {
    std::lock_guard lock(task_.mutex_);
    task_.progress_.finished = done.index + 1;
    task_.progress_.count = count;
    if (done.picture != nullptr) {
      task_.latest_ = *done.picture;
    }
    lastFile = done.file;
    lastFrame = done.frame;
  }
  void Warning(const std::string& text) override {
    std::lock_guard lock(task_.mutex_);
    task_.progress_.warnings.push_back(text);
  }
  bool StopRequested() override { return task_.stop_.load(); }

  std::string lastFile;
  float lastFrame = 0.0f;

 private:
  RenderTask& task_;
};

RenderTask::~RenderTask() {
  stop_.store(true);
  Join();
}

void RenderTask::Join() {
  if (worker_.joinable()) {
    worker_.join();
  }
}

bool RenderTask::Start(RenderJob job, bool quick) {
  if (running_.load()) {
    return false;
  }
  Join();
  {
    std::lock_guard lock(mutex_);
    progress_ = Progress{};
    progress_.count = quick ? 1 : static_cast<int>(job.frames.size());
    finished_.reset();
    latest_.reset();
  }
  stop_.store(false);
  running_.store(true);
  worker_ = std::thread([this, job = std::move(job), quick] {
    Reporter reporter(*this);
    Finished done;
    done.quick = quick;
    if (quick) {
      const float frame = job.frames.empty() ? 1.0f : job.frames.front();
      QuickRender q = quick_render(job, frame, reporter);
      done.outcome = std::move(q.outcome);
      if (done.outcome.messageId == 0 && q.picture.width > 0) {
        done.picture = std::move(q.picture);
      }
      done.lastFrame = frame;
    } else {
      done.outcome = render_frames(job, reporter);
      done.lastFile = reporter.lastFile;
      done.lastFrame = reporter.lastFrame;
    }
    {
      std::lock_guard lock(mutex_);
      done.title = progress_.title;
      finished_ = std::move(done);
    }
    running_.store(false);
  });
  return true;
}

bool RenderTask::TakeLatest(Picture& out) {
  std::lock_guard lock(mutex_);
  if (!latest_) {
    return false;
  }
  out = std::move(*latest_);
  latest_.reset();
  return true;
}

RenderTask::Progress RenderTask::Snapshot() const {
  std::lock_guard lock(mutex_);
  return progress_;
}

std::optional<RenderTask::Finished> RenderTask::Take() {
  if (running_.load()) {
    return std::nullopt;
  }
  Join();
  std::lock_guard lock(mutex_);
  std::optional<Finished> out = std::move(finished_);
  finished_.reset();
  return out;
}

}  // namespace zentrope
