// The render error table.
#include "render/render_errors.h"

#include <array>

#include "shell/error_log.h"
#include "shell/string_table.h"

namespace zentrope {

namespace {

constexpr std::array<RenderErrorText, 5> kTable = {{
    {render_error::kMemory, str::kIncreasePrefsMemory, "Increase Memory=# in ZENTROPE.INI"},
    {render_error::kCantSave, str::kCantSaveFile, "Can Not Save File!"},
    {render_error::kCantOpen, str::kCantOpenFile, "Can Not Open File!"},
    {render_error::kLineBuffer, str::kLowMemory, "Buffer Line Memory!"},
    {render_error::kBinnodeMemory, str::kLowMemory, "Binnode Memory!"},
}};

bool Silent(int code) {
  return code == render_error::kNone || code == render_error::kAborted;
}

}  // namespace

std::optional<RenderErrorText> FindRenderError(int code) {
  for (const RenderErrorText& entry : kTable) {
    if (entry.code == code) {
      return entry;
    }
  }
  return std::nullopt;
}

std::string RenderErrorMessage(int code) {
  if (Silent(code)) {
    return {};
  }
  const std::optional<RenderErrorText> entry = FindRenderError(code);
  return LoadString(entry ? entry->messageId : str::kTroubleRendering);
}

std::string RenderErrorLogText(int code) {
  if (Silent(code)) {
    return {};
  }
  const std::optional<RenderErrorText> entry = FindRenderError(code);
  return entry ? std::string(entry->logText) : std::to_string(code);
}

void ReportRenderError(int code) {
  if (Silent(code)) {
    return;
  }
  message_box(RenderErrorMessage(code));
  log_line(RenderErrorLogText(code));
}

}  // namespace zentrope
