#include "io/movie_player.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>

#include "shell/project_paths.h"

namespace zentrope {

namespace {

bool Fail(std::string* error, const std::string& why) {
  if (error) {
    *error = why;
  }
  return false;
}

bool IsExecutableFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The program's path: a name with a slash as given, else the first match on
// the PATH.
std::optional<std::string> FindProgram(const std::string& program) {
  if (program.empty()) {
    return std::nullopt;
  }
  if (program.find('/') != std::string::npos) {
    return IsExecutableFile(program) ? std::optional<std::string>(program) : std::nullopt;
  }
  const char* path = std::getenv("PATH");
  std::string_view folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
  while (true) {
    const std::size_t colon = folders.find(':');
    const std::string_view folder = folders.substr(0, colon);
    const std::string candidate =
        (folder.empty() ? std::string(".") : std::string(folder)) + "/" + program;
    if (IsExecutableFile(candidate)) {
      return candidate;
    }
    if (colon == std::string_view::npos) {
      return std::nullopt;
    }
    folders.remove_prefix(colon + 1);
  }
}

// Starts program on file and returns without waiting for it: a child starts
// a grandchild in a session of its own and exits at once, so the player is
// adopted by init and leaves no zombie here. A pipe closed on exec tells
// whether the program started.
bool StartDetached(const std::string& program, const std::string& file, std::string* error) {
  // Everything the children use is ready before the fork: after it only
  // async-signal-safe calls are made.
  const std::string argument0 = std::filesystem::path(program).filename().string();
  char* const argv[] = {const_cast<char*>(argument0.c_str()), const_cast<char*>(file.c_str()),
                        nullptr};
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    return Fail(error, std::string("cannot start the player: ") + std::strerror(errno));
  }
  const pid_t child = fork();
  if (child < 0) {
    const int e = errno;
    close(report[0]);
    close(report[1]);
    return Fail(error, std::string("cannot start the player: ") + std::strerror(e));
  }
  if (child == 0) {
    close(report[0]);
    const pid_t grandchild = fork();
    if (grandchild != 0) {
      _exit(grandchild < 0 ? 1 : 0);
    }
    setsid();
    const int in = open("/dev/null", O_RDONLY);
    if (in >= 0) {
      dup2(in, STDIN_FILENO);
      if (in != STDIN_FILENO) {
        close(in);
      }
    }
    execv(program.c_str(), argv);
    const int e = errno;
    ssize_t ignored = write(report[1], &e, sizeof e);
    (void)ignored;
    _exit(127);
  }
  close(report[1]);
  int status = 0;
  pid_t waited = 0;
  do {
    waited = waitpid(child, &status, 0);
  } while (waited < 0 && errno == EINTR);
  // The pipe ends when the player has started (closed on exec) or failed
  // (after the error number was written).
  int execError = 0;
  ssize_t n = 0;
  do {
    n = read(report[0], &execError, sizeof execError);
  } while (n < 0 && errno == EINTR);
  close(report[0]);
  if (waited != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return Fail(error, "cannot start the player: fork failed");
  }
  if (n == static_cast<ssize_t>(sizeof execError)) {
    return Fail(error, "cannot start " + program + ": " + std::strerror(execError));
  }
  return true;
}

}  // namespace

bool play_movie(const std::string& fileName, std::string* error) {
  std::string why;
  const std::optional<std::filesystem::path> file = LocateFile(fileName, &why);
  if (!file) {
    return Fail(error, why.empty() ? fileName + ": cannot be found" : why);
  }
  struct stat st {};
  if (stat(file->c_str(), &st) != 0) {
    return Fail(error, file->string() + ": " + std::strerror(errno));
  }
  if (!S_ISREG(st.st_mode)) {
    return Fail(error, file->string() + ": not a regular file");
  }
  // Only movies go to the player: a picture or a document would open in
  // whatever program the desktop chooses for it.
  std::string extension = file->extension().string();
  for (char& c : extension) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  if (extension != ".avi") {
    return Fail(error, file->string() + ": not an .avi movie");
  }
  std::optional<std::string> program;
  const char* chosen = std::getenv("ZENTROPE_PLAYER");
  if (chosen && *chosen) {
    program = FindProgram(chosen);
    if (!program) {
      return Fail(error, std::string("the player ") + chosen +
                             " (ZENTROPE_PLAYER) is not an executable program");
    }
  } else {
    for (const char* candidate : {"ffplay", "mpv", "xdg-open"}) {
      if ((program = FindProgram(candidate))) {
        break;
      }
    }
    if (!program) {
      return Fail(error,
                  "no movie player found: set ZENTROPE_PLAYER or install ffplay, mpv or "
                  "xdg-open");
    }
  }
  // An absolute name: a file called "-x.avi" must not read as an option.
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(*file, ec);
  return StartDetached(*program, (ec ? *file : absolute).string(), error);
}

bool play_movie(const std::string& fileName, RenderFormat format, std::string* error) {
  if (format != RenderFormat::kAvi) {
    return Fail(error, "only an AVI render is played");
  }
  return play_movie(fileName, error);
}

}  // namespace zentrope
