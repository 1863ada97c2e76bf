// The reader's adjustments: each one command through OmrS. The reader keeps
// the values; the library keeps nothing.
#include <cstdio>
#include <cstdlib>

#include "markwire.h"
#include "session/app.h"

namespace {

// A refused timing or motor adjustment takes its status off the pending
// mark itself, so the application's next OmrG reads the reader again; the
// code stays for OmrGetError.
int SendAndTakeStatus(const char* command) {
  const int r = OmrS(command);
  if (r > 0) return r;
  char scratch[4096] = "";
  OmrG(scratch);
  return r;
}

// "m 5/" for 5, "m 5 S/" for -5.
int SendSigned(char letter, int value) {
  char command[32];
  if (value >= 0) {
    std::snprintf(command, sizeof command, "%c %d/", letter, value);
  } else {
    std::snprintf(command, sizeof command, "%c %lld S/", letter, -static_cast<long long>(value));
  }
  return SendAndTakeStatus(command);
}

}  // namespace

extern "C" {

MARKWIRE_API int MARKWIRE_CALL AdjustGrayInfo(int first, int second) {
  if (!markwire::OpenSession()) return -1;
  char command[32];
  std::snprintf(command, sizeof command, "J %02d %02d/", second, first);  // second goes first
  return OmrS(command);
}

MARKWIRE_API int MARKWIRE_CALL AdjustCardInfo(int first, int second) {
  if (!markwire::OpenSession()) return -1;
  char command[32];
  std::snprintf(command, sizeof command, "J %03d %02d/", first, second);
  return OmrS(command);
}

MARKWIRE_API int MARKWIRE_CALL AdjustMota(int value) {
  if (!markwire::OpenSession()) return -1;
  char command[32];
  std::snprintf(command, sizeof command, "MO %d/", value);
  return SendAndTakeStatus(command);
}

MARKWIRE_API int MARKWIRE_CALL AdjustForeTime(int value) {
  if (!markwire::OpenSession()) return -1;
  return SendSigned('m', value);
}

MARKWIRE_API int MARKWIRE_CALL AdjustBehindTime(int value) {
  if (!markwire::OpenSession()) return -1;
  return SendSigned('M', value);
}

}  // extern "C"
