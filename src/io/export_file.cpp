#include "io/export_file.h"

#include <cerrno>
#include <cstring>

#include "shell/atomic_file.h"

namespace zentrope {

ExportFile::ExportFile() = default;
ExportFile::~ExportFile() {
  Abandon();
}

bool ExportFile::Open(const std::string& path) {
  Abandon();
  path_ = path;
  reason_.clear();
  save_ = std::make_unique<SaveTransaction>();
  std::string detail;
  stream_ = save_->Open(path, &detail);
  if (!stream_) {
    reason_ = save_->Reason().empty() ? detail : save_->Reason();
    save_.reset();
    return false;
  }
  return true;
}

bool ExportFile::Commit() {
  if (!save_) {
    return false;
  }
  // A buffered write that failed (a full disk, the file-size limit) is
  // tried again by the flush, which leaves its error in errno.
  errno = 0;
  if (std::fflush(stream_) != 0 || std::ferror(stream_) != 0) {
    reason_ = errno != 0 ? std::strerror(errno) : "a write failed";
    save_->Abandon();
    save_.reset();
    stream_ = nullptr;
    return false;
  }
  std::string detail;
  const bool ok = save_->Commit(&detail) == SaveStatus::kSaved;
  if (!ok) {
    reason_ = save_->Reason().empty() ? detail : save_->Reason();
    save_->Abandon();
  }
  save_.reset();
  stream_ = nullptr;
  return ok;
}

void ExportFile::Abandon() {
  if (save_) {
    save_->Abandon();
  }
  save_.reset();
  stream_ = nullptr;
}

}  // namespace zentrope
