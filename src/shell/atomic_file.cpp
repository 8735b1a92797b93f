// Temporary file, flush, rename.
#include "shell/atomic_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace zentrope {

bool CreateFolders(const std::filesystem::path& file) {
  const std::filesystem::path folder = file.parent_path();
  if (folder.empty()) {
    return true;
  }
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return std::filesystem::is_directory(folder, ec);
}

std::filesystem::path UpdateLock::LockPath(const std::filesystem::path& target) {
  return target.string() + ".lock";
}

UpdateLock::UpdateLock(const std::filesystem::path& target) {
  const std::filesystem::path lockPath = LockPath(target);
  if (!CreateFolders(target)) {
    error_ = lockPath.parent_path().string() + ": cannot create folder";
    return;
  }
  const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) {
    error_ = lockPath.string() + ": " + std::strerror(errno);
    return;
  }
  int locked;
  do {
    locked = flock(fd, LOCK_EX);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    error_ = lockPath.string() + ": " + std::strerror(errno);
    close(fd);
    return;
  }
  fd_ = fd;
}

UpdateLock::~UpdateLock() {
  if (fd_ >= 0) {
    flock(fd_, LOCK_UN);
    close(fd_);
  }
}

SaveStatus SaveAtomically(const std::filesystem::path& target,
                          const std::function<bool(std::FILE*)>& write, std::string* detail) {
  auto fail = [&](SaveStatus status, const std::string& why) {
    if (detail) {
      *detail = target.string() + ": " + why;
    }
    return status;
  };
  if (!CreateFolders(target)) {
    return fail(SaveStatus::kDirectoryError, "cannot create folder");
  }
  std::string pattern = target.string() + ".tmpXXXXXX";
  const int fd = mkstemp(pattern.data());
  if (fd < 0) {
    return fail(SaveStatus::kWriteError, std::strerror(errno));
  }
  // Keep the permissions of the file being replaced; new files get the
  // usual ones.
  struct stat existing {};
  if (stat(target.c_str(), &existing) == 0) {
    fchmod(fd, existing.st_mode & 07777);
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
  }
  std::FILE* f = fdopen(fd, "wb");
  if (!f) {
    close(fd);
    unlink(pattern.c_str());
    return fail(SaveStatus::kWriteError, std::strerror(errno));
  }
  bool ok = false;
  try {
    ok = write(f);
  } catch (...) {
    // Running out of memory mid-write: the previous file stays, and no
    // temporary file is left behind.
    std::fclose(f);
    unlink(pattern.c_str());
    throw;
  }
  ok = ok && std::fflush(f) == 0 && !std::ferror(f) && fsync(fileno(f)) == 0;
  ok = (std::fclose(f) == 0) && ok;
  if (!ok || std::rename(pattern.c_str(), target.c_str()) != 0) {
    const std::string why = ok ? std::strerror(errno) : "write failed";
    unlink(pattern.c_str());
    return fail(SaveStatus::kWriteError, why);
  }
  return SaveStatus::kSaved;
}

}  // namespace zentrope
