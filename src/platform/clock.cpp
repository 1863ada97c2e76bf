#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace markwire {

std::int64_t SystemClock::NowUs() const {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void SystemClock::SleepMs(unsigned ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

Clock& RealClock() {
  static SystemClock clock;
  return clock;
}

}  // namespace markwire
