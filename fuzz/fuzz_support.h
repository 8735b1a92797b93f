// Shared by the document fuzz targets: a private folder for the files a
// reader reads and a writer writes, and the way a broken property is
// reported (an abort, which libFuzzer records with the input).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "shell/memory_pool.h"

namespace zentrope::fuzz {

// Made once per process under the temporary folder and removed at exit; every
// file a target writes lands here.
inline const std::filesystem::path& Folder() {
  static const std::filesystem::path folder = [] {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec || !std::filesystem::is_directory(base, ec)) {
      base = "/tmp";
    }
    std::string pattern = (base / "zentrope-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      std::perror("mkdtemp");
      std::abort();
    }
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(Folder(), ignored);
    });
    return std::filesystem::path(pattern);
  }();
  return folder;
}

// The path of name inside the private folder.
inline std::string PathOf(const std::string& name) {
  return (Folder() / name).string();
}

// Replaces Folder()/name with the bytes; returns its path.
inline std::string Put(const std::string& name, const std::uint8_t* data, std::size_t size) {
  const std::string path = PathOf(name);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (!out) {
    std::fprintf(stderr, "fuzz: cannot write %s\n", path.c_str());
    std::abort();
  }
  return path;
}

inline std::string Put(const std::string& name, const std::string& text) {
  return Put(name, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void Remove(const std::string& name) {
  std::error_code ignored;
  std::filesystem::remove(Folder() / name, ignored);
}

// A broken property: says which and aborts, so libFuzzer keeps the input.
[[noreturn]] inline void Finding(const std::string& what) {
  std::fprintf(stderr, "fuzz finding: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

// What reads must write, what is written must read, and a second write of
// that must give the same bytes.
inline void ExpectSameBytes(const std::string& first, const std::string& second,
                            const char* document) {
  const std::string a = Slurp(first);
  const std::string b = Slurp(second);
  if (a != b) {
    Finding(std::string(document) + ": a resave of a resave differs (" + first + ", " + second +
            ")");
  }
}

// As at start-up: a limit, so that absurd documents fail under it.
inline void Start() {
  MemoryPool::Main().set_limit(std::int64_t{256} << 20);
  (void)Folder();
}

}  // namespace zentrope::fuzz
