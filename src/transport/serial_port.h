// One serial device, opened exclusively and configured for the reader's line.
// The port wrapper (CComPort) is its only user; it does the reading and
// writing itself on the descriptor this class hands out.
#pragma once

#include <string>

namespace markwire {

// What the operating system calls an open device: a descriptor on POSIX, a
// HANDLE on Windows. Kept as a plain type so that this header stays free of
// system headers.
#ifdef _WIN32
using NativeHandle = void*;
inline const NativeHandle kInvalidHandle = reinterpret_cast<NativeHandle>(-1);
#else
using NativeHandle = int;
inline constexpr NativeHandle kInvalidHandle = -1;
#endif

class CSerialPort {
 public:
  // Purge actions, with the values of the Win32 PurgeComm flags so that the
  // callers' numbers mean the same on every platform.
  static constexpr unsigned kPurgeTxAbort = 1;
  static constexpr unsigned kPurgeRxAbort = 2;
  static constexpr unsigned kPurgeTxClear = 4;
  static constexpr unsigned kPurgeRxClear = 8;

  CSerialPort() = default;
  ~CSerialPort();
  CSerialPort(const CSerialPort&) = delete;
  CSerialPort& operator=(const CSerialPort&) = delete;

  // Opens `device` for non-blocking use and sets the line. Selectors:
  //   parity       0 even, 1 mark, 2 none, 3 odd, 4 space
  //   dataBits     5 to 8
  //   stopBits     0 one, 1 one and a half (5 data bits only), 2 two
  //   flowControl  0 none, 1 CTS/RTS, 2 CTS/DTR, 3 DSR/RTS, 4 DSR/DTR, 5 XON/XOFF
  // A parity, stop-bit or flow-control selector outside its row leaves that
  // setting as the driver had it.
  // Returns false when the device cannot be opened (missing, no permission,
  // in use; OpenError() says which). Throws CSerialException when it opened
  // but cannot be configured; the device then stays open until Close().
  // An open port is closed first.
  bool Open(const std::string& device, unsigned baud, int parity, int dataBits, int stopBits,
            int flowControl);

  void Close();

  bool IsOpen() const { return handle_ != kInvalidHandle; }
  NativeHandle Handle() const { return handle_; }
  const std::string& Device() const { return device_; }
  unsigned Baud() const { return baud_; }

  // The system error of the last Open that returned false (0 after a
  // successful one).
  unsigned OpenError() const { return openError_; }

  // Any combination of the kPurge* actions. There are no pending transfers
  // to abort in this design (reads and writes complete before they return),
  // so the abort actions alone change nothing; the clear actions discard what
  // the driver holds in that direction.
  void Purge(unsigned actions);

  // Bytes written but not yet sent by the driver; 0 when it cannot say.
  unsigned QueuedOutput() const;
  // Bytes received and not yet read; 0 when the driver cannot say.
  unsigned QueuedInput() const;

 private:
  NativeHandle handle_ = kInvalidHandle;
  std::string device_;
  unsigned baud_ = 0;
  unsigned openError_ = 0;
};

}  // namespace markwire
