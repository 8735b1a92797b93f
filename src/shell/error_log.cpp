// Error log.
#include "shell/error_log.h"

#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

#include "shell/memory_pool.h"

namespace zentrope {

namespace {

struct LogState {
  std::mutex mutex;
  bool enabled = false;
  std::filesystem::path folder = std::filesystem::temp_directory_path();
};

LogState& State() {
  static LogState state;
  return state;
}

}  // namespace

void SetErrorLogEnabled(bool on) {
  std::lock_guard lock(State().mutex);
  State().enabled = on;
}

bool ErrorLogEnabled() {
  std::lock_guard lock(State().mutex);
  return State().enabled;
}

void SetTempDirectory(const std::filesystem::path& folder) {
  std::lock_guard lock(State().mutex);
  State().folder = folder;
}

std::filesystem::path TempDirectory() {
  std::lock_guard lock(State().mutex);
  return State().folder;
}

void log_line(std::string_view text) {
  std::lock_guard lock(State().mutex);
  if (!State().enabled) {
    return;
  }
  std::FILE* f = std::fopen((State().folder / "ERROR").c_str(), "a+");
  if (!f) {
    return;
  }
  // The standard 24-character form, "Sun Dec  6 12:00:00 2026".
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%a %b %e %H:%M:%S %Y", &local);
  std::string line(text);
  while (!line.empty() && line.back() == '\n') {
    line.pop_back();
  }
  std::fprintf(f, "%s     %s\n", line.c_str(), stamp);
  std::fclose(f);
}

void LogMemoryTotal() {
  LogMemoryTotal(MemoryPool::Main());
}

void LogMemoryTotal(const MemoryPool& pool) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "total: %lld",
                static_cast<long long>(pool.total_allocated()));
  log_line(buffer);
}

}  // namespace zentrope
