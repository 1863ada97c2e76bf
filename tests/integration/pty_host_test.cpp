// The simulated reader on a real pseudo-terminal, in real time, seen from a
// plain serial client: what any program opening the device path gets.
#include "pty_host.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <string>
#include <thread>

#include "reader_machine.h"

namespace markwire::sim {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using Clock = std::chrono::steady_clock;

// A serial client the way a program without our driver opens a port.
class Client {
 public:
  explicit Client(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) return;
    termios tio{};
    ::tcgetattr(fd_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd_, TCSANOW, &tio);
  }
  ~Client() {
    if (fd_ >= 0) ::close(fd_);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  bool Write(std::string_view text) {
    return ::write(fd_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }
  // Up to `count` bytes within `timeout`; stops early when the line fails.
  std::string Read(std::size_t count, std::chrono::milliseconds timeout = 2000ms) {
    std::string got;
    const auto deadline = Clock::now() + timeout;
    while (got.size() < count) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      char buffer[256];
      const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
      if (n <= 0) {
        failed_ = true;
        break;
      }
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }
  bool Failed() const { return failed_; }

 private:
  int fd_ = -1;
  bool failed_ = false;
};

std::size_t OpenDescriptors() {
  std::size_t count = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir) != nullptr) ++count;
    ::closedir(dir);
  }
  return count;
}

TEST(PtyHost, ServesTheHandshakeAndACardRead) {
  ReaderMachine machine({}, std::make_unique<ListCards>(std::vector<Card>{{"ABCDE", ""}}));
  PtyHost host(machine);
  ASSERT_TRUE(host.Start()) << host.LastError();
  ASSERT_EQ(host.DevicePath().rfind("/dev/pts/", 0), 0u) << host.DevicePath();
  Client client(host.DevicePath());
  ASSERT_TRUE(client.IsOpen());

  ASSERT_TRUE(client.Write("Q/ONLINE/"));
  EXPECT_EQ(client.Read(9), "ONLINE/EN");
  EXPECT_TRUE(host.WaitForReceived("Q/ONLINE/", 1s));
  EXPECT_TRUE(machine.Online());

  ASSERT_TRUE(client.Write("R/"));
  EXPECT_EQ(client.Read(6), "R/ENEN");
  // The NUL after the data must cross the terminal untouched.
  ASSERT_TRUE(client.Write("r A 0000 0010/"));
  EXPECT_EQ(client.Read(28), "r A 0000 0010/EN0005ABCDE\0EN"s);
  ASSERT_TRUE(client.Write("-/"));
  EXPECT_EQ(client.Read(4), "-/EN");
  EXPECT_EQ(client.Read(1, 200ms), "");  // nothing left over
  EXPECT_EQ(machine.Counters().cardsRead, 1u);
}

TEST(PtyHost, LineIsRawBeforeAndAfterAClientComesAndGoes) {
  ReaderMachine machine;
  PtyHost host(machine);
  ASSERT_TRUE(host.Start()) << host.LastError();
  for (int round = 0; round < 2; ++round) {
    // Opened without any set-up of its own, the line already neither echoes
    // nor cooks: the host made it raw.
    const int fd = ::open(host.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    termios tio{};
    ASSERT_EQ(::tcgetattr(fd, &tio), 0);
    EXPECT_EQ(tio.c_lflag & (ECHO | ICANON | ISIG), 0u);
    // Parity is not checked: a pseudo-terminal carries none and Linux
    // clears the flag whoever sets it.
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B38400));
    ::close(fd);
  }
  Client client(host.DevicePath());
  ASSERT_TRUE(client.Write("ONLINE/"));
  EXPECT_EQ(client.Read(9), "ONLINE/EN");
}

TEST(PtyHost, PacesBytesInRealTime) {
  ReaderConfig config;
  config.byteTimeUs = 3'000;
  ReaderMachine machine(config);
  PtyHost host(machine);
  ASSERT_TRUE(host.Start()) << host.LastError();
  Client client(host.DevicePath());
  const auto start = Clock::now();
  ASSERT_TRUE(client.Write("ONLINE/"));
  EXPECT_EQ(client.Read(9), "ONLINE/EN");
  const auto elapsed = Clock::now() - start;
  // Nine bytes, the last one eight byte times after the first.
  EXPECT_GE(elapsed, 24ms);
  EXPECT_LT(elapsed, 1000ms);
}

