#include "pty_host.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/timings.h"

namespace markwire::sim {

namespace {

constexpr std::size_t kChunk = 4096;
constexpr std::int64_t kHangUpSettleUs = 5'000;
constexpr std::int64_t kHangUpTickUs = 2'000;

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// The line the library expects: raw, 38400 baud, 8 data bits, even parity.
// Set on the host's own slave descriptor before anyone else opens the
// device, so that not a byte is cooked or echoed by the terminal itself.
// Linux keeps no parity on a pseudo-terminal and clears PARENB; asking for
// it costs nothing and is right wherever it is kept.
bool MakeRaw(int fd) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return false;
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD | PARENB | CS8;
  tio.c_cflag &= ~static_cast<tcflag_t>(PARODD | CSTOPB | CRTSCTS);
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  ::cfsetispeed(&tio, B38400);
  ::cfsetospeed(&tio, B38400);
  return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

}  // namespace

PtyHost::PtyHost(Peer& peer) : peer_(peer) {}

PtyHost::~PtyHost() {
  Stop();
}

std::int64_t PtyHost::NowUs() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void PtyHost::Fail(const std::string& what, int error) {
  std::lock_guard lock(mutex_);
  lastError_ = what + ": " + std::strerror(error);
}

std::string PtyHost::LastError() const {
  std::lock_guard lock(mutex_);
  return lastError_;
}

bool PtyHost::Start() {
  if (running_.load()) {
    std::lock_guard lock(mutex_);
    lastError_ = "the simulated reader is already running on " + devicePath_;
    return false;
  }
  Stop();  // a host that hung up still has a thread to join
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) {
    Fail("cannot open a pseudo-terminal", errno);
    return false;
  }
  std::array<char, 128> name{};
  if (::fcntl(master_, F_SETFD, FD_CLOEXEC) != 0 ||
      ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK) != 0 ||
      ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
      ::ptsname_r(master_, name.data(), name.size()) != 0) {
    Fail("cannot set up the pseudo-terminal", errno);
    CloseTerminal();
    return false;
  }
  devicePath_ = name.data();
  slave_ = ::open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0 || !MakeRaw(slave_)) {
    Fail("cannot open " + devicePath_, errno);
    CloseTerminal();
    return false;
  }
  // A process that leads its own session takes the terminal as its
  // controlling terminal, so that no other program that opens the device
  // (Wine's server does) takes it and is hung up when this host goes away.
  if (::getsid(0) == ::getpid()) (void)::ioctl(slave_, TIOCSCTTY, 0);
  std::array<int, 2> wake{};
  if (::pipe2(wake.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
    Fail("cannot make the stop pipe", errno);
    CloseTerminal();
    return false;
  }
  wakeRead_ = wake[0];
  wakeWrite_ = wake[1];
  outgoing_.clear();
  wakes_ = {};
  lineFreeAtUs_ = 0;
  hangUpAtUs_ = -1;
  hungUp_ = false;
  {
    std::lock_guard lock(mutex_);
    received_.clear();
    lastError_.clear();
  }
  running_ = true;
  thread_ = std::thread(&PtyHost::Loop, this);
  return true;
}

void PtyHost::Stop() {
  if (thread_.joinable()) {
    const char stop = 1;
    // The pipe is non-blocking and one byte is enough to wake the loop.
    [[maybe_unused]] const auto written = ::write(wakeWrite_, &stop, 1);
    thread_.join();
  }
  {
    std::lock_guard lock(mutex_);
    running_ = false;
  }
  CloseTerminal();
  CloseFd(wakeRead_);
  CloseFd(wakeWrite_);
  if (!linkPath_.empty()) {
    // Only our own link goes: someone may have put something else there.
    std::array<char, PATH_MAX> target{};
    const auto n = ::readlink(linkPath_.c_str(), target.data(), target.size() - 1);
    if (n > 0 && std::string_view(target.data(), static_cast<std::size_t>(n)) == devicePath_)
      ::unlink(linkPath_.c_str());
    linkPath_.clear();
  }
  changed_.notify_all();
}

void PtyHost::CloseTerminal() {
  // The master first: closing it is what the other side sees as a hang-up.
  CloseFd(master_);
  CloseFd(slave_);
}

bool PtyHost::Link(const std::string& path) {
  if (!running_.load()) {
    std::lock_guard lock(mutex_);
    lastError_ = "cannot link " + path + ": the simulated reader is not running";
    return false;
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      std::lock_guard lock(mutex_);
      lastError_ = "cannot link " + path + ": it exists and is not a symbolic link";
      return false;
    }
    ::unlink(path.c_str());
  }
  if (::symlink(devicePath_.c_str(), path.c_str()) != 0) {
    Fail("cannot link " + path, errno);
    return false;
  }
  linkPath_ = path;
  return true;
}

std::string PtyHost::Received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

void PtyHost::ClearReceived() {
  std::lock_guard lock(mutex_);
  received_.clear();
}

bool PtyHost::WaitForReceived(std::string_view text, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout,
                    [&] { return received_.find(text) != std::string::npos || !running_.load(); });
  return received_.find(text) != std::string::npos;
}

void PtyHost::Send(std::int64_t atUs, std::span<const std::uint8_t> bytes,
                   std::int64_t byteTimeUs) {
  std::int64_t t = std::max(atUs, lineFreeAtUs_);
  for (const std::uint8_t b : bytes) {
    t += byteTimeUs;  // a byte arrives when its last bit has come
    outgoing_.push_back({t, b});
  }
  lineFreeAtUs_ = t;
}

