// Reader handles: a session of its own per reader, each behind its own
// lock, looked up in a registry so that a handle that is closed, or was
// never opened, is refused rather than followed.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "api/app.h"
#include "commands/card_barcode.h"
#include "commands/card_reading.h"
#include "commands/diagnostics.h"
#include "commands/families.h"
#include "commands/format_download.h"
#include "commands/program_download.h"
#include "markwire.h"
#include "transport/com_port.h"
#include "transport/tracing_link.h"

namespace {

using markwire::OmrInfo;

struct Reader {
  std::mutex call;  // one call at a time on this reader
  bool closed = false;
  markwire::HandlerNotifier handlers{false};
  std::unique_ptr<OmrInfo> session;
  std::string device;  // as the registry compares it
};

// Handles are numbers, never addresses, and never used twice: a handle
// closed long ago cannot name a reader opened since.
std::mutex registryLock;
std::uint64_t lastHandle = 0;

std::map<std::uint64_t, std::shared_ptr<Reader>>& Registry() {
  static std::map<std::uint64_t, std::shared_ptr<Reader>> readers;
  return readers;
}

std::uint64_t Key(const mw_reader* handle) {
  return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(handle));
}

// The device as two opens of it compare equal.
std::string SameDevice(const std::string& device) {
  std::error_code error;
  const auto canonical = std::filesystem::weakly_canonical(device, error);
  return error ? device : canonical.string();
}

// A reader found in the registry and locked for one call; empty when the
// handle is unknown or the reader was closed while this call waited.
class Held {
 public:
  explicit Held(const mw_reader* handle) {
    {
      const std::lock_guard<std::mutex> lock(registryLock);
      const auto found = Registry().find(Key(handle));
      if (found == Registry().end()) return;
      reader_ = found->second;
    }
    lock_ = std::unique_lock<std::mutex>(reader_->call);
    if (reader_->closed) reader_.reset();
  }
  explicit operator bool() const { return reader_ != nullptr; }
  OmrInfo& session() const { return *reader_->session; }
  Reader& reader() const { return *reader_; }

 private:
  std::shared_ptr<Reader> reader_;
  std::unique_lock<std::mutex> lock_;
};

