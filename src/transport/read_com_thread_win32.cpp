// The line-event thread on Win32: waits for carrier, error and ring events
// (an overlapped WaitCommEvent) and for the stop event, and counts what it
// sees. It never reads or writes data.
#include <windows.h>

#include <system_error>

#include "transport/read_com_thread.h"

namespace markwire {

// A manual-reset event: once set, every wait on it returns.
struct CReadComThread::StopSignal {
  HANDLE event = nullptr;
  StopSignal() : event(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    if (event == nullptr)
      throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                              "CreateEvent");
  }
  ~StopSignal() { ::CloseHandle(event); }
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;
};

namespace {

// Carrier changes, line-status errors and ring: no data events.
constexpr DWORD kLineEvents = EV_RLSD | EV_ERR | EV_RING;

void Count(HANDLE port, DWORD mask, LineState& state) {
  if (mask & EV_RLSD) ++state.carrierChanges;
  if (mask & EV_RING) ++state.rings;
  if (mask & EV_ERR) {
    DWORD errors = 0;
    COMSTAT status{};
    if (::ClearCommError(port, &errors, &status)) {
      if (errors & CE_FRAME) ++state.frameErrors;
      if (errors & CE_RXPARITY) ++state.parityErrors;
      if (errors & (CE_OVERRUN | CE_RXOVER)) ++state.overrunErrors;
      if (errors & CE_BREAK) ++state.breaks;
    }
  }
}

}  // namespace

CReadComThread::CReadComThread(NativeHandle port, LineState& state) : port_(port), state_(state) {}

CReadComThread::~CReadComThread() { Stop(); }

void CReadComThread::Start() {
  if (thread_.joinable()) return;
  stop_ = std::make_unique<StopSignal>();
  thread_ = std::thread([this] { Run(); });
}

void CReadComThread::Stop() {
  if (!thread_.joinable()) return;
  ::SetEvent(stop_->event);
  // Clearing the mask completes a pending WaitCommEvent, on Windows and on
  // Wine alike, so the thread sees the stop event at once.
  ::SetCommMask(static_cast<HANDLE>(port_), 0);
  thread_.join();
  stop_.reset();
}

void CReadComThread::Run() {
  const auto port = static_cast<HANDLE>(port_);
  HANDLE lineEvent = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (lineEvent == nullptr) return;
  // A port without modem lines (a pseudo-terminal under Wine) refuses the
  // wait at once; the thread then simply ends, and data transfers go on.
  if (::SetCommMask(port, kLineEvents)) {
    for (;;) {
      OVERLAPPED wait{};
      wait.hEvent = lineEvent;
      DWORD mask = 0;
      if (::WaitCommEvent(port, &mask, &wait)) {
        Count(port, mask, state_);
        if (::WaitForSingleObject(stop_->event, 0) == WAIT_OBJECT_0) break;
        continue;
      }
      if (::GetLastError() != ERROR_IO_PENDING) break;
      const HANDLE handles[2] = {stop_->event, lineEvent};
      const DWORD which = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
      DWORD ignored = 0;
      if (which != WAIT_OBJECT_0 + 1) {
        ::CancelIo(port);
        ::GetOverlappedResult(port, &wait, &ignored, TRUE);
        break;
      }
      if (!::GetOverlappedResult(port, &wait, &ignored, FALSE)) break;
      Count(port, mask, state_);
    }
  }
  ::CloseHandle(lineEvent);
}

}  // namespace markwire
