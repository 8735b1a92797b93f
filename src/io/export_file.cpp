#include "io/export_file.h"

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
  std::string detail;
  const bool ok = std::ferror(stream_) == 0 && save_->Commit(&detail) == SaveStatus::kSaved;
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
