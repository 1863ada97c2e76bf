// The exported C functions: each checks the session's state and forwards.
#include <algorithm>
#include <string>

#include "api/app.h"
#include "commands/card_barcode.h"
#include "commands/card_reading.h"
#include "commands/diagnostics.h"
#include "commands/format_download.h"
#include "markwire.h"
#include "transport/port_names.h"

using markwire::App;
using markwire::OmrInfo;
using markwire::OpenSession;

namespace {

int InitOn(const std::string& device) {
  OmrInfo* s = App().Session();
  if (s == nullptr) return OmrInfo::kFailed;
  if (device.empty()) return OmrInfo::kFailed;
  return s->Open(device);
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
  if (OmrInfo* s = App().Session()) s->Error().CopyCode(buffer);
  return OmrInfo::kDone;
}

MARKWIRE_API int MARKWIRE_CALL OmrGetErrorStr(char* buffer) {
  if (OmrInfo* s = App().Session()) s->Error().CopyText(buffer);
  return OmrInfo::kDone;
}

MARKWIRE_API int MARKWIRE_CALL OmrGetSync(void) {
  OmrInfo* s = App().Session();
  return s == nullptr ? 0 : s->SyncCount();
}

MARKWIRE_API int MARKWIRE_CALL OmrSetTest(int line, int column) {
  OmrInfo* s = OpenSession();
  return s == nullptr ? OmrInfo::kNotOpen : markwire::SetTestPoint(*s, line, column);
}

MARKWIRE_API int MARKWIRE_CALL OmrGetValue(int selector, int* values) {
  OmrInfo* s = OpenSession();
  return s == nullptr ? OmrInfo::kNotOpen : markwire::CopyValueHalves(*s, selector, values);
}

MARKWIRE_API int MARKWIRE_CALL OmrGetOriOrGray(int selector, int* values) {
  OmrInfo* s = OpenSession();
  return s == nullptr ? OmrInfo::kNotOpen : markwire::CopyBlock(*s, selector, values);
}

MARKWIRE_API int MARKWIRE_CALL OmrGetCurve(int, int* values) {
  OmrInfo* s = OpenSession();
  return s == nullptr ? OmrInfo::kNotOpen : markwire::CopyBlock(*s, 'A', values);
}

MARKWIRE_API int MARKWIRE_CALL DownLoadFormatFile(const char* formatOrPath) {
  OmrInfo* s = OpenSession();
  if (s == nullptr) return OmrInfo::kNotOpen;
  const std::string_view argument = formatOrPath == nullptr ? "" : formatOrPath;
  if (markwire::IsFormatText(argument)) return markwire::SendFormatText(*s, argument);
  // A path goes the way an application would send it: as an "S" command.
  const std::string command = "S " + std::string(argument) + "/";
  return OmrS(command.c_str());
}

MARKWIRE_API int MARKWIRE_CALL ReadOneCard(int option, int limit, char* data) {
  OmrInfo* s = OpenSession();
  return s == nullptr ? OmrInfo::kNotOpen : markwire::ReadCard(*s, option, limit, data);
}

MARKWIRE_API int MARKWIRE_CALL PassOneCard(int line, int column, char* data) {
  OmrInfo* s = OpenSession();
  return s == nullptr ? OmrInfo::kNotOpen : markwire::PassCardAt(*s, line, column, data);
}

MARKWIRE_API int MARKWIRE_CALL AdjustGrayInfo(int first, int second) {
  OmrInfo* s = OpenSession();
  return s == nullptr ? OmrInfo::kNotOpen : markwire::AdjustGray(*s, first, second);
}

MARKWIRE_API int MARKWIRE_CALL AdjustCardInfo(int first, int second) {
  OmrInfo* s = OpenSession();
  return s == nullptr ? OmrInfo::kNotOpen : markwire::AdjustCard(*s, first, second);
}

MARKWIRE_API int MARKWIRE_CALL AdjustMota(int value) {
  OmrInfo* s = OpenSession();
  return s == nullptr ? OmrInfo::kNotOpen : markwire::AdjustMotor(*s, value);
}

MARKWIRE_API int MARKWIRE_CALL AdjustForeTime(int value) {
  OmrInfo* s = OpenSession();
  return s == nullptr ? OmrInfo::kNotOpen : markwire::AdjustFore(*s, value);
}

MARKWIRE_API int MARKWIRE_CALL AdjustBehindTime(int value) {
  OmrInfo* s = OpenSession();
  return s == nullptr ? OmrInfo::kNotOpen : markwire::AdjustBehind(*s, value);
}

MARKWIRE_API void MARKWIRE_CALL OmrSetMessageHandler(OmrMessageHandler handler, void* user) {
  App().Handlers().SetMessageHandler(handler, user);
}

MARKWIRE_API void MARKWIRE_CALL OmrSetTraceHandler(OmrTraceHandler handler, void* user) {
  App().Handlers().SetTraceHandler(handler, user);
}

MARKWIRE_API int MARKWIRE_CALL OmrGetOpenError(char* buffer, size_t size) {
  OmrInfo* s = App().Session();
  const std::string why = s == nullptr ? std::string() : s->LastOpenError();
  if (buffer != nullptr && size > 0) {
    const std::size_t n = std::min(why.size(), size - 1);
    why.copy(buffer, n);
    buffer[n] = '\0';
  }
  return static_cast<int>(why.size());
}

MARKWIRE_API int MARKWIRE_CALL OmrGetBarcodeLayout(int* offset, int* length) {
  const OmrInfo* s = App().Session();
  const markwire::BarcodeSpan span = s == nullptr ? markwire::BarcodeSpan{} : markwire::CardBarcodeSpan(*s);
  if (offset != nullptr) *offset = span.offset;
  if (length != nullptr) *length = span.length;
  return OmrInfo::kDone;
}

MARKWIRE_API int MARKWIRE_CALL OmrSetBarcodeMode(int mode) {
  OmrInfo* s = App().Session();
  if (s == nullptr || mode < 0 || mode > 2) return OmrInfo::kFailed;
  s->SetBarcodeMode(static_cast<markwire::barcode::BarcodeMode>(mode));
  return OmrInfo::kDone;
}

MARKWIRE_API void MARKWIRE_CALL OmrSetProgressHandler(OmrProgressHandler handler, void* user) {
  App().Handlers().SetProgressHandler(handler, user);
}

}  // extern "C"
