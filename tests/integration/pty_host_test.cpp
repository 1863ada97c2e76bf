// The simulated reader on a real pseudo-terminal, in real time, seen from a
// plain serial client: what any program opening the device path gets.
#include "pty_host.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>

#include "reader_machine.h"

namespace markwire::sim {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using Clock = std::chrono::steady_clock;

// The device opened without any set-up of its own: the host has made the line
// raw, so nothing is echoed or cooked.
struct Client {
  explicit Client(const std::string& path)
      : fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
  ~Client() { ::close(fd); }
  // What the reader answers to `text`: up to `count` bytes within `wait`,
  // fewer when the line fails.
  std::string Exchange(std::string_view text, std::size_t count,
                       std::chrono::milliseconds wait = 2s) {
    EXPECT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    std::string got;
    const auto deadline = Clock::now() + wait;
    for (pollfd p{fd, POLLIN, 0}; got.size() < count; p.revents = 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      char buffer[256];
      const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, count - got.size()));
      if (n <= 0) break;
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }
  int fd;
};

std::ptrdiff_t OpenDescriptors() {
  return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

TEST(PtyHost, ServesTheHandshakeAndADataBlockOverTheTerminal) {
  ReaderMachine machine({}, std::make_unique<ListCards>(std::vector<Card>{{"ABCDE", ""}}));
  PtyHost host(machine);
  ASSERT_TRUE(host.Start()) << host.LastError();
  Client client(host.DevicePath());
  ASSERT_GE(client.fd, 0) << host.DevicePath();
  EXPECT_EQ(client.Exchange("Q/ONLINE/", 9), "ONLINE/EN");
  EXPECT_TRUE(host.WaitForReceived("Q/ONLINE/", 1s));
  EXPECT_EQ(client.Exchange("R/", 6), "R/ENEN");
  // The NUL after the text must cross the terminal untouched, and nothing follow.
  EXPECT_EQ(client.Exchange("r A 0000 0010/", 100, 300ms), "r A 0000 0010/EN0005ABCDE\0EN"s);
}

TEST(PtyHost, HangUpReachesTheClientAndStopsTheHost) {
  ReaderConfig config;
  config.faults.push_back({Fault::Kind::HangUp, "X", "", -1});
  ReaderMachine machine(config);
  PtyHost host(machine);
  ASSERT_TRUE(host.Start()) << host.LastError();
  Client client(host.DevicePath());
  ASSERT_EQ(client.Exchange("ONLINE/", 9), "ONLINE/EN");
  EXPECT_EQ(client.Exchange("X/", 2), "X/");  // what came before the hang-up still arrives
  pollfd p{client.fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 2000), 1);
  EXPECT_NE(p.revents & POLLHUP, 0);
  char byte;
  EXPECT_LE(::read(client.fd, &byte, 1), 0);
  for (int i = 0; i < 100 && host.Running(); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_FALSE(host.Running());
  EXPECT_TRUE(host.HungUp());
}

TEST(PtyHost, StopIsPromptAndManyStartsAndStopsLeakNoDescriptors) {
  ReaderConfig config;
  config.cardDelayUs = 30'000'000;  // a card that would take half a minute
  const std::ptrdiff_t before = OpenDescriptors();
  for (int i = 0; i < 50; ++i) {
    ReaderMachine machine(config);
    PtyHost host(machine);
    ASSERT_TRUE(host.Start()) << host.LastError();
    if (i % 10 == 0) {
      // Stopped with a client on the line and a reply still to come.
      Client client(host.DevicePath());
      ASSERT_EQ(client.Exchange("ONLINE/R/", 13), "ONLINE/ENR/EN");
      const auto start = Clock::now();
      host.Stop();
      EXPECT_LT(Clock::now() - start, 200ms);
      EXPECT_FALSE(host.WaitForReceived("never sent", 10s));  // at once when stopped
      EXPECT_LT(Clock::now() - start, 1s);
    }
    host.Stop();
    ASSERT_TRUE(host.Start()) << host.LastError();  // the destructor stops this run
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
}  // namespace markwire::sim
