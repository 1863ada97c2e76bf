// One card with one call: ReadOneCard and PassOneCard, composed from the
// session's own command and block steps exactly as an application would
// compose OmrS and OmrG, so that every rule of those applies to each step.
#include <cstdio>
#include <string>

#include "commands/card_reading.h"
#include "commands/diagnostics.h"
#include "session/omr_info.h"

namespace markwire {

int ReadCard(OmrInfo& s, int option, int limit, char* data) {
  if (!s.IsOpen()) return OmrInfo::kNotOpen;
  OmrInfo* const session = &s;
  const bool held = session->CardMayBeHeld();
  if (s.SendCommand("R/") <= 0) {
    s.ReceiveBlock(data);  // hands over the pending code, if any
    return 0;
  }
  // A reader that took "R/" without confirming the feed may have fed
  // nothing; when it holds a card from before whose end it never confirmed,
  // what it sends may be that one.
  const bool confirmed = session->FeedConfirmed();
  const bool maybeOld = !confirmed && held;
  char command[32];  // "r A " and two 11-character numbers fit
  std::snprintf(command, sizeof command, "r A %04d %04d/", option, limit);
  s.SendCommand(command);
  int result = s.ReceiveBlock(data);
  // A card is reported only when its data arrived, and only when they can be
  // this card's: after an unanswered "R/" the reader may have fed nothing.
  if (!confirmed && result >= 0 && result != 255 &&
      (session->LastBlockBytes() == 0 || maybeOld)) {
    session->Error().Set("14");
    if (data != nullptr) data[0] = '\0';
    result = 0;
  }
  // "-/" resets the error record; a read that failed keeps its code pending.
  const std::string kept(result == 0 && session->Error().Pending() ? session->Error().Code() : "");
  s.SendCommand("-/");
  if (!kept.empty()) session->Error().Set(kept);
  return result;
}

int PassCardAt(OmrInfo& s, int line, int column, char* data) {
  if (!s.IsOpen()) return OmrInfo::kNotOpen;
  if (SetTestPoint(s, line, column) < 1) return -1;
  const int result = s.SendCommand("I 3/");
  if (result <= 0) s.ReceiveBlock(data);
  s.SendCommand("-/");
  return result;
}

}  // namespace markwire
