// Temporary files, flush, rename; several files as one save.
#include "shell/atomic_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <system_error>

namespace zentrope {

namespace {

// Temporaries in progress, in fixed storage so that a signal handler can
// remove them without allocating. A slot is written while its state is
// kFilling and only then published as kReady.
enum SlotState : int { kFree = 0, kFilling = 1, kReady = 2 };
struct PendingSlot {
  std::atomic<int> state{kFree};
  char path[PATH_MAX];
};
constexpr int kPendingSlots = 128;
std::array<PendingSlot, kPendingSlots> pending;

void RemoveAtExit() {
  RemovePendingTemporaries();
}

int RegisterPending(const std::string& path) {
  static std::once_flag once;
  std::call_once(once, [] { std::atexit(RemoveAtExit); });
  if (path.size() >= PATH_MAX) {
    return -1;
  }
  for (int i = 0; i < kPendingSlots; ++i) {
    int expected = kFree;
    if (pending[static_cast<std::size_t>(i)].state.compare_exchange_strong(expected, kFilling)) {
      PendingSlot& slot = pending[static_cast<std::size_t>(i)];
      std::memcpy(slot.path, path.c_str(), path.size() + 1);
      slot.state.store(kReady);
      return i;
    }
  }
  return -1;  // still removed on failure, only not by a signal
}

void ReleasePending(int slot) {
  if (slot >= 0) {
    pending[static_cast<std::size_t>(slot)].state.store(kFree);
  }
}

// A name beside target that no other file has: "NAME.tmpXXXXXX", created
// with O_EXCL and mode 0666 so that the umask (and a folder's default
// permissions) apply as for any new file.
int CreateTemporary(const std::filesystem::path& target, std::string& name) {
  static constexpr char kLetters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static std::mutex mutex;
  static std::mt19937 random{std::random_device{}()};
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = target.string() + ".tmp";
    {
      std::lock_guard<std::mutex> lock(mutex);
      for (int i = 0; i < 6; ++i) {
        name += kLetters[random() % (sizeof kLetters - 1)];
      }
    }
    const int fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) {
      return fd;
    }
  }
  errno = EEXIST;
  return -1;
}

std::string OsReason(int error, const char* otherwise) {
  return error != 0 ? std::strerror(error) : otherwise;
}

void SyncFolder(const std::filesystem::path& folder) {
  const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
}

}  // namespace

void RemovePendingTemporaries() noexcept {
  for (PendingSlot& slot : pending) {
    if (slot.state.load() == kReady) {
      unlink(slot.path);
    }
  }
}

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

bool IsInsideFolder(const std::filesystem::path& file, const std::filesystem::path& folder) {
  std::error_code ec;
  const std::filesystem::path f = std::filesystem::absolute(file, ec).lexically_normal();
  std::filesystem::path d = std::filesystem::absolute(folder, ec).lexically_normal();
  if (!d.has_filename()) {
    d = d.parent_path();  // "a/b/" → "a/b"
  }
  auto fi = f.begin();
  for (auto di = d.begin(); di != d.end(); ++di, ++fi) {
    if (fi == f.end() || *fi != *di) {
      return false;
    }
  }
  return fi != f.end();
}

std::filesystem::path FollowLinks(const std::filesystem::path& file) {
  std::filesystem::path p = file;
  for (int hops = 0; hops < 40; ++hops) {  // a loop of links ends somewhere
    std::error_code ec;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(p, ec))) {
      break;
    }
    const std::filesystem::path to = std::filesystem::read_symlink(p, ec);
    if (ec) {
      break;
    }
    p = to.is_absolute() ? to : p.parent_path() / to;
  }
  return p;
}

SaveTransaction::SaveTransaction(std::filesystem::path root) : root_(std::move(root)) {}

SaveTransaction::~SaveTransaction() {
  Abandon();
}

SaveStatus SaveTransaction::Fail(SaveStatus status, const std::filesystem::path& file,
                                 const std::string& why, std::string* detail) {
  if (!failed_) {
    reason_ = why;
    failedFile_ = file;
  }
  failed_ = true;
  if (detail) {
    *detail = file.string() + ": " + why;
  }
  return status;
}

