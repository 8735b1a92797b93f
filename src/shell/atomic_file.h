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

}  // namespace zentrope
