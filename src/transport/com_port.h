// The port wrapper the session talks to the reader through: a CSerialPort for
// the data, read and written on the caller's thread, and a line-event thread
// that watches the line while the port is open.
//
// Threads: the application's thread opens, writes, reads, purges and closes;
// it must make one call at a time. The line-event thread only waits for line
// events; the two share the `lost` flag and the status counters, which are
// atomic, and nothing else.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "transport/port_link.h"
#include "transport/read_com_thread.h"
#include "transport/serial_port.h"

namespace markwire {

class CComPort final : public PortLink {
 public:
  CComPort();
  ~CComPort() override;
  CComPort(const CComPort&) = delete;
  CComPort& operator=(const CComPort&) = delete;

  // PortLink
  bool Open(const std::string& device, const LineSettings& settings) override;
  bool IsValid() const override;
  unsigned Write(std::span<const std::uint8_t> data) override;
  unsigned Read(std::span<std::uint8_t> data, unsigned timeoutMs) override;
  std::size_t Purge() override;
  void Close() override;
  std::string LastError() const override;

  bool IsOpen() const { return serial_ != nullptr; }

  // True when the line-event thread could not be created at the last Open.
  // The port works without it (only hang-ups between calls and the status
  // counters go unseen); Close then leaves "CreateThread failed." in
  // LastError() for the session to show.
  bool ThreadCreateFailed() const { return threadCreateFailed_; }
  bool LineThreadFailed() const override { return threadCreateFailed_; }

  // What the line-event thread has counted since the last Open.
  LineStatus Status() const { return state_.Snapshot(); }

 private:
  void StartLineEventThread();
  void MarkLost(std::string_view cause) const;
  void DrainOutput();

  std::unique_ptr<CSerialPort> serial_;
  std::unique_ptr<CReadComThread> lineEventThread_;
  // Mutable: finding the device gone is an observation, even in IsValid.
  mutable LineState state_;
  std::string device_;
  mutable std::string lastError_;
  bool threadCreateFailed_ = false;
};

}  // namespace markwire
