// Start-up of a run, in order: load the project list, set the memory limit
// from MEMORY "MaxMemory" (kilobytes; the available physical memory when
// absent), build the noise table, resolve the temporary-file folder and load
// the settings each subsystem registered. Subsystems above the shell hook
// their own steps in (the noise table, the render and direction settings).
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace zentrope {

struct StartUpOptions {
  std::optional<std::filesystem::path> settingsFile;  // --settings
  std::optional<std::filesystem::path> projectList;   // instead of PROJECTS.BRX
  bool quiet = false;                                 // no status line
  // Told the name of each step as it starts ("project list", "memory limit",
  // "noise table", "temporary folder and settings").
  std::function<void(const char*)> trace;
};

// Registers a step: the noise table (step 4) or a settings loader (step 5).
// A step returns false to end the program (only the noise table may).
enum class StartUpStage { kNoiseTable, kSettings };
void RegisterStartUpStep(StartUpStage stage, std::function<bool()> step);

// The memory limit start-up applies: MaxMemory × 1024, or the machine's
// available physical memory when the setting is absent (-1).
std::int64_t StartUpMemoryLimit();

// Runs the start-up sequence; false when a step ends the program.
bool StartUp(const StartUpOptions& options);

}  // namespace zentrope
