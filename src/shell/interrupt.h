// The busy indicator and the user's stop request. Long operations bracket
// themselves with set_cursor("Snooze") and set_cursor("WakeUp"), which show a
// status line on standard error when it is a terminal; Ctrl-C stands in for
// the Escape key: the first press sets the flag that escape_pressed reports,
// a second one ends the program at once.
#pragma once

#include <string_view>

namespace zentrope {

// Installs the Ctrl-C handler (once), and the SIGTERM and SIGHUP handlers
// that remove a save's temporaries before the program ends; a write past the
// file-size limit fails instead of ending the program.
void InstallInterruptHandler();
// True when a stop was requested since the last poll; clears the request.
bool escape_pressed();
// Asks running loops to stop, as Ctrl-C does (tests and embedding code).
void RequestEscape();
// True once a stop was asked (Ctrl-C, RequestEscape, or SIGTERM under
// StopAfterFrame) until ClearStopRequest, even when escape_pressed has
// taken the request since.
bool stop_requested();
void ClearStopRequest();
// While a range of frames renders: the first Ctrl-C or SIGTERM only sets
// stop_requested, so the frame in hand is finished and written and the
// range ends after it; a second one ends the program at once.
void StopAfterFrame(bool on);

void SetQuiet(bool quiet);
// Whether a status line is shown: standard error is a terminal and
// --quiet was not given.
bool StatusLineVisible();
// "Snooze" starts the busy status line, "WakeUp" clears it.
void set_cursor(std::string_view name);
// Replaces the text of the busy status line, e.g. "Finding Patches: 40%".
void SetStatusText(std::string_view text);

}  // namespace zentrope
