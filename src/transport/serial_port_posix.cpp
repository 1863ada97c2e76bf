#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "transport/line_settings_posix.h"
#include "transport/serial_exception.h"
#include "transport/serial_port.h"

#ifdef __linux__
#include <linux/serial.h>
#include <sys/sysmacros.h>
#endif

namespace markwire {

namespace {

#ifdef __linux__
// Device numbers of pseudo-terminal slaves (Documentation/admin-guide/devices.txt).
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;
constexpr unsigned kLegacyPtySlaveMajor = 3;
#endif

// The reader answers in short bursts; USB adapters otherwise hold received
// bytes for up to 16 ms before passing them on. Ptys and many drivers refuse
// the request, which costs nothing but latency, so failure is ignored.
void RequestLowLatency(int fd) {
#if defined(__linux__) && defined(TIOCGSERIAL) && defined(ASYNC_LOW_LATENCY)
  serial_struct info{};
  if (::ioctl(fd, TIOCGSERIAL, &info) == 0 && (info.flags & ASYNC_LOW_LATENCY) == 0) {
    info.flags |= ASYNC_LOW_LATENCY;
    (void)::ioctl(fd, TIOCSSERIAL, &info);
  }
#else
  (void)fd;
#endif
}

// A pseudo-terminal has no wire: it always reports 8 data bits and no
// parity, whatever it is told, so those two are not held against it.
bool IsPseudoTerminal(int fd) {
#ifdef __linux__
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned m = major(st.st_rdev);
  return (m >= kPtySlaveMajorFirst && m <= kPtySlaveMajorLast) || m == kLegacyPtySlaveMajor;
#else
  (void)fd;
  return false;
#endif
}

// tcsetattr succeeds when any part of the request was taken. A driver that
// cannot do the rate or the parity keeps its old one, and the reader would
// then hear noise; better to refuse the open with a reason.
void CheckDriverTook(int fd, const termios& wanted, unsigned baud, bool pty) {
  termios got{};
  if (::tcgetattr(fd, &got) != 0) ThrowSerialException(0, "cannot read the line settings");
  if (cfgetospeed(&got) != cfgetospeed(&wanted) || cfgetispeed(&got) != cfgetispeed(&wanted)) {
    ThrowSerialException(EINVAL, "the driver refused " + std::to_string(baud) + " baud");
  }
  constexpr tcflag_t kRaw = ICANON | ECHO | ISIG;
  if ((got.c_lflag & kRaw) != 0 || (got.c_oflag & OPOST) != 0) {
    ThrowSerialException(EINVAL, "the driver refused raw mode");
  }
#ifdef CMSPAR
  constexpr tcflag_t frame = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
#else
  constexpr tcflag_t frame = CSIZE | PARENB | PARODD | CSTOPB;
#endif
  if (!pty && (got.c_cflag & frame) != (wanted.c_cflag & frame)) {
    ThrowSerialException(EINVAL, "the driver refused the data bits, parity or stop bits");
  }
}

}  // namespace

CSerialPort::~CSerialPort() {
  Close();
}

bool CSerialPort::Open(const std::string& device, unsigned baud, int parity, int dataBits,
                       int stopBits, int flowControl) {
  Close();
  openError_ = 0;
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    openError_ = static_cast<unsigned>(errno);
    return false;
  }
  // TIOCEXCL keeps other users off the line, but not root; the advisory lock
  // is what stops a second driver (or a second wrapper in this process) that
  // runs as root.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    openError_ = static_cast<unsigned>(errno == EWOULDBLOCK ? EBUSY : errno);
    ::close(fd);
    return false;
  }
  handle_ = fd;
  device_ = device;
  baud_ = baud;

  termios t{};
  if (::tcgetattr(fd, &t) != 0) ThrowSerialException(0, "cannot read the line settings");
  if (::ioctl(fd, TIOCEXCL) != 0) ThrowSerialException(0, "cannot take the device exclusively");
  ApplyLineSettings(t, baud, parity, dataBits, stopBits, flowControl);
  const bool pty = IsPseudoTerminal(fd);
  // glibc reports a pty's dropped parity bit as EINVAL although everything
  // else was set; what the driver actually took is checked below either way.
  if (::tcsetattr(fd, TCSANOW, &t) != 0 && !(errno == EINVAL && pty)) {
    ThrowSerialException(0, "the driver refused the line settings");
  }
  CheckDriverTook(fd, t, baud, pty);
  RequestLowLatency(fd);
  return true;
}

void CSerialPort::Close() {
  if (handle_ == kInvalidHandle) return;
  // The exclusive flag belongs to the device, not to this descriptor, and
  // would otherwise outlive us on some kernels.
  (void)::ioctl(handle_, TIOCNXCL);
  ::close(handle_);  // also releases the lock
  handle_ = kInvalidHandle;
}

void CSerialPort::Purge(unsigned actions) {
  if (handle_ == kInvalidHandle) return;
  const bool input = (actions & kPurgeRxClear) != 0;
  const bool output = (actions & kPurgeTxClear) != 0;
  if (input && output) {
    (void)::tcflush(handle_, TCIOFLUSH);
  } else if (input) {
    (void)::tcflush(handle_, TCIFLUSH);
  } else if (output) {
    (void)::tcflush(handle_, TCOFLUSH);
  }
}

unsigned CSerialPort::QueuedOutput() const {
  if (handle_ == kInvalidHandle) return 0;
  int queued = 0;
  if (::ioctl(handle_, TIOCOUTQ, &queued) != 0 || queued < 0) return 0;
  return static_cast<unsigned>(queued);
}

unsigned CSerialPort::QueuedInput() const {
  if (handle_ == kInvalidHandle) return 0;
  int queued = 0;
  if (::ioctl(handle_, FIONREAD, &queued) != 0 || queued < 0) return 0;
  return static_cast<unsigned>(queued);
}

}  // namespace markwire
