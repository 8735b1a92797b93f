// The error log: internal failures appended to the file ERROR in the
// temporary-file folder, when GLOBAL "ErrorLog" is ON.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zentrope {

void SetErrorLogEnabled(bool on);
bool ErrorLogEnabled();
// The folder that holds ERROR (and other temporary files).
void SetTempDirectory(const std::filesystem::path& folder);
std::filesystem::path TempDirectory();

// The system's temporary folder: TMPDIR when it names a folder, else /tmp,
// else the current folder. Never throws. When TMPDIR is set but unusable,
// note receives one line saying so and which folder is used instead.
std::filesystem::path SystemTempDirectory(std::string* note = nullptr);

// Appends "TEXT     <24-character date and time>" and a line end. The file
// is opened without following a link, created readable by the user only, and
// left alone (nothing written) when it is not a regular file of the user's.
void log_line(std::string_view text);

class MemoryPool;

// The allocator's running total, as "total: N" (of the main pool, or of the
// pool given). The pool logs it whenever an allocation fails.
void LogMemoryTotal();
void LogMemoryTotal(const MemoryPool& pool);

}  // namespace zentrope
