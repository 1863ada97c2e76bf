// One card with one call: ReadOneCard and PassOneCard, composed through the
// public entry points exactly as an application would compose them, so that
// every rule of OmrS and OmrG applies to each step.
#include <cstdio>

#include "markwire.h"
#include "session/app.h"

extern "C" {

MARKWIRE_API int MARKWIRE_CALL ReadOneCard(int option, int limit, char* data) {
  if (!markwire::OpenSession()) return -1;
  if (OmrS("R/") <= 0) {
    OmrG(data);  // hands over the pending code, if any
    return 0;
  }
  char command[32];  // "r A " and two 11-character numbers fit
  std::snprintf(command, sizeof command, "r A %04d %04d/", option, limit);
  OmrS(command);
  const int result = OmrG(data);
  OmrS("-/");
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
