// A pseudo-terminal: the code under test opens the slave, the test plays the far end.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace markwire::testing {

class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
      throw std::runtime_error("cannot create a pseudo-terminal");
    }
    slavePath_ = name;
  }
  ~PtyPair() { CloseMaster(); }

  const std::string& SlavePath() const { return slavePath_; }

  // Sends bytes to the code under test as the far end of the line.
  void Send(std::string_view bytes) const {
    if (::write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
      throw std::runtime_error("write to the pty master failed");
  }

  // Up to `count` bytes that the code under test wrote, waiting at most `timeout` for each.
  std::string Receive(std::size_t count, std::chrono::milliseconds timeout) const {
    std::string got;
    char buf[256];
    pollfd p{master_, POLLIN, 0};
    while (got.size() < count && ::poll(&p, 1, static_cast<int>(timeout.count())) > 0) {
      const ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - got.size()));
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
  }

  void CloseMaster() { ::close(std::exchange(master_, -1)); }  // -1 is harmless

 private:
  int master_ = -1;
  std::string slavePath_;
};

inline std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

inline long MsSince(std::chrono::steady_clock::time_point start) {
  return (std::chrono::steady_clock::now() - start) / std::chrono::milliseconds(1);
}

}  // namespace markwire::testing
