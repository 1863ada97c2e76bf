// The clock every protocol wait reads. The real one sleeps; tests use a
// virtual one that advances when the code waits.
#pragma once

#include <cstdint>

namespace markwire {

class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic time in microseconds from an arbitrary origin.
  virtual std::int64_t NowUs() const = 0;
  virtual void SleepMs(unsigned ms) = 0;
};

class SystemClock final : public Clock {
 public:
  std::int64_t NowUs() const override;
  void SleepMs(unsigned ms) override;
};

// The process's real clock; it has no state, so one instance serves everyone.
Clock& RealClock();

}  // namespace markwire