std::filesystem::path SaveTransaction::Prepare(const std::filesystem::path& target,
                                               SaveStatus& status, std::string* detail) {
  // An empty name, or one ending in a separator, names no file: without
  // this the save would write nothing and still report success.
  if (target.filename().empty()) {
    status = Fail(SaveStatus::kWriteError, target, "no file name given", detail);
    return {};
  }
  if (!root_.empty() && !IsInsideFolder(target, root_)) {
    status = Fail(SaveStatus::kWriteError, target,
                  "outside the folder of the file being saved (" + root_.string() + ")", detail);
    return {};
  }
  const std::filesystem::path file = FollowLinks(target);
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec)) {
    status = Fail(SaveStatus::kWriteError, target, std::strerror(EISDIR), detail);
    return {};
  }
  for (const Entry& e : entries_) {
    if (std::filesystem::absolute(e.target, ec).lexically_normal() ==
        std::filesystem::absolute(file, ec).lexically_normal()) {
      status = Fail(SaveStatus::kWriteError, target, "written twice in one save", detail);
      return {};
    }
  }
  const std::filesystem::path folder = file.parent_path();
  if (!folder.empty()) {
    std::filesystem::create_directories(folder, ec);
    std::error_code isFolder;
    if (!std::filesystem::is_directory(folder, isFolder)) {
      status =
          Fail(SaveStatus::kDirectoryError, target,
               "cannot create folder: " + (ec ? ec.message() : std::string(std::strerror(ENOTDIR))),
               detail);
      return {};
    }
  }
  status = SaveStatus::kSaved;
  return file;
}

std::FILE* SaveTransaction::Open(const std::filesystem::path& target, std::string* detail) {
  SaveStatus status = SaveStatus::kSaved;
  return OpenEntry(target, detail, status);
}

std::FILE* SaveTransaction::OpenEntry(const std::filesystem::path& target, std::string* detail,
                                      SaveStatus& status) {
  const std::filesystem::path file = Prepare(target, status, detail);
  if (file.empty()) {
    return nullptr;
  }
  Entry entry;
  entry.named = target;
  entry.target = file;
  const int fd = CreateTemporary(file, entry.temporary);
  if (fd < 0) {
    status = Fail(SaveStatus::kWriteError, target,
                  OsReason(errno, "cannot create a temporary file"), detail);
    return nullptr;
  }
  entry.slot = RegisterPending(entry.temporary);
  // A replaced file keeps its permissions; a new one has 0666 less the umask
  // from its creation.
  struct stat existing {};
  if (stat(file.c_str(), &existing) == 0) {
    fchmod(fd, existing.st_mode & 07777);
  }
  entry.stream = fdopen(fd, "w+b");
  if (!entry.stream) {
    const int error = errno;
    close(fd);
    Discard(entry);
    status = Fail(SaveStatus::kWriteError, target, OsReason(error, "cannot open"), detail);
    return nullptr;
  }
  entries_.push_back(std::move(entry));
  return entries_.back().stream;
}

SaveStatus SaveTransaction::Stage(const std::filesystem::path& target,
                                  const std::function<bool(std::FILE*)>& write,
                                  std::string* detail) {
  SaveStatus status = SaveStatus::kSaved;
  std::FILE* f = OpenEntry(target, detail, status);
  if (!f) {
    return status;
  }
  Entry& entry = entries_.back();
  errno = 0;
  const bool written = write(f);
  const int error = errno;
  std::string why;
  if (!written) {
    // The writer's own failure; a stream error carries the OS's reason.
    why = OsReason(std::ferror(f) ? error : 0, "write failed");
  }
  if (!CloseStream(entry, why) || !written) {
    Discard(entry);
    entries_.pop_back();
    return Fail(SaveStatus::kWriteError, target, why, detail);
  }
  return SaveStatus::kSaved;
}

bool SaveTransaction::CloseStream(Entry& entry, std::string& why) {
  if (!entry.stream) {
    return true;
  }
  errno = 0;
  bool ok = std::fflush(entry.stream) == 0 && !std::ferror(entry.stream);
  ok = ok && fsync(fileno(entry.stream)) == 0;
  int error = errno;
  if (std::fclose(entry.stream) != 0 && ok) {
    ok = false;
    error = errno;
  }
  entry.stream = nullptr;
  if (!ok && why.empty()) {
    why = OsReason(error, "write failed");
  }
  return ok;
}

void SaveTransaction::Discard(Entry& entry) {
  if (entry.stream) {
    std::fclose(entry.stream);
    entry.stream = nullptr;
  }
  if (!entry.temporary.empty()) {
    unlink(entry.temporary.c_str());
  }
  ReleasePending(entry.slot);
  entry.slot = -1;
}

SaveStatus SaveTransaction::Remove(const std::filesystem::path& target, std::string* detail) {
  if (!root_.empty() && !IsInsideFolder(target, root_)) {
    return Fail(SaveStatus::kWriteError, target,
                "outside the folder of the file being saved (" + root_.string() + ")", detail);
  }
  std::error_code ec;
  const std::filesystem::file_status s = std::filesystem::symlink_status(target, ec);
  if (!std::filesystem::exists(s)) {
    return SaveStatus::kSaved;
  }
  if (std::filesystem::is_directory(s)) {
    return Fail(SaveStatus::kWriteError, target, std::strerror(EISDIR), detail);
  }
  removals_.push_back(target);
  return SaveStatus::kSaved;
}

