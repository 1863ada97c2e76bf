// The reader's adjustments: each one command on the session. The reader keeps
// the values; the library keeps nothing.
#include <cstdio>
#include <cstdlib>

#include "commands/card_reading.h"
#include "session/omr_info.h"

namespace markwire {
namespace {

// A refused timing or motor adjustment takes its status off the pending
// mark itself, so the application's next OmrG reads the reader again; the
// code stays for OmrGetError.
int SendAndTakeStatus(OmrInfo& s, const char* command) {
  const int r = s.SendCommand(command);
  if (r > 0) return r;
  char scratch[4096] = "";
  s.ReceiveBlock(scratch);
  return r;
}

// "m 5/" for 5, "m 5 S/" for -5.
int SendSigned(OmrInfo& s, char letter, int value) {
  char command[32];
  if (value >= 0) {
    std::snprintf(command, sizeof command, "%c %d/", letter, value);
  } else {
    std::snprintf(command, sizeof command, "%c %lld S/", letter, -static_cast<long long>(value));
  }
  return SendAndTakeStatus(s, command);
}

}  // namespace

int AdjustGray(OmrInfo& s, int first, int second) {
  if (!s.IsOpen()) return OmrInfo::kNotOpen;
  char command[32];
  std::snprintf(command, sizeof command, "J %02d %02d/", second, first);  // second goes first
  return s.SendCommand(command);
}

int AdjustCard(OmrInfo& s, int first, int second) {
  if (!s.IsOpen()) return OmrInfo::kNotOpen;
  char command[32];
  std::snprintf(command, sizeof command, "J %03d %02d/", first, second);
  return s.SendCommand(command);
}

int AdjustMotor(OmrInfo& s, int value) {
  if (!s.IsOpen()) return OmrInfo::kNotOpen;
  char command[32];
  std::snprintf(command, sizeof command, "MO %d/", value);
  return SendAndTakeStatus(s, command);
}

int AdjustFore(OmrInfo& s, int value) {
  if (!s.IsOpen()) return OmrInfo::kNotOpen;
  return SendSigned(s, 'm', value);
}

int AdjustBehind(OmrInfo& s, int value) {
  if (!s.IsOpen()) return OmrInfo::kNotOpen;
  return SendSigned(s, 'M', value);
}

}  // namespace markwire
