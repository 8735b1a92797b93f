// Reading a named file without ever waiting on it: documents and pictures
// are read only from regular files (a FIFO would wait for a writer forever,
// a device never ends), and never past a stated size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zentrope {

// Reads the whole of a regular file into contents. Fails (with error set to
// "file: why") when the file cannot be opened, is not a regular file, or
// holds more than maxBytes. When maxLine is not 0, reading stops after the
// first line longer than maxLine characters and a CR, and contents keeps
// that line cut to maxLine + 2 characters, so that a line reader meets it
// and reports it at its own line.
bool ReadRegularFile(const std::filesystem::path& file, std::uintmax_t maxBytes,
                     std::string& contents, std::string* error, std::size_t maxLine = 0);
bool ReadRegularFile(const std::filesystem::path& file, std::uintmax_t maxBytes,
                     std::vector<std::uint8_t>& contents, std::string* error);

// Up to size bytes from the start of a regular file; the count read, or -1
// (with error set to the reason alone) when it is not a regular file or
// cannot be opened.
long ReadRegularFileHead(const std::filesystem::path& file, void* buffer, std::size_t size,
                         std::string* error = nullptr);

}  // namespace zentrope
