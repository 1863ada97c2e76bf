// The line-event thread on Win32: waits for carrier, error and ring events
// (an overlapped WaitCommEvent) and for the stop event, and counts what it
// sees. It never reads or writes data.
//
// Unloading: a thread that is still waiting in WaitCommEvent cannot end while
// the loader lock is held, so a DLL that stopped it from its unload
// destructor would wait for ever inside FreeLibrary. The thread therefore
// holds a reference to the module its code lives in and drops it as it ends
// (FreeLibraryAndExitThread): while a port is open the module cannot be
// unloaded, an application's FreeLibrary returns at once, and the unload
// destructor only ever runs when no line-event thread is left (or at process
// exit, when the system has ended every other thread already). A port left
// open at FreeLibrary stays open, with its reader on line, until the process
// ends; close readers before unloading to have them said "Q/" to at once.
#include <windows.h>

#include <system_error>

#include "transport/read_com_thread.h"

namespace markwire {

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

struct CReadComThread::Worker {
  CReadComThread* owner = nullptr;
  // Manual reset: once set, every wait on it returns.
  HANDLE stop = nullptr;
  HANDLE thread = nullptr;
  // The module this code lives in, referenced for as long as the thread runs.
  HMODULE module = nullptr;

  Worker() : stop(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    if (stop == nullptr) Fail("CreateEvent");
  }
  ~Worker() {
    if (thread != nullptr) ::CloseHandle(thread);
    ::CloseHandle(stop);
  }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  [[noreturn]] static void Fail(const char* what) {
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), what);
  }

  static DWORD WINAPI Main(void* param) {
    auto* worker = static_cast<Worker*>(param);
    const HMODULE module = worker->module;
    worker->owner->Run(*worker);
    // Never returns: the reference goes with the thread, after its last
    // instruction in this module.
    ::FreeLibraryAndExitThread(module, 0);
  }
};

CReadComThread::CReadComThread(NativeHandle port, LineState& state) : port_(port), state_(state) {}

CReadComThread::~CReadComThread() { Stop(); }

void CReadComThread::Start() {
  if (worker_ != nullptr) return;
  auto worker = std::make_unique<Worker>();
  worker->owner = this;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&Worker::Main), &worker->module))
    Worker::Fail("GetModuleHandleEx");
  worker->thread = ::CreateThread(nullptr, 0, &Worker::Main, worker.get(), 0, nullptr);
  if (worker->thread == nullptr) {
    const DWORD error = ::GetLastError();
    ::FreeLibrary(worker->module);
    ::SetLastError(error);
    Worker::Fail("CreateThread");
  }
  worker_ = std::move(worker);
}

void CReadComThread::Stop() {
  if (worker_ == nullptr) return;
  ::SetEvent(worker_->stop);
  // Clearing the mask completes a pending WaitCommEvent, on Windows and on
  // Wine alike, so the thread sees the stop event at once.
  ::SetCommMask(static_cast<HANDLE>(port_), 0);
  // Never inside the loader lock: the thread's module reference keeps the
  // unload destructor from running while it lives (see the top of the file).
  ::WaitForSingleObject(worker_->thread, INFINITE);
  worker_.reset();
}

void CReadComThread::Run(const Worker& worker) {
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
        if (::WaitForSingleObject(worker.stop, 0) == WAIT_OBJECT_0) break;
        continue;
      }
      if (::GetLastError() != ERROR_IO_PENDING) break;
      const HANDLE handles[2] = {worker.stop, lineEvent};
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