void CopyText(const std::string& text, char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return;
  const std::size_t n = std::min(text.size(), size - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

// One block as OmrG or ReadOneCard would write it into an empty text, then
// copied: room for the block, the longest barcode in front, and the NUL.
constexpr std::size_t kScratch = OmrInfo::kReceiveBufferSize + 2 * 128;
static_assert(MW_BLOCK_SIZE >= OmrInfo::kReceiveBufferSize + 123,
              "MW_BLOCK_SIZE holds a block with the longest barcode");

template <typename Step>
int IntoBuffer(char* buffer, std::size_t size, Step step) {
  if (buffer == nullptr || size < MW_BLOCK_SIZE) return MW_SMALL_BUFFER;
  std::vector<char> scratch(kScratch, '\0');
  const int result = step(scratch.data());
  const std::size_t used = std::min(std::strlen(scratch.data()), size - 1);
  std::memcpy(buffer, scratch.data(), used);
  buffer[used] = '\0';
  return result;
}

template <typename Step>
int IntoValues(int* values, std::size_t count, Step step) {
  std::vector<int> all(OmrInfo::kReceiveBufferSize + 8, 0);
  const int n = step(all.data());
  if (values != nullptr)
    for (std::size_t i = 0; i < count && i < all.size() && static_cast<int>(i) < n; ++i)
      values[i] = all[i];
  return n;
}

}  // namespace

extern "C" {

MARKWIRE_API const char* MARKWIRE_CALL mw_version(void) {
  return "1.2.0";
}

MARKWIRE_API mw_reader* MARKWIRE_CALL mw_open(const char* device, char* why, size_t why_size) {
  if (device == nullptr || *device == '\0') {
    CopyText("no device named", why, why_size);
    return nullptr;
  }
  auto reader = std::make_shared<Reader>();
  reader->device = SameDevice(device);
  {
    const std::lock_guard<std::mutex> lock(registryLock);
    for (const auto& [key, other] : Registry())
      if (other->device == reader->device) {
        CopyText(std::string(device) + " is already open on another reader handle", why,
                 why_size);
        return nullptr;
      }
  }
  auto link = std::make_unique<markwire::TracingLink>(std::make_unique<markwire::CComPort>(),
                                                      reader->handlers, markwire::RealClock());
  reader->session =
      std::make_unique<OmrInfo>(std::move(link), markwire::RealClock(), reader->handlers,
                                markwire::Families());
  if (reader->session->Open(device) != OmrInfo::kDone) {
    const std::string reason = reader->session->LastOpenError();
    CopyText(reason.empty() ? std::string("no reader answered on ") + device : reason, why,
             why_size);
    reader->session->Close();
    return nullptr;
  }
  const std::lock_guard<std::mutex> lock(registryLock);
  for (const auto& [key, other] : Registry())
    if (other->device == reader->device) {  // opened meanwhile by another thread
      CopyText(std::string(device) + " is already open on another reader handle", why, why_size);
      reader->session->SendCommand("Q/");
      reader->session->Close();
      return nullptr;
    }
  const std::uint64_t handle = ++lastHandle;
  Registry().emplace(handle, std::move(reader));
  CopyText("", why, why_size);
  return reinterpret_cast<mw_reader*>(static_cast<std::uintptr_t>(handle));
}

MARKWIRE_API void MARKWIRE_CALL mw_close(mw_reader* handle) {
  std::shared_ptr<Reader> reader;
  {
    const std::lock_guard<std::mutex> lock(registryLock);
    const auto found = Registry().find(Key(handle));
    if (found == Registry().end()) return;
    reader = std::move(found->second);
    Registry().erase(found);
  }
  // After the call running on it, if any; calls still waiting find it closed.
  const std::lock_guard<std::mutex> lock(reader->call);
  reader->closed = true;
  if (reader->session->IsOpen()) reader->session->SendCommand("Q/");
  reader->session->Close();
  reader->handlers.SetMessageHandler(nullptr, nullptr);
  reader->handlers.SetTraceHandler(nullptr, nullptr);
  reader->handlers.SetProgressHandler(nullptr, nullptr);
}

MARKWIRE_API int MARKWIRE_CALL mw_send(mw_reader* handle, const char* command) {
  const Held held(handle);
  if (!held) return MW_UNKNOWN_READER;
  return held.session().IsOpen() ? held.session().SendCommand(command) : OmrInfo::kNotOpen;
}

MARKWIRE_API int MARKWIRE_CALL mw_receive(mw_reader* handle, char* buffer, size_t size) {
  const Held held(handle);
  if (!held) return MW_UNKNOWN_READER;
  if (!held.session().IsOpen()) return OmrInfo::kNotOpen;
  return IntoBuffer(buffer, size, [&](char* b) { return held.session().ReceiveBlock(b); });
}

MARKWIRE_API int MARKWIRE_CALL mw_read_card(mw_reader* handle, int option, int limit, char* data,
                                            size_t size) {
  const Held held(handle);
  if (!held) return MW_UNKNOWN_READER;
  return IntoBuffer(data, size,
                    [&](char* b) { return markwire::ReadCard(held.session(), option, limit, b); });
}

MARKWIRE_API int MARKWIRE_CALL mw_pass_card(mw_reader* handle, int line, int column, char* data,
                                            size_t size) {
  const Held held(handle);
  if (!held) return MW_UNKNOWN_READER;
  return IntoBuffer(data, size,
                    [&](char* b) { return markwire::PassCardAt(held.session(), line, column, b); });
}

MARKWIRE_API int MARKWIRE_CALL mw_error(mw_reader* handle, char code[3]) {
  const Held held(handle);
  if (!held) return MW_UNKNOWN_READER;
  if (code != nullptr) held.session().Error().CopyCode(code);
  return OmrInfo::kDone;
}

MARKWIRE_API int MARKWIRE_CALL mw_error_text(mw_reader* handle, char* text, size_t size) {
  const Held held(handle);
  if (!held) return MW_UNKNOWN_READER;
  char whole[64] = "";
  held.session().Error().CopyText(whole);
  CopyText(whole, text, size);
  return OmrInfo::kDone;
}

MARKWIRE_API int MARKWIRE_CALL mw_download_format(mw_reader* handle, const char* path) {
  const Held held(handle);
  if (!held) return MW_UNKNOWN_READER;
  if (!held.session().IsOpen()) return OmrInfo::kNotOpen;
  if (path == nullptr) return held.session().Refuse();
  return markwire::SendFormatFile(held.session(), path);
}

MARKWIRE_API int MARKWIRE_CALL mw_download_format_text(mw_reader* handle, const char* text) {
  const Held held(handle);
  if (!held) return MW_UNKNOWN_READER;
  if (!held.session().IsOpen()) return OmrInfo::kNotOpen;
  if (text == nullptr) return held.session().Refuse();
  return markwire::SendFormatText(held.session(), text);
}

MARKWIRE_API int MARKWIRE_CALL mw_download_program(mw_reader* handle, const char* path) {
  const Held held(handle);
  if (!held) return MW_UNKNOWN_READER;
  if (!held.session().IsOpen()) return OmrInfo::kNotOpen;
  if (path == nullptr) return held.session().Refuse();
  return markwire::SendProgramFile(held.session(), path);
}

MARKWIRE_API int MARKWIRE_CALL mw_set_test(mw_reader* handle, int line, int column) {
  const Held held(handle);
  if (!held) return MW_UNKNOWN_READER;
  if (!held.session().IsOpen()) return OmrInfo::kNotOpen;
  return markwire::SetTestPoint(held.session(), line, column);
}

MARKWIRE_API int MARKWIRE_CALL mw_sync(mw_reader* handle) {
  const Held held(handle);
  if (!held) return MW_UNKNOWN_READER;
  return held.session().SyncCount();
}

MARKWIRE_API int MARKWIRE_CALL mw_barcode_layout(mw_reader* handle, int* offset, int* length) {
  const Held held(handle);
  if (!held) return MW_UNKNOWN_READER;
  const markwire::BarcodeSpan span = markwire::CardBarcodeSpan(held.session());
  if (offset != nullptr) *offset = span.offset;
  if (length != nullptr) *length = span.length;
  return OmrInfo::kDone;
}

MARKWIRE_API int MARKWIRE_CALL mw_get_values(mw_reader* handle, int selector, int* values,
                                             size_t count) {
  const Held held(handle);
  if (!held) return MW_UNKNOWN_READER;
  return IntoValues(values, count, [&](int* all) {
    return markwire::CopyValueHalves(held.session(), selector, all);
  });
}

MARKWIRE_API int MARKWIRE_CALL mw_get_block(mw_reader* handle, int selector, int* values,
                                            size_t count) {
  const Held held(handle);
  if (!held) return MW_UNKNOWN_READER;
  return IntoValues(values, count,
                    [&](int* all) { return markwire::CopyBlock(held.session(), selector, all); });
}

MARKWIRE_API int MARKWIRE_CALL mw_get_curve(mw_reader* handle, int* values, size_t count) {
  const Held held(handle);
  if (!held) return MW_UNKNOWN_READER;
  return IntoValues(values, count,
                    [&](int* all) { return markwire::CopyBlock(held.session(), 'A', all); });
}

MARKWIRE_API int MARKWIRE_CALL mw_adjust_gray(mw_reader* handle, int first, int second) {
  const Held held(handle);
  return held ? markwire::AdjustGray(held.session(), first, second) : MW_UNKNOWN_READER;
}

MARKWIRE_API int MARKWIRE_CALL mw_adjust_card(mw_reader* handle, int first, int second) {
  const Held held(handle);
  return held ? markwire::AdjustCard(held.session(), first, second) : MW_UNKNOWN_READER;
}

MARKWIRE_API int MARKWIRE_CALL mw_adjust_motor(mw_reader* handle, int value) {
  const Held held(handle);
  return held ? markwire::AdjustMotor(held.session(), value) : MW_UNKNOWN_READER;
}

MARKWIRE_API int MARKWIRE_CALL mw_adjust_fore(mw_reader* handle, int value) {
  const Held held(handle);
  return held ? markwire::AdjustFore(held.session(), value) : MW_UNKNOWN_READER;
}

MARKWIRE_API int MARKWIRE_CALL mw_adjust_behind(mw_reader* handle, int value) {
  const Held held(handle);
  return held ? markwire::AdjustBehind(held.session(), value) : MW_UNKNOWN_READER;
}

MARKWIRE_API int MARKWIRE_CALL mw_barcode_mode(mw_reader* handle, int mode) {
  const Held held(handle);
  if (!held) return MW_UNKNOWN_READER;
  if (mode < 0 || mode > 2) return OmrInfo::kFailed;
  held.session().SetBarcodeMode(static_cast<markwire::barcode::BarcodeMode>(mode));
  return OmrInfo::kDone;
}

MARKWIRE_API int MARKWIRE_CALL mw_set_message_handler(mw_reader* handle, OmrMessageHandler handler,
                                                      void* user) {
  const Held held(handle);
  if (!held) return MW_UNKNOWN_READER;
  held.reader().handlers.SetMessageHandler(handler, user);
  return OmrInfo::kDone;
}

MARKWIRE_API int MARKWIRE_CALL mw_set_trace_handler(mw_reader* handle, OmrTraceHandler handler,
                                                    void* user) {
  const Held held(handle);
  if (!held) return MW_UNKNOWN_READER;
  held.reader().handlers.SetTraceHandler(handler, user);
  return OmrInfo::kDone;
}

MARKWIRE_API int MARKWIRE_CALL mw_set_progress_handler(mw_reader* handle,
                                                       OmrProgressHandler handler, void* user) {
  const Held held(handle);
  if (!held) return MW_UNKNOWN_READER;
  held.reader().handlers.SetProgressHandler(handler, user);
  return OmrInfo::kDone;
}

}  // extern "C"
