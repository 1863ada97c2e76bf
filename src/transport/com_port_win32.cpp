// The port wrapper on Win32: overlapped reads and writes on the caller's
// thread, each waited for with the caller's time-out; the driver ends a read
// early when 100 ms pass between two bytes.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/timings.h"
#include "transport/com_port.h"
#include "transport/serial_exception.h"

namespace markwire {
namespace {

// One overlapped transfer's event, released with it.
class TransferEvent {
 public:
  TransferEvent() : event_(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~TransferEvent() {
    if (event_ != nullptr) ::CloseHandle(event_);
  }
  TransferEvent(const TransferEvent&) = delete;
  TransferEvent& operator=(const TransferEvent&) = delete;
  HANDLE Get() const { return event_; }

 private:
  HANDLE event_;
};

// Errors that mean the device itself is gone (a USB adapter unplugged).
bool DeviceGone(DWORD error) {
  return error == ERROR_BAD_COMMAND || error == ERROR_DEVICE_REMOVED ||
         error == ERROR_GEN_FAILURE || error == ERROR_ACCESS_DENIED ||
         error == ERROR_INVALID_HANDLE || error == ERROR_FILE_NOT_FOUND;
}

std::string SystemText(DWORD error) { return CSerialException(static_cast<unsigned>(error)).what(); }

}  // namespace

bool CComPort::Open(const std::string& device, const LineSettings& settings) {
  Close();
  lastError_.clear();
  threadCreateFailed_ = false;
  state_.Reset();
  device_ = device;

  auto serial = std::make_unique<CSerialPort>();
  try {
    if (!serial->Open(device, settings.baud, settings.parity, settings.dataBits, settings.stopBits,
                      settings.flowControl)) {
      lastError_ = device + ": " + SystemText(serial->OpenError());
      return false;
    }
    const auto h = static_cast<HANDLE>(serial->Handle());
    if (!::SetupComm(h, 4096, 4096)) ThrowSerialException(0, "cannot size the queues");
    serial->Purge(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    // A read ends when more than the gap passes between two bytes; there is
    // no total time-out of the driver's own: the caller's wait is the limit.
    COMMTIMEOUTS timeouts{};
    if (!::GetCommTimeouts(h, &timeouts)) ThrowSerialException(0, "cannot read the time-outs");
    timeouts.ReadIntervalTimeout = kTimings.interByteGapMs;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    if (!::SetCommTimeouts(h, &timeouts)) ThrowSerialException(0, "cannot set the time-outs");
  } catch (const CSerialException& e) {
    serial->Close();
    lastError_ = device + ": " + e.what();
    return false;
  }
  serial_ = std::move(serial);

  StartLineEventThread();
  return true;
}

bool CComPort::IsValid() const { return serial_ != nullptr && !state_.lost; }

unsigned CComPort::Write(std::span<const std::uint8_t> data) {
  if (data.empty() || !IsValid()) return 0;
  const auto h = static_cast<HANDLE>(serial_->Handle());
  TransferEvent event;
  OVERLAPPED ov{};
  ov.hEvent = event.Get();
  DWORD written = 0;
  if (::WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, &ov)) return written;
  const DWORD error = ::GetLastError();
  if (error != ERROR_IO_PENDING) {
    if (DeviceGone(error)) MarkLost(SystemText(error));
    return 0;
  }
  // A line held for ever by flow control must not hang the caller.
  if (::WaitForSingleObject(event.Get(), kTimings.writeStallMs) != WAIT_OBJECT_0) ::CancelIo(h);
  if (!::GetOverlappedResult(h, &ov, &written, TRUE) && DeviceGone(::GetLastError()))
    MarkLost(SystemText(::GetLastError()));
  return written;
}

unsigned CComPort::Read(std::span<std::uint8_t> data, unsigned timeoutMs) {
  if (data.empty() || !IsValid()) return 0;
  const auto h = static_cast<HANDLE>(serial_->Handle());
  TransferEvent event;
  OVERLAPPED ov{};
  ov.hEvent = event.Get();
  DWORD got = 0;
  if (::ReadFile(h, data.data(), static_cast<DWORD>(data.size()), &got, &ov)) return got;
  const DWORD error = ::GetLastError();
  if (error != ERROR_IO_PENDING) {
    if (DeviceGone(error)) MarkLost(SystemText(error));
    return 0;
  }
  if (::WaitForSingleObject(event.Get(), timeoutMs) == WAIT_OBJECT_0) {
    if (::GetOverlappedResult(h, &ov, &got, FALSE)) return got;
    if (DeviceGone(::GetLastError())) MarkLost(SystemText(::GetLastError()));
    return 0;
  }
  // The caller's time-out: abort the read. Wine does not abort a pending
  // read on the purge alone, hence the CancelIo. What the read took is
  // dropped, as the purge that follows a time-out would drop it.
  serial_->Purge(PURGE_RXABORT);
  ::CancelIo(h);
  ::GetOverlappedResult(h, &ov, &got, TRUE);
  return 0;
}

std::size_t CComPort::Purge() {
  if (serial_ == nullptr) return 0;
  const std::size_t dropped = serial_->QueuedInput();
  // Never the output side: a write is complete when Write returns.
  serial_->Purge(PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT);
  return dropped;
}

void CComPort::DrainOutput() {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimings.closeDrainMaxMs);
  while (serial_->QueuedOutput() > 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (serial_->QueuedOutput() > 0) serial_->Purge(PURGE_TXABORT | PURGE_TXCLEAR);
}

}  // namespace markwire
