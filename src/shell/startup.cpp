// Start-up sequence.
#include "shell/startup.h"

#include <unistd.h>

#include <limits>
#include <mutex>
#include <vector>

#include "shell/error_log.h"
#include "shell/interrupt.h"
#include "shell/memory_pool.h"
#include "shell/project_paths.h"
#include "shell/settings.h"
#include "shell/string_table.h"

namespace zentrope {

namespace {

struct Steps {
  std::mutex mutex;
  std::vector<std::pair<StartUpStage, std::function<bool()>>> steps;
};

Steps& Registered() {
  static Steps steps;
  return steps;
}

bool RunStage(StartUpStage stage) {
  std::vector<std::function<bool()>> toRun;
  {
    std::lock_guard lock(Registered().mutex);
    for (const auto& [s, step] : Registered().steps) {
      if (s == stage) {
        toRun.push_back(step);
      }
    }
  }
  for (const auto& step : toRun) {
    if (!step()) {
      return false;
    }
  }
  return true;
}

}  // namespace

void RegisterStartUpStep(StartUpStage stage, std::function<bool()> step) {
  std::lock_guard lock(Registered().mutex);
  Registered().steps.emplace_back(stage, std::move(step));
}

std::int64_t StartUpMemoryLimit() {
  const float kilobytes = Settings().read_setting_float("MEMORY", "MaxMemory", -1.0f);
  // A limit too large to count in bytes (1e16, inf) means no limit to speak
  // of; NaN, negative numbers and text fall to the machine's memory.
  constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max() / 2;
  if (kilobytes >= static_cast<float>(kLargest / 1024)) {
    return kLargest;
  }
  if (kilobytes >= 0.0f) {
    return static_cast<std::int64_t>(kilobytes) * 1024;
  }
  const long pages = sysconf(_SC_AVPHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages > 0 && pageSize > 0) {
    return static_cast<std::int64_t>(pages) * pageSize;
  }
  return std::int64_t{1} << 30;
}

bool StartUp(const StartUpOptions& options) {
  if (options.settingsFile) {
    UseSettingsFile(*options.settingsFile);
  }
  SetQuiet(options.quiet);
  InstallInterruptHandler();
  const auto step = [&](const char* name) {
    if (options.trace) {
      options.trace(name);
    }
  };
  step("project list");
  UseProjectList(
      ProjectList::Load(options.projectList ? *options.projectList : DefaultProjectListPath()));
  step("memory limit");
  MemoryPool::Main().set_limit(StartUpMemoryLimit());
  step("noise table");
  if (!RunStage(StartUpStage::kNoiseTable)) {
    return false;
  }
  step("temporary folder and settings");
  // Temporary-file folder: the project "Temp:", or NETWORK "TempPath" when
  // set; the system's temporary folder when neither resolves.
  const std::string tempName = Settings().read_setting_text("NETWORK", "TempPath", "Temp:");
  std::string error;
  std::optional<std::filesystem::path> temp = LocateFile(tempName, &error);
  std::error_code ec;
  const bool logging = Settings().read_setting_switch("GLOBAL", "ErrorLog", false);
  if (temp && std::filesystem::is_directory(*temp, ec)) {
    SetTempDirectory(*temp);
  } else {
    // A missing or odd TMPDIR matters only to what is written there.
    std::string note;
    SetTempDirectory(SystemTempDirectory(&note));
    if (logging && !note.empty()) {
      message_box(note);
    }
  }
  SetErrorLogEnabled(logging);
  return RunStage(StartUpStage::kSettings);
}

}  // namespace zentrope
