// Project paths: file names written as "PROJECT:rest" resolve through the
// project list (PROJECTS.BRX), so documents can refer to each other across
// machines. Paths written on other systems use backslashes and upper-case
// names; they are mapped to this file system when opened.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zentrope {

class ProjectList {
 public:
  struct Entry {
    std::string name;  // with its trailing colon, e.g. "DEMO:"
    std::string directory;
  };

  // Reads one entry a line: the name up to the first blank, then the
  // directory, which is the rest of the line after the tab the list is
  // written with (so it may hold spaces), or, in a line without a tab, the
  // rest with its blanks trimmed. A line without both fields is skipped. A
  // missing or unreadable file gives an empty list.
  static ProjectList Load(const std::filesystem::path& file);
  // Writes "%s\t%s\n" per entry and one empty line.
  bool Save(std::string* detail = nullptr) const;

  // Adds or replaces an entry, keeping the list sorted by name without regard
  // to case, and rewrites the file. The file is read again and rewritten
  // under an UpdateLock, so entries other processes added meanwhile stay.
  // detail receives why on failure.
  bool Add(std::string name, std::string directory, std::string* detail = nullptr);
  const Entry* Find(std::string_view name) const;
  const std::vector<Entry>& Entries() const { return entries_; }
  const std::filesystem::path& File() const { return file_; }

 private:
  std::filesystem::path file_;
  std::vector<Entry> entries_;
};

// Where PROJECTS.BRX lives: ZENTROPE_PROJECTS when set, else the folder
// current at start-up.
std::filesystem::path DefaultProjectListPath();

// The project list of this run.
ProjectList& Projects();
void UseProjectList(ProjectList list);

enum class PathKind {
  kPlain = 0,       // not a project path: used unchanged
  kResolved = 1,    // resolved through the list
  kUnknownProject,  // names a project the list does not hold
};

struct ResolvedPath {
  std::string path;
  PathKind kind = PathKind::kPlain;
  std::string project;  // the project name, for kUnknownProject
};

// Resolves "NAME:rest". A candidate name shorter than three characters (a
// drive letter) is not a project.
ResolvedPath resolve_path(std::string_view path, const ProjectList& projects);

// Maps a resolved name to this file system: backslashes become slashes, and
// when the path does not exist each component is matched without regard to
// case. Returns the mapped name even when nothing matches.
std::filesystem::path MapToFileSystem(std::string_view path);

// The message for a name that cannot be resolved, naming the project.
std::string UnknownProjectMessage(const std::string& project);

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) {
      std::fclose(f);
    }
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Resolves and opens a document file with a standard mode ("r", "rb"). Null
// when the name cannot be resolved or opened; error receives why.
FilePtr open_file(std::string_view path, const char* mode, std::string* error = nullptr);
// The file-system path a document name refers to, or none for an unknown
// project.
std::optional<std::filesystem::path> LocateFile(std::string_view path,
                                                std::string* error = nullptr);

}  // namespace zentrope
