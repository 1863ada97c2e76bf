#include "interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli.h"

namespace markwire::cli {
namespace {

std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the flag is set in a signal handler");
std::string stopNote;
bool installed = false;

void WriteRaw(const char* text) {
  // Only write(2) is safe here; a short or failed write loses a hint, no more.
  const ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;
}

void OnStopSignal(int sig) {
  const int savedErrno = errno;
  int expected = 0;
  if (stopSignal.compare_exchange_strong(expected, sig)) {
    if (sig == SIGINT && isatty(STDERR_FILENO))
      WriteRaw("\nmarkwire: stopping after the current exchange (Ctrl-C again to quit at once)\n");
  } else if (sig != SIGPIPE && expected != SIGPIPE) {
    // Asked twice: the operator will not wait for the exchange to end.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
  }
  errno = savedErrno;
}

}  // namespace

void CatchStopSignals() {
  if (installed) return;
  installed = true;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // Restarted reads and writes keep stdio sane; the library's waits in poll
  // come back with EINTR and go on waiting.
  action.sa_flags = SA_RESTART;
  for (int sig : {SIGINT, SIGTERM, SIGPIPE}) sigaction(sig, &action, nullptr);
}

int StopSignal() {
  return stopSignal.load();
}

int StopStatus() {
  const int sig = StopSignal();
  return sig == 0 ? 0 : 128 + sig;
}

void NoteStop(const std::string& what) {
  stopNote = what;
}

bool OutputOk() {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  const int error = errno;
  if (flushed && std::ferror(stdout) == 0) return true;
  // An earlier flush may have met the broken pipe (and its signal) already.
  if (error == EPIPE || StopSignal() == SIGPIPE) {
    int expected = 0;
    stopSignal.compare_exchange_strong(expected, SIGPIPE);  // whether or not one was delivered
  } else {
    static bool said = false;
    if (!said)
      Complain(std::string("cannot write standard output: ") +
               (error != 0 ? std::strerror(error) : "write error"));
    said = true;
  }
  return false;
}

int SettleStop(int status) {
  const int sig = StopSignal();
  if (sig == 0) return status;
  if (sig != SIGPIPE) {
    const std::string what = sig == SIGINT ? "interrupted" : "terminated";
    Complain(what + ": " + (stopNote.empty() ? "the exchange under way was let finish" : stopNote));
  }
  return StopStatus();
}

}  // namespace markwire::cli
