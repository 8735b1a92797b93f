// Saves under a file-size limit or on a full disk, for the tests of writers
// that must leave the previous file as it was.
#pragma once

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <string>

namespace zentrope::testing {

// Runs body in a child process whose files cannot grow past limit bytes.
// SIGXFSZ is ignored there, so a write past the limit fails (EFBIG) as it
// does in the program. Returns body's result, or -1 when the child ended
// otherwise (a signal, a crash).
inline int RunWithFileSizeLimit(rlim_t limit, const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit l{limit, limit};
    if (setrlimit(RLIMIT_FSIZE, &l) != 0) {
      _exit(99);
    }
    const int result = body();
    std::fflush(nullptr);
    _exit(result);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
    return -1;
  }
  return WEXITSTATUS(status);
}

// A tiny file system at folder (a full disk on demand); unmounted when the
// scope ends. Mounted() is false where mounting is not permitted.
class SmallDisk {
 public:
  SmallDisk(const std::filesystem::path& folder, const std::string& size) : folder_(folder) {
    std::filesystem::create_directories(folder);
    const std::string options = "size=" + size;
    mounted_ = mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) {
      umount2(folder_.c_str(), MNT_DETACH);
    }
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool Mounted() const { return mounted_; }

 private:
  std::filesystem::path folder_;
  bool mounted_ = false;
};

// The names in folder that look like a save's temporaries.
inline int TemporariesIn(const std::filesystem::path& folder) {
  int n = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
    n += e.path().filename().string().find(".tmp") != std::string::npos;
  }
  return n;
}

}  // namespace zentrope::testing
