// Ctrl-C handling and the status line.
#include "shell/interrupt.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <string>

namespace zentrope {

namespace {

std::atomic<int> interruptCount{0};
std::atomic<bool> escapeRequested{false};
std::atomic<bool> quiet{false};
std::atomic<bool> busy{false};

void OnInterrupt(int) {
  if (interruptCount.fetch_add(1) >= 1) {
    _exit(130);  // the second press ends the program at once
  }
  escapeRequested.store(true);
}

bool StatusVisible() {
  return !quiet.load() && isatty(STDERR_FILENO);
}

}  // namespace

void InstallInterruptHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
  });
}

bool escape_pressed() {
  if (escapeRequested.exchange(false)) {
    interruptCount.store(0);
    return true;
  }
  return false;
}

void RequestEscape() {
  escapeRequested.store(true);
}

void SetQuiet(bool on) {
  quiet.store(on);
}

void set_cursor(std::string_view name) {
  if (name == "Snooze") {
    busy.store(true);
  } else if (name == "WakeUp") {
    if (busy.exchange(false) && StatusVisible()) {
      std::fputs("\r\033[K", stderr);
      std::fflush(stderr);
    }
  }
}

void SetStatusText(std::string_view text) {
  if (!busy.load() || !StatusVisible()) {
    return;
  }
  std::string line = "\r\033[K" + std::string(text);
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace zentrope