void SaveTransaction::Abandon() {
  for (Entry& e : entries_) {
    Discard(e);
  }
  entries_.clear();
  removals_.clear();
}

SaveStatus SaveTransaction::Commit(std::string* detail) {
  if (failed_) {
    Abandon();
    if (detail && detail->empty()) {
      *detail = reason_;
    }
    return SaveStatus::kWriteError;
  }
  for (Entry& e : entries_) {
    std::string why;
    if (!CloseStream(e, why)) {
      const std::filesystem::path target = e.named;
      Abandon();
      return Fail(SaveStatus::kWriteError, target, why, detail);
    }
  }
  // Each replaced file is kept under a second name until every rename has
  // succeeded, so that a rename failing half way can put the old ones back.
  struct Backup {
    std::string name;
    int slot = -1;
    bool existed = false;
  };
  std::vector<Backup> backups(entries_.size());
  auto dropBackups = [&] {
    for (Backup& b : backups) {
      if (!b.name.empty()) {
        unlink(b.name.c_str());
        ReleasePending(b.slot);
      }
    }
  };
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const std::string name = entries_[i].temporary + ".old";
    struct stat old {};
    backups[i].existed = lstat(entries_[i].target.c_str(), &old) == 0;
    if (backups[i].existed && link(entries_[i].target.c_str(), name.c_str()) == 0) {
      backups[i].name = name;
      backups[i].slot = RegisterPending(name);
    }
  }
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    Entry& e = entries_[i];
    if (std::rename(e.temporary.c_str(), e.target.c_str()) != 0) {
      const std::string why = OsReason(errno, "cannot rename");
      for (std::size_t j = 0; j < i; ++j) {
        Entry& done = entries_[j];
        if (!backups[j].name.empty()) {
          std::rename(backups[j].name.c_str(), done.target.c_str());
          ReleasePending(backups[j].slot);
          backups[j] = {};
        } else if (!backups[j].existed) {
          unlink(done.target.c_str());
        }  // else the file system keeps no second name: the new file stays
        done.temporary.clear();
      }
      dropBackups();
      const std::filesystem::path target = e.named;
      Abandon();
      return Fail(SaveStatus::kWriteError, target, why, detail);
    }
    e.temporary.clear();  // in place: nothing to remove any more
    ReleasePending(e.slot);
    e.slot = -1;
  }
  dropBackups();
  SaveStatus status = SaveStatus::kSaved;
  for (const std::filesystem::path& gone : removals_) {
    if (unlink(gone.c_str()) != 0 && errno != ENOENT) {
      status = Fail(SaveStatus::kWriteError, gone, std::strerror(errno), detail);
    }
  }
  for (const Entry& e : entries_) {
    SyncFolder(e.target.parent_path());
  }
  entries_.clear();
  removals_.clear();
  return status;
}

std::string SaveReasonFor(const std::string& detail, const std::filesystem::path& target) {
  auto sameFile = [](const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code ec;
    return std::filesystem::absolute(a, ec).lexically_normal() ==
               std::filesystem::absolute(b, ec).lexically_normal() ||
           std::filesystem::equivalent(a, b, ec);
  };
  for (std::size_t colon = detail.find(": "); colon != std::string::npos;
       colon = detail.find(": ", colon + 1)) {
    if (sameFile(detail.substr(0, colon), target) ||
        sameFile(detail.substr(0, colon), FollowLinks(target))) {
      return detail.substr(colon + 2);
    }
  }
  return detail;
}

std::string SaveFailureLine(const std::vector<std::string>& messages, const std::string& reason) {
  std::string line;
  std::vector<std::string> said;
  for (const std::string& m : messages) {
    // Each message once: every companion of a save that cannot make its
    // folder reports the same "Create Directory Error".
    if (std::find(said.begin(), said.end(), m) != said.end()) {
      continue;
    }
    said.push_back(m);
    std::string flat;
    for (char c : m) {
      if (c != '\n') {
        flat += c;
      } else if (!flat.empty() && flat.back() != ' ') {
        flat += ' ';
      }
    }
    line += (line.empty() ? "" : "; ") + flat;
  }
  if (!reason.empty()) {
    if (!line.empty() && line.back() == '.') {
      line.pop_back();
    }
    line += (line.empty() ? "" : ": ") + reason;
  }
  return line;
}

SaveStatus SaveAtomically(const std::filesystem::path& target,
                          const std::function<bool(std::FILE*)>& write, std::string* detail) {
  SaveTransaction save;
  const SaveStatus staged = save.Stage(target, write, detail);
  if (staged != SaveStatus::kSaved) {
    return staged;
  }
  return save.Commit(detail);
}

}  // namespace zentrope
