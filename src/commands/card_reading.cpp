// One card with one call: ReadOneCard and PassOneCard, composed through the
// public entry points exactly as an application would compose them, so that
// every rule of OmrS and OmrG applies to each step.
#include <cstdio>
#include <string>

#include "markwire.h"
#include "session/app.h"

extern "C" {

MARKWIRE_API int MARKWIRE_CALL ReadOneCard(int option, int limit, char* data) {
  markwire::OmrInfo* session = markwire::OpenSession();
  if (session == nullptr) return -1;
  const bool held = session->cardMayBeHeld;
  if (OmrS("R/") <= 0) {
    OmrG(data);  // hands over the pending code, if any
    return 0;
  }
  // A reader that took "R/" without confirming the feed may have fed
  // nothing; when it holds a card from before whose end it never confirmed,
  // what it sends may be that one.
  const bool confirmed = session->FeedConfirmed();
  const bool maybeOld = !confirmed && held;
  char command[32];  // "r A " and two 11-character numbers fit
  std::snprintf(command, sizeof command, "r A %04d %04d/", option, limit);
  OmrS(command);
  int result = OmrG(data);
  // A card is reported only when its data arrived, and only when they can be
  // this card's: after an unanswered "R/" the reader may have fed nothing.
  if (!confirmed && result >= 0 && result != 255 &&
      (session->LastBlockBytes() == 0 || maybeOld)) {
    session->error.Set("14");
    if (data != nullptr) data[0] = '\0';
    result = 0;
  }
  // "-/" resets the error record; a read that failed keeps its code pending.
  const std::string kept(result == 0 && session->error.Pending() ? session->error.Code() : "");
  OmrS("-/");
  if (!kept.empty()) session->error.Set(kept);
  return result;
}

MARKWIRE_API int MARKWIRE_CALL PassOneCard(int line, int column, char* data) {
  if (!markwire::OpenSession()) return -1;
  if (OmrSetTest(line, column) < 1) return -1;
  const int result = OmrS("I 3/");
  if (result <= 0) OmrG(data);
  OmrS("-/");
  return result;
}

}  // extern "C"