void PtyHost::HangUp(std::int64_t atUs) {
  hangUpAtUs_ = std::max(atUs, lineFreeAtUs_);
}

std::int64_t PtyHost::LineFreeAt() const {
  return std::max(lineFreeAtUs_, NowUs());
}

bool PtyHost::WriteDue(std::int64_t nowUs, bool& blocked) {
  blocked = false;
  while (!outgoing_.empty() && outgoing_.front().atUs <= nowUs) {
    std::array<std::uint8_t, kChunk> chunk{};
    std::size_t n = 0;
    for (auto it = outgoing_.begin();
         it != outgoing_.end() && it->atUs <= nowUs && n < chunk.size(); ++it)
      chunk[n++] = it->byte;
    const ssize_t written = ::write(master_, chunk.data(), n);
    if (written < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        blocked = true;
        return true;
      }
      Fail("cannot write to " + devicePath_, errno);
      return false;
    }
    outgoing_.erase(outgoing_.begin(), outgoing_.begin() + written);
    lastProgressUs_ = nowUs;
    lastWriteUs_ = nowUs;
  }
  return true;
}

bool PtyHost::ReadyToHangUp(std::int64_t nowUs) const {
  // Closing the master flushes whatever the other side has not read yet,
  // while a real device's last bytes reach the driver before its line drops.
  // So the last bytes are given time to be read; the terminal only says how
  // much is unread once its input has been handed on, hence the settle time
  // after the last write. A reader that never reads does not hold this up
  // for long.
  int unread = 0;
  if (::ioctl(slave_, FIONREAD, &unread) != 0) return true;
  if (unread == 0 && nowUs - lastWriteUs_ >= kHangUpSettleUs) return true;
  return nowUs - hangUpAtUs_ >= std::int64_t{kTimings.closeDrainMaxMs} * 1000;
}

bool PtyHost::ReadAvailable() {
  std::array<std::uint8_t, kChunk> buffer{};
  for (;;) {
    const ssize_t n = ::read(master_, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (n <= 0) {
      Fail("cannot read from " + devicePath_, n == 0 ? EIO : errno);
      return false;
    }
    const std::span<const std::uint8_t> bytes(buffer.data(), static_cast<std::size_t>(n));
    {
      std::lock_guard lock(mutex_);
      received_.append(bytes.begin(), bytes.end());
      if (received_.size() > kReceivedKept) received_.erase(0, received_.size() - kReceivedKept);
    }
    changed_.notify_all();
    peer_.OnReceive(bytes, NowUs(), *this);
  }
}

void PtyHost::Loop() {
  // A reply nobody reads fills the terminal's buffer; after this long without
  // progress it is dropped, so a departed library cannot wedge the reader.
  const std::int64_t stallUs = std::int64_t{kTimings.writeStallMs} * 1000;
  bool ok = true;
  while (ok) {
    std::int64_t now = NowUs();
    while (!wakes_.empty() && wakes_.top() <= now) {
      wakes_.pop();
      peer_.OnWake(now, *this);
    }
    bool blocked = false;
    ok = WriteDue(now, blocked);
    if (!ok) break;
    if (!blocked) lastProgressUs_ = now;
    if (blocked && now - lastProgressUs_ > stallUs) {
      outgoing_.clear();
      blocked = false;
    }
    std::int64_t hangUpWakeAt = -1;
    if (hangUpAtUs_ >= 0 && outgoing_.empty() && now >= hangUpAtUs_) {
      if (ReadyToHangUp(now)) {
        hungUp_ = true;
        CloseTerminal();
        break;
      }
      hangUpWakeAt = now + kHangUpTickUs;
    }
    // Sleep in poll until input, a stop request, or the next thing due.
    std::int64_t wakeAt = -1;
    if (blocked) {
      wakeAt = lastProgressUs_ + stallUs + 1;
    } else if (!outgoing_.empty()) {
      wakeAt = outgoing_.front().atUs;
    } else if (hangUpWakeAt >= 0) {
      wakeAt = hangUpWakeAt;
    } else if (hangUpAtUs_ >= 0) {
      wakeAt = hangUpAtUs_;
    }
    if (!wakes_.empty() && (wakeAt < 0 || wakes_.top() < wakeAt)) wakeAt = wakes_.top();
    std::array<pollfd, 2> fds{{{master_, static_cast<short>(POLLIN | (blocked ? POLLOUT : 0)), 0},
                               {wakeRead_, POLLIN, 0}}};
    timespec wait{};
    const timespec* timeout = nullptr;
    if (wakeAt >= 0) {
      const std::int64_t us = std::max<std::int64_t>(0, wakeAt - now);
      wait.tv_sec = static_cast<time_t>(us / 1'000'000);
      wait.tv_nsec = static_cast<long>(us % 1'000'000) * 1000;
      timeout = &wait;
    }
    if (::ppoll(fds.data(), fds.size(), timeout, nullptr) < 0) {
      if (errno == EINTR) continue;
      Fail("cannot wait on " + devicePath_, errno);
      break;
    }
    if (fds[1].revents != 0) break;  // stop requested
    if (fds[0].revents & POLLIN) {
      ok = ReadAvailable();
    } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      // Cannot happen while the host holds the slave open; stop rather than spin.
      Fail("the pseudo-terminal " + devicePath_ + " failed", EIO);
      ok = false;
    }
  }
  {
    // Under the lock, so that a waiter cannot miss the change between its
    // check and its sleep.
    std::lock_guard lock(mutex_);
    running_ = false;
  }
  changed_.notify_all();
}

}  // namespace markwire::sim
