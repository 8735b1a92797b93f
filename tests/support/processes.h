// Work done by two processes at once, for tests of files shared between runs.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace zentrope::testing {

// Runs work(0) and work(1) in two child processes at the same time and waits
// for both; true when both returned true. The children end with _exit, so
// nothing of the test program runs twice.
inline bool InTwoProcesses(const std::function<bool(int)>& work) {
  pid_t children[2] = {-1, -1};
  bool ok = true;
  for (int c = 0; c < 2; ++c) {
    children[c] = fork();
    if (children[c] == 0) {
      _exit(work(c) ? 0 : 1);
    }
    ok = ok && children[c] > 0;
  }
  for (pid_t child : children) {
    int status = 0;
    if (child > 0) {
      ok = waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
           ok;
    }
  }
  return ok;
}

}  // namespace zentrope::testing
