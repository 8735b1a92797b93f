// Error log.
#include "shell/error_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

#include "shell/memory_pool.h"

namespace zentrope {

namespace {

struct LogState {
  std::mutex mutex;
  bool enabled = false;
  std::filesystem::path folder = SystemTempDirectory();
};

bool IsFolder(const std::filesystem::path& p) {
  std::error_code ec;
  return std::filesystem::is_directory(p, ec);
}

LogState& State() {
  static LogState state;
  return state;
}

}  // namespace

std::filesystem::path SystemTempDirectory(std::string* note) {
  const char* tmpdir = std::getenv("TMPDIR");
  if (tmpdir && *tmpdir && IsFolder(tmpdir)) {
    return tmpdir;
  }
  const std::filesystem::path chosen =
      IsFolder("/tmp") ? std::filesystem::path("/tmp") : std::filesystem::path(".");
  if (note && tmpdir && *tmpdir) {
    *note = std::string("TMPDIR ") + tmpdir + " is not a folder; using " + chosen.string();
  }
  return chosen;
}

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
  // The folder may be shared: never follow a planted link, and never write
  // into somebody else's file.
  const int fd =
      open((State().folder / "ERROR").c_str(),
           O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
  if (fd < 0) {
    return;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid()) {
    close(fd);
    return;
  }
  std::FILE* f = fdopen(fd, "a");
  if (!f) {
    close(fd);
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
