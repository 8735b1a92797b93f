// Saving without losing data: every writer writes a temporary file in the
// target's folder, flushes and closes it, and renames it over the target, so
// a failed save leaves the previous file exactly as it was. Missing folders of
// the path are created first.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

namespace zentrope {

enum class SaveStatus {
  kSaved,
  kDirectoryError,  // a folder of the path could not be created
  kWriteError,      // the file could not be opened, written or renamed
};

// Calls write with a stream opened for writing ("wb"); write returns false to
// abandon the save. On success the target holds exactly what was written.
SaveStatus SaveAtomically(const std::filesystem::path& target,
                          const std::function<bool(std::FILE*)>& write,
                          std::string* detail = nullptr);

// Creates the missing folders of a file's path.
bool CreateFolders(const std::filesystem::path& file);

// An advisory lock (flock) on the file TARGET.lock beside a file, held for
// the life of the object, so that read-modify-write updates of the file by
// several processes run one after another and none is lost. The lock file
// stays; the target itself cannot carry the lock, since a save renames a new
// file over it.
class UpdateLock {
 public:
  explicit UpdateLock(const std::filesystem::path& target);
  ~UpdateLock();
  UpdateLock(const UpdateLock&) = delete;
  UpdateLock& operator=(const UpdateLock&) = delete;

  bool Locked() const { return fd_ >= 0; }
  // Why the lock could not be taken: the lock file and the system's reason.
  const std::string& Error() const { return error_; }

  static std::filesystem::path LockPath(const std::filesystem::path& target);

 private:
  int fd_ = -1;
  std::string error_;
};

}  // namespace zentrope
