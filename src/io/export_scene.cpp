#include "io/export_scene.h"

#include "chor/choreography.h"
#include "shell/string_table.h"

namespace zentrope {

ExportSource::ExportSource() = default;
ExportSource::ExportSource(ExportSource&&) noexcept = default;
ExportSource& ExportSource::operator=(ExportSource&&) noexcept = default;
ExportSource::~ExportSource() = default;

Result<ExportSource> ExportSource::Open(const std::string& path, const std::string& action) {
  ExportSource source;
  source.path_ = path;
  source.action_ = action;
  return source;
}

Result<ExportScene> ExportSource::PoseAt(float) {
  return Failure{"Trouble Opening Segment", path_ + ": export scenes are not written yet"};
}
int ExportSource::FirstFrame() const {
  return 1;
}
int ExportSource::LastFrame() const {
  return lastFrame_;
}

}  // namespace zentrope
