// A clock that only moves when someone waits on it, so that protocol waits of
// seconds cost no real time in tests.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace markwire::sim {

class VirtualClock final : public Clock {
 public:
  std::int64_t NowUs() const override { return now_; }
  void SleepMs(unsigned ms) override { now_ += static_cast<std::int64_t>(ms) * 1000; }
  void AdvanceTo(std::int64_t us) {
    if (us > now_) now_ = us;
  }

 private:
  std::int64_t now_ = 0;
};

}  // namespace markwire::sim
