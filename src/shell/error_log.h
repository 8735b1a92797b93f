// The error log: internal failures appended to the file ERROR in the
// temporary-file folder, when GLOBAL "ErrorLog" is ON.
#pragma once

#include <filesystem>
#include <string_view>

namespace zentrope {

void SetErrorLogEnabled(bool on);
bool ErrorLogEnabled();
// The folder that holds ERROR (and other temporary files).
void SetTempDirectory(const std::filesystem::path& folder);
std::filesystem::path TempDirectory();

// Appends "TEXT     <24-character date and time>" and a line end.
void log_line(std::string_view text);

class MemoryPool;

// The allocator's running total, as "total: N" (of the main pool, or of the
// pool given). The pool logs it whenever an allocation fails.
void LogMemoryTotal();
void LogMemoryTotal(const MemoryPool& pool);

}  // namespace zentrope
