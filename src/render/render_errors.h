// The render error codes shared by the frame loop and the renderers, with the
// message each shows and the line each leaves in the error log.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zentrope {

namespace render_error {
inline constexpr int kNone = 0;
inline constexpr int kMemory = 107;         // a working block cannot be allocated
inline constexpr int kCantSave = 108;       // writing or closing an output file fails
inline constexpr int kAborted = 110;        // the user stopped, or a tessellation failed
inline constexpr int kCantOpen = 111;       // an output or temporary file cannot be created
inline constexpr int kLineBuffer = 802;     // a scan-line buffer cannot be allocated
inline constexpr int kBinnodeMemory = 803;  // a raytracer tree node cannot be allocated
}  // namespace render_error

struct RenderErrorText {
  int code = 0;
  int messageId = 0;         // string table entry shown to the user
  std::string_view logText;  // the error-log text
};

// The table entry of a code, if it has one (110 has none: it is silent).
std::optional<RenderErrorText> FindRenderError(int code);

// The message-box text of a non-zero code other than 110; codes outside the
// table show "Trouble Rendering!". Empty for 0 and 110.
std::string RenderErrorMessage(int code);
// The error-log text of a code: the table's, or the decimal number. Empty
// for 0 and 110.
std::string RenderErrorLogText(int code);

// Shows the message (titled with the product name) and appends the log line
// ("TEXT     time"); does nothing for 0 and 110.
void ReportRenderError(int code);

}  // namespace zentrope
