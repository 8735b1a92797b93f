// Checks that a tool made by others (ffprobe, ezdxf, assimp) accepts what
// this program wrote. A missing tool fails the test, naming the Debian
// package to install, rather than letting it pass unchecked.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>
#include <sys/wait.h>

namespace zentrope::test {

// True when command -v finds the program.
inline bool HaveProgram(const std::string& program) {
  return std::system(("command -v '" + program + "' > /dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command, returning its standard output and exit status.
struct ToolRun {
  int status = -1;
  std::string output;
};
inline ToolRun RunTool(const std::string& command) {
  ToolRun run;
  std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) {
    return run;
  }
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    run.output.append(buffer, n);
  }
  const int raw = ::pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return run;
}

}  // namespace zentrope::test

// Fails the test (and returns from it) when program is not installed.
#define ZENTROPE_REQUIRE_TOOL(program, package)                                      \
  do {                                                                               \
    if (!::zentrope::test::HaveProgram(program)) {                                   \
      FAIL() << (program) << " is missing: install the Debian package " << (package) \
             << " (scripts/setup.sh installs it)";                                   \
    }                                                                                \
  } while (false)
