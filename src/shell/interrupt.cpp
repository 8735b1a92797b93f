// Ctrl-C handling and the status line.
#include "shell/interrupt.h"

#include "shell/atomic_file.h"

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
// Stays set once a stop was asked, whoever polled escape_pressed since: a
// range of frames ends after the frame in hand even when the renderer
// took the request inside the frame.
std::atomic<bool> stopSeen{false};
// A range of frames is running: the first Ctrl-C or SIGTERM only asks it to
// stop after the frame in hand (the renderers are not interrupted).
std::atomic<bool> stopAfterFrame{false};
std::atomic<bool> quiet{false};
std::atomic<bool> busy{false};

void OnInterrupt(int) {
  if (stopAfterFrame.load()) {
    if (stopSeen.exchange(true)) {
      RemovePendingTemporaries();
      _exit(130);
    }
    return;
  }
  if (interruptCount.fetch_add(1) >= 1) {
    // The second press ends the program at once, leaving no half-written
    // temporaries of a save behind.
    RemovePendingTemporaries();
    _exit(130);
  }
  escapeRequested.store(true);
  stopSeen.store(true);
}

// Ending the program from outside: the temporaries of a save go, then the
// signal's own action ends the program.
void OnTerminate(int signal) {
  if (signal == SIGTERM && stopAfterFrame.load() && !stopSeen.exchange(true)) {
    // A farm manager's polite stop: the range ends after its frame.
    return;
  }
  RemovePendingTemporaries();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
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
    struct sigaction terminate {};
    terminate.sa_handler = OnTerminate;
    sigemptyset(&terminate.sa_mask);
    sigaction(SIGTERM, &terminate, nullptr);
    sigaction(SIGHUP, &terminate, nullptr);
    // Past the file-size limit a write fails (EFBIG) and the save is
    // abandoned like any other failed write, instead of the signal ending
    // the program half way through.
    std::signal(SIGXFSZ, SIG_IGN);
  });
}

bool escape_pressed() {
  // A plain read first: renderers poll once per piece from several threads,
  // and an exchange on every poll would bounce the flag between cores.
  if (!escapeRequested.load(std::memory_order_relaxed)) {
    return false;
  }
  if (escapeRequested.exchange(false)) {
    interruptCount.store(0);
    return true;
  }
  return false;
}

void RequestEscape() {
  escapeRequested.store(true);
  stopSeen.store(true);
}
bool stop_requested() {
  return stopSeen.load();
}
void ClearStopRequest() {
  stopSeen.store(false);
}
void StopAfterFrame(bool on) {
  stopAfterFrame.store(on);
}

bool StatusLineVisible() {
  return StatusVisible();
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
