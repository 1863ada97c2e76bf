// Stopping a command that talks to a reader without leaving a card half-read.
//
// SIGINT, SIGTERM and SIGPIPE only raise a flag. A library call in progress
// runs to its end (the protocol's time-outs bound it); the command looks at
// the flag between calls, stops before the next card or command, and
// returns. Leaving main normally lets the library end its session ("Q/") as
// it unloads. A broken standard output makes writes fail with EPIPE instead
// of killing the process, so the card being printed is finished too.
//
// A second SIGINT or SIGTERM after the first ends the process at once, for
// an operator who would rather lose the card than wait.
#pragma once

#include <string>

namespace markwire::cli {

// Installs the handlers; harmless to call more than once. Every command that
// opens a reader calls it first (OpenReader does).
void CatchStopSignals();

// The stop signal taken (the first one), 0 while none came.
int StopSignal();
inline bool StopRequested() {
  return StopSignal() != 0;
}

// What the process exits with after the stop signal: 128 + its number.
int StopStatus();

// What the command was doing when it stopped, said in the stop message,
// e.g. "after card 12; the card in the reader was finished".
void NoteStop(const std::string& what);

// Flushes standard output and says whether everything printed so far got
// out. A broken pipe counts as a stop by SIGPIPE (silent); any other write
// error is complained about. Commands call it after each result.
bool OutputOk();

// After the command ran: when a stop was requested, says so on standard
// error (nothing for SIGPIPE) and returns the stop's exit status; else
// returns `status`.
int SettleStop(int status);

}  // namespace markwire::cli
