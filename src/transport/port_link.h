// The seam between the session and the serial line. The session reaches the
// reader only through these operations; CComPort implements them on a real
// serial device, and tests stand an in-memory reader behind them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace markwire {

// Line settings, with the selector values of CSerialPort::Open.
struct LineSettings {
  unsigned baud = 38400;
  int parity = 0;       // 0 even, 1 mark, 2 none, 3 odd, 4 space
  int dataBits = 8;     // 5 to 8
  int stopBits = 0;     // 0 one, 1 one and a half, 2 two
  int flowControl = 0;  // 0 none, 1 CTS/RTS, 2 CTS/DTR, 3 DSR/RTS, 4 DSR/DTR, 5 XON/XOFF
};

// What the reader expects: 38400 baud, even parity, 8 data bits, one stop
// bit, no flow control.
inline constexpr LineSettings kReaderLine{};

class PortLink {
 public:
  virtual ~PortLink() = default;

  // Opens the named device with the given settings, closing whatever was open
  // first. False when the device cannot be opened or configured; LastError()
  // then says why.
  virtual bool Open(const std::string& device, const LineSettings& settings) = 0;

  // True while the port is open and its device has not been lost. A device
  // that hangs up, or fails a read or write with an I/O error, makes this
  // false until the next Open.
  virtual bool IsValid() const = 0;

  // Blocks until every byte has been accepted by the driver (or the device is
  // lost, or the write makes no progress for the stall bound); returns the
  // number of bytes accepted.
  virtual unsigned Write(std::span<const std::uint8_t> data) = 0;

  // Reads up to data.size() bytes. Ends when all have arrived, or early when
  // more than the inter-byte gap passes after a byte (returning the short
  // count). Returns 0 when the time-out expires first; bytes taken from the
  // line by a read that timed out are dropped, as a purge would drop them.
  virtual unsigned Read(std::span<std::uint8_t> data, unsigned timeoutMs) = 0;

  // Discards what has arrived and not been read, and aborts anything pending.
  // Bytes this side has written are complete when Write returns and are not
  // discarded. Returns how many received bytes it threw away (0 when the
  // platform cannot tell), so that the session can see a reply it did not
  // expect.
  virtual std::size_t Purge() = 0;

  // Lets queued output leave (bounded), stops the line-event thread and
  // releases the device. Does nothing when not open.
  virtual void Close() = 0;

  // A one-line reason for the last failed Open, or the loss of the device.
  virtual std::string LastError() const = 0;

  // True when the port's line-event thread could not be started at the
  // last Open (the port works without it).
  virtual bool LineThreadFailed() const { return false; }
};

}  // namespace markwire
