#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

#include "platform/timings.h"
#include "transport/com_port.h"
#include "transport/poll_posix.h"
#include "transport/serial_exception.h"

namespace markwire {

namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string SystemText(int error) {
  return std::system_category().message(error);
}

constexpr short kLostEvents = POLLHUP | POLLERR | POLLNVAL;

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
      lastError_ = device + ": " + SystemText(static_cast<int>(serial->OpenError()));
      return false;
    }
  } catch (const CSerialException& e) {
    serial->Close();
    lastError_ = device + ": " + e.what();
    return false;
  }
  // Whatever the device received before we owned it is not an answer to us.
  serial->Purge(CSerialPort::kPurgeRxAbort | CSerialPort::kPurgeRxClear);
  serial_ = std::move(serial);

  StartLineEventThread();
  return true;
}

bool CComPort::IsValid() const {
  if (serial_ == nullptr || state_.lost) return false;
  // The line-event thread sees a hang-up soon, but not at once; a caller that
  // asks right after the device went (to decide whether to hand-shake again)
  // must not be told it is still there.
  pollfd p{serial_->Handle(), 0, 0};
  if (::poll(&p, 1, 0) > 0 && (p.revents & kLostEvents) != 0) MarkLost("hang-up");
  return !state_.lost;
}

unsigned CComPort::Write(std::span<const std::uint8_t> data) {
  if (data.empty() || !IsValid()) return 0;
  const int fd = serial_->Handle();
  std::size_t sent = 0;
  auto lastProgress = SteadyClock::now();
  while (sent < data.size()) {
    const ssize_t n = ::write(fd, data.data() + sent, data.size() - sent);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      lastProgress = SteadyClock::now();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      MarkLost(SystemText(errno));
      break;
    }
    // The driver's buffer is full, or flow control holds the line. A line
    // held for ever must not hang the caller: give up after the stall bound.
    const auto remaining = lastProgress + milliseconds(kTimings.writeStallMs) - SteadyClock::now();
    if (remaining <= SteadyClock::duration::zero()) break;
    pollfd p{fd, POLLOUT, 0};
    const int ready = posix::PollFor(&p, 1, remaining);
    if (ready < 0 && errno != EINTR) {
      MarkLost(SystemText(errno));
      break;
    }
    if (ready > 0 && (p.revents & POLLOUT) == 0 && (p.revents & kLostEvents) != 0) {
      MarkLost("hang-up");
      break;
    }
  }
  return static_cast<unsigned>(sent);
}

unsigned CComPort::Read(std::span<std::uint8_t> data, unsigned timeoutMs) {
  if (data.empty() || !IsValid()) return 0;
  const int fd = serial_->Handle();
  const auto deadline = SteadyClock::now() + milliseconds(timeoutMs);
  const auto gap = milliseconds(kTimings.interByteGapMs);
  std::size_t got = 0;
  SteadyClock::time_point lastByte{};
  // The first read goes ahead without waiting: the answer may be there
  // already. Later ones follow poll's word that there is something to read.
  bool tryRead = true;
  bool announced = false;
  for (;;) {
    if (tryRead) {
      const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
      if (n > 0) {
        got += static_cast<std::size_t>(n);
        lastByte = SteadyClock::now();
        if (got == data.size()) return static_cast<unsigned>(got);
        announced = false;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        MarkLost(SystemText(errno));
        return static_cast<unsigned>(got);
      }
      // With VMIN and VTIME at 0 an empty line may read as 0 bytes, but not
      // after poll announced data: that is end of file, a hung-up device.
      if (n == 0 && announced) {
        MarkLost("hang-up");
        return static_cast<unsigned>(got);
      }
    }

    const auto now = SteadyClock::now();
    auto waitUntil = deadline;
    if (got > 0) {
      const auto gapEnd = lastByte + gap;
      // A gap that ended before the deadline ends the read with what came,
      // even when this thread wakes after both.
      if (now >= gapEnd && gapEnd <= deadline) return static_cast<unsigned>(got);
      waitUntil = std::min(deadline, gapEnd);
    }
    // The caller's time-out came first. What this read took is dropped, as
    // the purge that follows a time-out would drop it.
    if (now >= deadline) return 0;

    pollfd p{fd, POLLIN, 0};
    const int ready = posix::PollFor(&p, 1, waitUntil - now);
    tryRead = announced = false;
    if (ready < 0) {
      if (errno == EINTR) continue;
      MarkLost(SystemText(errno));
      return static_cast<unsigned>(got);
    }
    if (ready == 0) continue;
    if ((p.revents & POLLIN) != 0) {
      tryRead = announced = true;
    } else if ((p.revents & kLostEvents) != 0) {
      MarkLost("hang-up");
      return static_cast<unsigned>(got);
    }
  }
}

std::size_t CComPort::Purge() {
  if (serial_ == nullptr) return 0;
  const std::size_t dropped = serial_->QueuedInput();
  // Never the output side: a write is complete when Write returns, and on a
  // pty flushing output discards what the other end has not read yet (the
  // hand-shake purges right after writing "Q/").
  serial_->Purge(CSerialPort::kPurgeRxAbort | CSerialPort::kPurgeRxClear |
                 CSerialPort::kPurgeTxAbort);
  return dropped;
}

void CComPort::DrainOutput() {
  const auto deadline = SteadyClock::now() + milliseconds(kTimings.closeDrainMaxMs);
  // Eleven bit times per character (start, eight data, parity, stop) is
  // what the queue needs at most to leave at line rate; waking no more often
  // than that keeps the wait from spinning.
  const unsigned baud = std::max(serial_->Baud(), 1u);
  for (;;) {
    const unsigned queued = serial_->QueuedOutput();
    if (queued == 0) return;
    const auto now = SteadyClock::now();
    if (now >= deadline) break;
    const auto lineTime = std::chrono::microseconds(static_cast<std::int64_t>(queued) * 11 *
                                                    1'000'000 / static_cast<std::int64_t>(baud));
    std::this_thread::sleep_for(
        std::clamp<SteadyClock::duration>(lineTime, milliseconds(1), deadline - now));
  }
  // What is still queued is held by flow control or a wedged driver. Drop it,
  // or closing the descriptor would wait for it (up to 30 s in serial drivers).
  serial_->Purge(CSerialPort::kPurgeTxAbort | CSerialPort::kPurgeTxClear);
}

}  // namespace markwire
