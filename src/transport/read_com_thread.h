// The line-event thread: while a port is open it watches the line for a
// hang-up and, where the driver keeps them, for carrier, ring and error
// events. It never reads or writes the data stream; the application's thread
// does that through CComPort.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "transport/serial_port.h"

namespace markwire {

// What the line-event thread has seen since the port was opened.
struct LineStatus {
  std::uint32_t carrierChanges = 0;
  std::uint32_t rings = 0;
  std::uint32_t frameErrors = 0;
  std::uint32_t parityErrors = 0;
  std::uint32_t overrunErrors = 0;
  std::uint32_t breaks = 0;
  bool hangUp = false;
};

// Shared by the application's thread and the line-event thread; neither
// takes a lock, so every field is atomic.
struct LineState {
  // The device is gone: set by whichever thread notices first, cleared only
  // by the next Open.
  std::atomic<bool> lost{false};
  std::atomic<std::uint32_t> carrierChanges{0};
  std::atomic<std::uint32_t> rings{0};
  std::atomic<std::uint32_t> frameErrors{0};
  std::atomic<std::uint32_t> parityErrors{0};
  std::atomic<std::uint32_t> overrunErrors{0};
  std::atomic<std::uint32_t> breaks{0};
  std::atomic<bool> hangUp{false};

  LineStatus Snapshot() const;
  void Reset();
};

class CReadComThread {
 public:
  // `port` and `state` must outlive the thread; the owner stops it (Stop or
  // the destructor) before closing the port.
  CReadComThread(NativeHandle port, LineState& state);
  ~CReadComThread();
  CReadComThread(const CReadComThread&) = delete;
  CReadComThread& operator=(const CReadComThread&) = delete;

  // Starts the thread. Throws std::system_error when the system cannot
  // create it (or its stop signal).
  void Start();

  // Signals the thread and waits for it to end. Returns at once when it was
  // never started or has already been stopped.
  void Stop();

  bool Running() const { return worker_ != nullptr; }

 private:
  // The thread and its stop signal, private to each platform.
  struct Worker;

  void Run(const Worker& worker);

  NativeHandle port_;
  LineState& state_;
  std::unique_ptr<Worker> worker_;
};

}  // namespace markwire