TEST(PtyHost, HangUpReachesTheClient) {
  ReaderConfig config;
  config.faults.push_back({Fault::Kind::HangUp, "X", "", -1});
  ReaderMachine machine(config);
  PtyHost host(machine);
  ASSERT_TRUE(host.Start()) << host.LastError();
  Client client(host.DevicePath());
  ASSERT_TRUE(client.Write("ONLINE/"));
  ASSERT_EQ(client.Read(9), "ONLINE/EN");
  ASSERT_TRUE(client.Write("X/"));
  EXPECT_EQ(client.Read(2), "X/");  // the echo still arrives
  pollfd p{client.Fd(), POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 2000), 1);
  EXPECT_NE(p.revents & POLLHUP, 0);
  char byte;
  EXPECT_LE(::read(client.Fd(), &byte, 1), 0);
  for (int i = 0; i < 100 && host.Running(); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_FALSE(host.Running());
  EXPECT_TRUE(host.HungUp());
  // A hung-up host can serve a new terminal, and a read command there loses
  // the device half-way through its data block.
  ASSERT_TRUE(host.Start()) << host.LastError();
  EXPECT_FALSE(host.HungUp());
  machine.AddFault({Fault::Kind::HangUp, "r", "", -1});
  Client again(host.DevicePath());
  ASSERT_TRUE(again.Write("ONLINE/"));
  EXPECT_EQ(again.Read(9), "ONLINE/EN");
  ASSERT_TRUE(again.Write("r/"));
  EXPECT_EQ(again.Read(100), "r/EN  ");
  EXPECT_TRUE(again.Failed());
}

TEST(PtyHost, StopIsPromptEvenWithOutputScheduled) {
  ReaderConfig config;
  config.cardDelayUs = 30'000'000;  // a card that would take half a minute
  ReaderMachine machine(config);
  PtyHost host(machine);
  ASSERT_TRUE(host.Start()) << host.LastError();
  Client client(host.DevicePath());
  ASSERT_TRUE(client.Write("ONLINE/R/"));
  ASSERT_EQ(client.Read(13), "ONLINE/ENR/EN");
  const auto start = Clock::now();
  host.Stop();
  EXPECT_LT(Clock::now() - start, 200ms);
  EXPECT_FALSE(host.Running());
  EXPECT_FALSE(host.WaitForReceived("never sent", 10s));  // returns at once when stopped
  EXPECT_LT(Clock::now() - start, 1s);
}

TEST(PtyHost, IdleHostUsesNoProcessorTime) {
  ReaderMachine machine;
  PtyHost host(machine);
  ASSERT_TRUE(host.Start()) << host.LastError();
  timespec before{}, after{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &before);
  std::this_thread::sleep_for(300ms);
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &after);
  const double usedMs =
      (after.tv_sec - before.tv_sec) * 1e3 + (after.tv_nsec - before.tv_nsec) / 1e6;
  EXPECT_LT(usedMs, 30.0);
}

TEST(PtyHost, LinkPointsAtTheDeviceUntilStop) {
  ReaderMachine machine;
  PtyHost host(machine);
  const std::string link = "/tmp/markwire_pty_link_" + std::to_string(::getpid());
  EXPECT_FALSE(host.Link(link));  // not running yet
  ASSERT_TRUE(host.Start()) << host.LastError();
  ASSERT_TRUE(host.Link(link)) << host.LastError();
  {
    Client client(link);
    ASSERT_TRUE(client.IsOpen());
    ASSERT_TRUE(client.Write("ONLINE/"));
    EXPECT_EQ(client.Read(9), "ONLINE/EN");
  }
  host.Stop();
  struct stat st {};
  EXPECT_NE(::lstat(link.c_str(), &st), 0);

  // A file that is not a link is never replaced.
  const std::string file = link + ".file";
  ::close(::open(file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
  ASSERT_TRUE(host.Start()) << host.LastError();
  EXPECT_FALSE(host.Link(file));
  EXPECT_NE(host.LastError().find("not a symbolic link"), std::string::npos);
  host.Stop();
  EXPECT_EQ(::lstat(file.c_str(), &st), 0);
  ::unlink(file.c_str());
}

TEST(PtyHost, ManyStartsAndStopsLeakNoDescriptors) {
  ReaderMachine machine;
  const std::size_t before = OpenDescriptors();
  for (int i = 0; i < 50; ++i) {
    PtyHost host(machine);
    ASSERT_TRUE(host.Start()) << host.LastError();
    if (i % 10 == 0) {
      Client client(host.DevicePath());
      ASSERT_TRUE(client.Write("Q/"));
    }
    host.Stop();
    ASSERT_TRUE(host.Start()) << host.LastError();
    // The destructor stops the second run.
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
}  // namespace markwire::sim
