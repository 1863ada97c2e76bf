#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

#include "platform/timings.h"
#include "transport/poll_posix.h"
#include "transport/read_com_thread.h"

#ifdef __linux__
#include <linux/serial.h>
#endif

namespace markwire {

namespace {

// A self-pipe: Stop writes a byte, and the thread's poll wakes on it at once,
// whatever else it is waiting for.
struct StopSignal {
  int readEnd = -1;
  int writeEnd = -1;

  StopSignal() {
    int fds[2];
#if defined(__APPLE__)
    if (::pipe(fds) != 0) throw std::system_error(errno, std::system_category(), "pipe");
    for (int fd : fds) {
      ::fcntl(fd, F_SETFD, FD_CLOEXEC);
      ::fcntl(fd, F_SETFL, O_NONBLOCK);
    }
#else
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
      throw std::system_error(errno, std::system_category(), "pipe2");
    }
#endif
    readEnd = fds[0];
    writeEnd = fds[1];
  }
  ~StopSignal() {
    ::close(readEnd);
    ::close(writeEnd);
  }
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  void Raise() const {
    const char byte = 1;
    // A full pipe already holds a wake-up, so EAGAIN is as good as success.
    while (::write(writeEnd, &byte, 1) < 0 && errno == EINTR) {
    }
  }
};

// Carrier, ring and error events come from the driver's counters where it
// keeps them (TIOCGICOUNT), else from edges of the modem lines (TIOCMGET).
// Neither can be waited on together with the stop signal, so they are
// sampled; a pty supports neither and is then never sampled at all.
class LineSampler {
 public:
  explicit LineSampler(int fd) : fd_(fd) {
#if defined(__linux__) && defined(TIOCGICOUNT)
    hasCounters_ = ::ioctl(fd_, TIOCGICOUNT, &base_) == 0;
#endif
#ifdef TIOCMGET
    hasModemLines_ = !hasCounters_ && ::ioctl(fd_, TIOCMGET, &lastLines_) == 0;
#endif
  }

  bool Supported() const {
    return hasCounters_ || hasModemLines_;
  }

  void Sample(LineState& state) {
#if defined(__linux__) && defined(TIOCGICOUNT)
    if (hasCounters_) {
      serial_icounter_struct now{};
      if (::ioctl(fd_, TIOCGICOUNT, &now) != 0) return;
      // The driver's counters run from when it first saw the device; the
      // status reports what happened since this open.
      state.carrierChanges = Delta(now.dcd, base_.dcd);
      state.rings = Delta(now.rng, base_.rng);
      state.frameErrors = Delta(now.frame, base_.frame);
      state.parityErrors = Delta(now.parity, base_.parity);
      state.overrunErrors = Delta(now.overrun + now.buf_overrun, base_.overrun + base_.buf_overrun);
      state.breaks = Delta(now.brk, base_.brk);
      return;
    }
#endif
#ifdef TIOCMGET
    int lines = 0;
    if (!hasModemLines_ || ::ioctl(fd_, TIOCMGET, &lines) != 0) return;
    if ((lines ^ lastLines_) & TIOCM_CD) ++state.carrierChanges;
    if ((lines & TIOCM_RI) != 0 && (lastLines_ & TIOCM_RI) == 0) ++state.rings;
    lastLines_ = lines;
#else
    (void)state;
#endif
  }

 private:
  static std::uint32_t Delta(int now, int base) {
    return static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(base);
  }

  int fd_;
  bool hasCounters_ = false;
  bool hasModemLines_ = false;
  int lastLines_ = 0;
#if defined(__linux__) && defined(TIOCGICOUNT)
  serial_icounter_struct base_{};
#endif
};

}  // namespace

struct CReadComThread::Worker {
  StopSignal stop;
  std::thread thread;
};

CReadComThread::CReadComThread(NativeHandle port, LineState& state) : port_(port), state_(state) {}

CReadComThread::~CReadComThread() {
  Stop();
}

void CReadComThread::Start() {
  if (worker_ != nullptr) return;
  auto worker = std::make_unique<Worker>();
  worker->thread = std::thread([this, w = worker.get()] { Run(*w); });
  worker_ = std::move(worker);
}

void CReadComThread::Stop() {
  if (worker_ == nullptr) return;
  worker_->stop.Raise();
  worker_->thread.join();
  worker_.reset();
}

void CReadComThread::Run(const Worker& worker) {
  LineSampler sampler(port_);
  const std::chrono::nanoseconds period =
      sampler.Supported()
          ? std::chrono::nanoseconds(std::chrono::milliseconds(kTimings.lineStatusPollMs))
          : std::chrono::nanoseconds(-1);
  // Events 0 on the port: poll still reports a hang-up or an error, and the
  // data stays for the application's reads.
  pollfd fds[2] = {{port_, 0, 0}, {worker.stop.readEnd, POLLIN, 0}};
  for (;;) {
    const int ready = posix::PollFor(fds, 2, period);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      // A hung-up descriptor stays ready for ever; watching it further would
      // only spin.
      state_.hangUp = true;
      state_.lost = true;
      return;
    }
    sampler.Sample(state_);
  }
}

}  // namespace markwire
