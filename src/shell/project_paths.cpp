// Project list and path resolution.
#include "shell/project_paths.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>

#include "shell/atomic_file.h"
#include "shell/regular_file.h"

namespace zentrope {

namespace {

bool LessNoCase(const std::string& a, const std::string& b) {
  return strcasecmp(a.c_str(), b.c_str()) < 0;
}

struct ProjectState {
  std::mutex mutex;
  std::optional<ProjectList> list;
};

ProjectState& State() {
  static ProjectState state;
  return state;
}

// "C:\" or "C:/": a drive letter, a colon and one separator.
bool IsDriveRoot(std::string_view dir) {
  return dir.size() == 3 && std::isalpha(static_cast<unsigned char>(dir[0])) && dir[1] == ':' &&
         (dir[2] == '\\' || dir[2] == '/');
}

}  // namespace

namespace {

// The list's text; empty when there is no file. False when the file exists
// but is no list (a FIFO would wait for ever, a device never ends, and no
// list is larger than a few megabytes): nothing may be saved over it.
bool ReadListText(const std::filesystem::path& file, std::string& text, std::string* error) {
  text.clear();
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) {  // a dangling link makes a new file
    return true;
  }
  return ReadRegularFile(file, 16u << 20, text, error);
}

}  // namespace

ProjectList ProjectList::Load(const std::filesystem::path& file) {
  ProjectList list;
  list.file_ = file;
  std::string text;
  if (!ReadListText(file, text, nullptr)) {
    text.clear();
  }
  std::istringstream in(text);
  std::string line;
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (std::getline(in, line)) {
    // Every carriage return before the line end: a folder saved from a
    // list with CR CR LF line ends must read back the same.
    while (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    std::size_t start = 0;
    while (start < line.size() && blank(line[start])) {
      ++start;
    }
    std::size_t end = start;
    while (end < line.size() && !blank(line[end])) {
      ++end;
    }
    std::string directory;
    if (end < line.size() && line[end] == '\t') {
      directory = line.substr(end + 1);
    } else {
      std::size_t from = end;
      while (from < line.size() && blank(line[from])) {
        ++from;
      }
      std::size_t to = line.size();
      while (to > from && blank(line[to - 1])) {
        --to;
      }
      directory = line.substr(from, to - from);
    }
    if (end > start && !directory.empty()) {
      list.entries_.push_back({line.substr(start, end - start), directory});
    }
  }
  std::stable_sort(list.entries_.begin(), list.entries_.end(),
                   [](const Entry& a, const Entry& b) { return LessNoCase(a.name, b.name); });
  return list;
}

bool ProjectList::Save(std::string* detail) const {
  return SaveAtomically(
             file_,
             [this](std::FILE* f) {
               // Whole names: a stray NUL byte must not cut an entry short.
               for (const Entry& e : entries_) {
                 const std::string line = e.name + '\t' + e.directory + '\n';
                 if (std::fwrite(line.data(), 1, line.size(), f) != line.size()) {
                   return false;
                 }
               }
               return std::fprintf(f, "\n") >= 0;
             },
             detail) == SaveStatus::kSaved;
}

bool ProjectList::Add(std::string name, std::string directory, std::string* detail) {
  if (name.empty() || name.back() != ':') {
    name += ':';
  }
  // One entry a line, the name ending at the first blank.
  const std::string_view breaks("\n\r\t\0", 4);
  if (name.find_first_of(breaks) != std::string::npos || name.find(' ') != std::string::npos ||
      directory.find_first_of(breaks) != std::string::npos) {
    if (detail) {
      *detail = "a project name cannot hold blanks, nor a folder a tab or line break";
    }
    return false;
  }
  // A list of no file (built in memory) changes only in memory.
  std::optional<UpdateLock> lock;
  if (!file_.empty()) {
    lock.emplace(file_);
    if (!lock->Locked()) {
      if (detail) {
        *detail = lock->Error();
      }
      return false;
    }
  }
  // What other processes wrote since this list was read, then what this one
  // holds that the file does not (there is no removal, so the union loses
  // nothing).
  std::string unreadable;
  if (std::string text; !file_.empty() && !ReadListText(file_, text, &unreadable)) {
    if (detail) {
      *detail = unreadable;
    }
    return false;
  }
  std::vector<Entry> held = std::move(entries_);
  entries_ = file_.empty() ? std::vector<Entry>() : Load(file_).entries_;
  auto named = [this](const std::string& n) {
    return std::find_if(entries_.begin(), entries_.end(),
                        [&](const Entry& e) { return strcasecmp(e.name.c_str(), n.c_str()) == 0; });
  };
  auto insertSorted = [this](Entry e) {
    entries_.insert(
        std::upper_bound(entries_.begin(), entries_.end(), e,
                         [](const Entry& a, const Entry& b) { return LessNoCase(a.name, b.name); }),
        std::move(e));
  };
  for (Entry& e : held) {
    if (named(e.name) == entries_.end()) {
      insertSorted(std::move(e));
    }
  }
  if (auto it = named(name); it != entries_.end()) {
    it->directory = directory;
  } else {
    insertSorted(Entry{name, directory});
  }
  return Save(detail);
}

const ProjectList::Entry* ProjectList::Find(std::string_view name) const {
  for (const Entry& e : entries_) {
    if (e.name.size() == name.size() && strncasecmp(e.name.data(), name.data(), name.size()) == 0) {
      return &e;
    }
  }
  return nullptr;
}

std::filesystem::path DefaultProjectListPath() {
  if (const char* explicitPath = std::getenv("ZENTROPE_PROJECTS"); explicitPath && *explicitPath) {
    return explicitPath;
  }
  return std::filesystem::current_path() / "PROJECTS.BRX";
}

ProjectList& Projects() {
  std::lock_guard lock(State().mutex);
  if (!State().list) {
    State().list = ProjectList::Load(DefaultProjectListPath());
  }
  return *State().list;
}

void UseProjectList(ProjectList list) {
  std::lock_guard lock(State().mutex);
  State().list = std::move(list);
}

ResolvedPath resolve_path(std::string_view path, const ProjectList& projects) {
  const std::size_t colon = path.find(':');
  if (colon == std::string_view::npos || colon + 1 < 3) {
    return {std::string(path), PathKind::kPlain, {}};
  }
  const std::string_view name = path.substr(0, colon + 1);
  if (name.find_first_of("/\\") != std::string_view::npos) {
    return {std::string(path), PathKind::kPlain, {}};  // a folder name with a colon in it
  }
  const ProjectList::Entry* entry = projects.Find(name);
  if (!entry) {
    return {std::string(path), PathKind::kUnknownProject, std::string(name)};
  }
  std::string_view rest = path.substr(colon + 1);
  const std::string& dir = entry->directory;
  std::string result;
  if (rest.empty() || rest.front() == '\\' || rest.front() == '/') {
    // A drive root such as "D:\" already ends in the separator; any other
    // three-character folder ("abc") does not.
    if (IsDriveRoot(dir) && !rest.empty()) {
      rest.remove_prefix(1);
    }
    result = dir + std::string(rest);
  } else {
    result = dir + "\\" + std::string(rest);
  }
  return {result, PathKind::kResolved, {}};
}

std::filesystem::path MapToFileSystem(std::string_view path) {
  std::string slashed(path);
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  // Collapse the doubled separator a directory with a trailing slash leaves.
  std::string cleaned;
  for (char c : slashed) {
    if (c == '/' && !cleaned.empty() && cleaned.back() == '/') {
      continue;
    }
    cleaned += c;
  }
  std::filesystem::path mapped(cleaned);
  std::error_code ec;
  if (cleaned.empty() || std::filesystem::exists(mapped, ec)) {
    return mapped;
  }
  // Match each component without regard to case.
  std::filesystem::path built = mapped.is_absolute() ? mapped.root_path() : std::filesystem::path();
  for (const std::filesystem::path& part : mapped.relative_path()) {
    const std::filesystem::path exact = built / part;
    if (std::filesystem::exists(exact, ec)) {
      built = exact;
      continue;
    }
    const std::filesystem::path folder = built.empty() ? std::filesystem::path(".") : built;
    std::optional<std::filesystem::path> match;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
      const std::string candidate = it->path().filename().string();
      if (strcasecmp(candidate.c_str(), part.string().c_str()) == 0) {
        match = built / candidate;
        break;
      }
    }
    if (!match) {
      return mapped;
    }
    built = *match;
  }
  return built;
}

std::string UnknownProjectMessage(const std::string& project) {
  return "Unrecognized Project " + project + " (add it with: zentrope project add " + project +
         " DIRECTORY)";
}

std::optional<std::filesystem::path> LocateFile(std::string_view path, std::string* error) {
  const ResolvedPath resolved = resolve_path(path, Projects());
  if (resolved.kind == PathKind::kUnknownProject) {
    if (error) {
      *error = UnknownProjectMessage(resolved.project);
    }
    return std::nullopt;
  }
  return MapToFileSystem(resolved.path);
}

FilePtr open_file(std::string_view path, const char* mode, std::string* error) {
  const std::optional<std::filesystem::path> located = LocateFile(path, error);
  if (!located) {
    return nullptr;
  }
  FilePtr f(std::fopen(located->c_str(), mode));
  if (!f && error) {
    *error = located->string() + ": " + std::strerror(errno);
  }
  return f;
}

}  // namespace zentrope
