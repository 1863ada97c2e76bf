// The exported C functions: each checks the session's state and forwards.
#include "markwire.h"
#include "session/app.h"
#include "transport/port_names.h"

using markwire::App;
using markwire::OmrInfo;

namespace {

// The guard of every export that talks to the reader.
OmrInfo* OpenSession() {
  OmrInfo* s = App().Session();
  return s != nullptr && s->isOpen ? s : nullptr;
}

int InitOn(const std::string& device) {
  OmrInfo* s = App().Session();
  if (s == nullptr) return OmrInfo::kFailed;
  if (device.empty()) return OmrInfo::kFailed;
  return s->Open(device);
}

// Exports whose command families are not built yet: guarded like the rest,
// and refused (code "06") when the session is open.
int RefuseUnbuilt() {
  OmrInfo* s = OpenSession();
  return s == nullptr ? OmrInfo::kNotOpen : s->Refuse();
}

}  // namespace

extern "C" {

MARKWIRE_API int MARKWIRE_CALL OmrInit(int port) {
  return InitOn(markwire::DeviceForPortNumber(port));
}

MARKWIRE_API int MARKWIRE_CALL OmrInitDevice(const char* device) {
  return InitOn(device == nullptr ? std::string() : std::string(device));
}

MARKWIRE_API int MARKWIRE_CALL OmrS(const char* command) {
  OmrInfo* s = OpenSession();
  return s == nullptr ? OmrInfo::kNotOpen : s->SendCommand(command);
}

MARKWIRE_API int MARKWIRE_CALL OmrG(char* buffer) {
  OmrInfo* s = OpenSession();
  return s == nullptr ? OmrInfo::kNotOpen : s->ReceiveBlock(buffer);
}

// The reader stays on line until the library is unloaded.
MARKWIRE_API int MARKWIRE_CALL OmrClose(void) {
  return OmrInfo::kDone;
}

MARKWIRE_API int MARKWIRE_CALL OmrGetError(char* buffer) {
  if (OmrInfo* s = App().Session()) s->error.CopyCode(buffer);
  return OmrInfo::kDone;
}

MARKWIRE_API int MARKWIRE_CALL OmrGetErrorStr(char* buffer) {
  if (OmrInfo* s = App().Session()) s->error.CopyText(buffer);
  return OmrInfo::kDone;
}

MARKWIRE_API int MARKWIRE_CALL OmrGetSync(void) {
  OmrInfo* s = App().Session();
  return s == nullptr ? 0 : s->syncCount;
}

MARKWIRE_API int MARKWIRE_CALL OmrSetTest(int, int) {
  return RefuseUnbuilt();
}
MARKWIRE_API int MARKWIRE_CALL OmrGetValue(int, int*) {
  return RefuseUnbuilt();
}
MARKWIRE_API int MARKWIRE_CALL OmrGetOriOrGray(int, int*) {
  return RefuseUnbuilt();
}
MARKWIRE_API int MARKWIRE_CALL OmrGetCurve(int, int*) {
  return RefuseUnbuilt();
}
MARKWIRE_API int MARKWIRE_CALL ReadOneCard(int, int, char*) {
  return RefuseUnbuilt();
}
MARKWIRE_API int MARKWIRE_CALL DownLoadFormatFile(const char*) {
  return RefuseUnbuilt();
}
MARKWIRE_API int MARKWIRE_CALL PassOneCard(int, int, char*) {
  return RefuseUnbuilt();
}
MARKWIRE_API int MARKWIRE_CALL AdjustGrayInfo(int, int) {
  return RefuseUnbuilt();
}
MARKWIRE_API int MARKWIRE_CALL AdjustCardInfo(int, int) {
  return RefuseUnbuilt();
}
MARKWIRE_API int MARKWIRE_CALL AdjustMota(int) {
  return RefuseUnbuilt();
}
MARKWIRE_API int MARKWIRE_CALL AdjustForeTime(int) {
  return RefuseUnbuilt();
}
MARKWIRE_API int MARKWIRE_CALL AdjustBehindTime(int) {
  return RefuseUnbuilt();
}

MARKWIRE_API void MARKWIRE_CALL OmrSetMessageHandler(OmrMessageHandler handler, void* user) {
  App().Handlers().SetMessageHandler(handler, user);
}

MARKWIRE_API void MARKWIRE_CALL OmrSetTraceHandler(OmrTraceHandler handler, void* user) {
  App().Handlers().SetTraceHandler(handler, user);
}

}  // extern "C"
