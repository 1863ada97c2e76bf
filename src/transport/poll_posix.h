// The one way the POSIX transport waits: in poll, so that an idle wait costs
// no CPU, with a time-out finer than a millisecond where the system allows
// it (the inter-byte gap is only 100 ms, so rounding matters).
#pragma once

#include <poll.h>

#include <chrono>
#include <ctime>

namespace markwire::posix {

// A negative time-out waits without limit. Returns what poll returns.
inline int PollFor(pollfd* fds, nfds_t count, std::chrono::nanoseconds timeout) {
#if defined(__linux__) || defined(__FreeBSD__) || defined(__NetBSD__) || defined(__OpenBSD__)
  if (timeout.count() < 0) return ::ppoll(fds, count, nullptr, nullptr);
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(seconds.count());
  ts.tv_nsec = static_cast<long>((timeout - seconds).count());
  return ::ppoll(fds, count, &ts, nullptr);
#else
  if (timeout.count() < 0) return ::poll(fds, count, -1);
  // Rounded up, so that a wait never ends before the deadline it serves.
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(timeout).count();
  return ::poll(fds, count, ms > 0x7fffffff ? 0x7fffffff : static_cast<int>(ms));
#endif
}

}  // namespace markwire::posix
