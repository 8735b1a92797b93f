// Saving without losing data: every writer writes a temporary file in the
// target's folder, flushes and closes it, and renames it over the target, so
// a failed save leaves the previous file exactly as it was. Missing folders of
// the path are created first.
//
// A document and its companions are one save (`SaveTransaction`): every
// temporary is written first and the renames happen only when all were
// written; a failure removes every temporary and leaves every old file as it
// was. Temporaries still pending when the program is ended by a signal or
// exits are removed (`RemovePendingTemporaries`).
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace zentrope {

enum class SaveStatus {
  kSaved,
  kDirectoryError,  // a folder of the path could not be created
  kWriteError,      // the file could not be opened, written or renamed
};

// One save of several files. Files are written where the names' final
// symbolic links lead, so a link stays a link. A new file gets the usual
// permissions (0666 less the umask); a replaced file keeps its own.
class SaveTransaction {
 public:
  // With a root folder, only files in that folder or below it may be written
  // or removed; anything else is refused and fails the save.
  explicit SaveTransaction(std::filesystem::path root = {});
  ~SaveTransaction();
  SaveTransaction(const SaveTransaction&) = delete;
  SaveTransaction& operator=(const SaveTransaction&) = delete;

  // Writes target's temporary through write ("wb" stream); write returns
  // false to abandon. A failure fails the whole transaction.
  SaveStatus Stage(const std::filesystem::path& target,
                   const std::function<bool(std::FILE*)>& write, std::string* detail = nullptr);
  // Opens target's temporary ("w+b") for a writer that writes, seeks and
  // reads back over time; the stream is closed by Commit or Abandon. Null
  // on failure.
  std::FILE* Open(const std::filesystem::path& target, std::string* detail = nullptr);
  // Removes target (a companion the document no longer has) once every
  // file is in place. A missing file is no failure; a folder is.
  SaveStatus Remove(const std::filesystem::path& target, std::string* detail = nullptr);
  // Puts every temporary in place, then removes what Remove named. Fails
  // when anything staged failed, putting back any file already replaced.
  SaveStatus Commit(std::string* detail = nullptr);
  // Removes every temporary; the old files stay as they were.
  void Abandon();

  // Records a failure the caller found (the file cannot be named, the data
  // cannot be written); the save will not be committed.
  SaveStatus Fail(SaveStatus status, const std::filesystem::path& file, const std::string& why,
                  std::string* detail = nullptr);
  bool Failed() const { return failed_; }
  // The file of the first failure.
  const std::filesystem::path& FailedFile() const { return failedFile_; }
  // The OS's words for the first failure ("No space left on device").
  const std::string& Reason() const { return reason_; }

 private:
  struct Entry {
    std::filesystem::path named;   // the name the caller gave
    std::filesystem::path target;  // where the file ends up (links resolved)
    std::string temporary;
    std::FILE* stream = nullptr;
    int slot = -1;  // in the list of pending temporaries
  };
  // The real file to write for target, its folders created; empty on
  // failure.
  std::filesystem::path Prepare(const std::filesystem::path& target, SaveStatus& status,
                                std::string* detail);
  std::FILE* OpenEntry(const std::filesystem::path& target, std::string* detail,
                       SaveStatus& status);
  bool CloseStream(Entry& entry, std::string& why);
  void Discard(Entry& entry);

  std::filesystem::path root_;
  std::vector<Entry> entries_;
  std::vector<std::filesystem::path> removals_;
  bool failed_ = false;
  std::string reason_;
  std::filesystem::path failedFile_;
};

// Calls write with a stream opened for writing ("wb"); write returns false to
// abandon the save. On success the target holds exactly what was written.
// The detail is "FILE: reason".
SaveStatus SaveAtomically(const std::filesystem::path& target,
                          const std::function<bool(std::FILE*)>& write,
                          std::string* detail = nullptr);

// Creates the missing folders of a file's path.
bool CreateFolders(const std::filesystem::path& file);

// True when file lies in folder or below it (both taken as absolute and
// normalised, without following links).
bool IsInsideFolder(const std::filesystem::path& file, const std::filesystem::path& folder);

// Where a name's chain of symbolic links ends (the name itself when it is no
// link); a link's target may not exist yet.
std::filesystem::path FollowLinks(const std::filesystem::path& file);

// The reason in a save's detail ("FILE: reason"): without the file's name
// when that is the target itself (the caller names it already), whole when
// it names another file (a companion).
std::string SaveReasonFor(const std::string& detail, const std::filesystem::path& target);

// One line for a failed save: the messages in order, then the reason:
// "Trouble Saving Segment: Read-only file system". Line breaks inside a
// message become blanks; a final period gives way to the reason's colon.
std::string SaveFailureLine(const std::vector<std::string>& messages, const std::string& reason);

// Removes every temporary of a save still in progress. Safe in a signal
// handler.
void RemovePendingTemporaries() noexcept;

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
