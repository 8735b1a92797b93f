// ExportFile: one exported geometry file being written. The text goes to a
// temporary file in the target's folder (missing folders created) and is
// renamed over the target when the file is closed, so a failed export leaves
// no partial file under the name. Lines end with a single line feed.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace zentrope {

class SaveTransaction;

class ExportFile {
 public:
  ExportFile();
  ~ExportFile();  // abandons a file still open
  ExportFile(const ExportFile&) = delete;
  ExportFile& operator=(const ExportFile&) = delete;

  // Opens the temporary for path; false with Reason() when the folder or
  // the file cannot be created.
  bool Open(const std::string& path);
  std::FILE* Stream() { return stream_; }
  bool IsOpen() const { return stream_ != nullptr; }
  // Puts the file in place; false when a write or the rename failed (the
  // old file, if any, stays).
  bool Commit();
  // Removes the temporary; the old file stays.
  void Abandon();
  const std::string& Path() const { return path_; }
  const std::string& Reason() const { return reason_; }

 private:
  std::unique_ptr<SaveTransaction> save_;
  std::FILE* stream_ = nullptr;
  std::string path_;
  std::string reason_;
};

}  // namespace zentrope
