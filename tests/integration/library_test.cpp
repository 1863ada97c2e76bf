// The library as an application uses it: exports over a real serial device
// (a pseudo-terminal) with the simulated reader, in real time.
#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "markwire.h"
#include "pty_host.h"
#include "reader_machine.h"
#include "api/app.h"
#include "transport/com_port.h"

namespace markwire::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct SimulatedReader {
  explicit SimulatedReader(sim::ReaderConfig config = {})
      : machine(config, std::make_unique<sim::ListCards>(
                            std::vector<sim::Card>{{"12345678ABCD", ""}, {"87654321DCBA", ""}})),
        host(machine) {
    EXPECT_TRUE(host.Start()) << host.LastError();
  }
  sim::ReaderMachine machine;
  sim::PtyHost host;
};

class LibraryTest : public ::testing::Test {
 protected:
  // Each test starts from a freshly loaded library: a closed session on the
  // real serial ports.
  void SetUp() override { App().ReplaceSession(App().MakeDefaultSession()); }
  void TearDown() override { App().ReplaceSession(App().MakeDefaultSession()); }
};

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST_F(LibraryTest, HandshakeThenOneCardTheWayAnApplicationReadsIt) {
  SimulatedReader reader;
  const auto start = Clock::now();
  ASSERT_EQ(OmrInitDevice(reader.host.DevicePath().c_str()), 255);
  EXPECT_GE(SecondsSince(start), 2.5);  // nothing is sent during the pause
  EXPECT_LT(SecondsSince(start), 3.5);

  char data[4096] = {};
  EXPECT_EQ(OmrS("R/"), 255);
  EXPECT_EQ(OmrS("r A 0000 2000/"), 255);
  EXPECT_EQ(OmrG(data), 12);
  EXPECT_STREQ(data, "12345678ABCD");
  EXPECT_EQ(OmrS("-/"), 255);
  // A clipped read with the extra byte.
  EXPECT_EQ(OmrS("R/"), 255);
  EXPECT_EQ(OmrS("r A 0001 0004/"), 255);
  EXPECT_EQ(OmrG(data), 12);
  EXPECT_STREQ(data, "87654");
  EXPECT_EQ(OmrS("-/"), 255);
  // The hopper is empty: the status comes through OmrG.
  EXPECT_EQ(OmrS("R/"), 0);
  EXPECT_EQ(OmrG(data), 255);
  EXPECT_STREQ(data, "16");

  const auto commands = reader.machine.Commands();
  ASSERT_GE(commands.size(), 3u);
  EXPECT_EQ(commands[0], "Q/");
  EXPECT_EQ(commands[1], "ONLINE/");
  EXPECT_EQ(commands[2], "R/");
}

TEST_F(LibraryTest, DeviceThatHangsUpMidReadIsLostThenAnotherDeviceWorks) {
  {
    SimulatedReader reader;
    reader.machine.AddFault(std::get<sim::Fault>(sim::ParseFault("hangup:r")));
    ASSERT_EQ(OmrInitDevice(reader.host.DevicePath().c_str()), 255);
    char data[4096] = {};
    EXPECT_EQ(OmrS("R/"), 255);
    OmrS("r A 0000 2000/");
    EXPECT_EQ(OmrG(data), 0);
    EXPECT_EQ(OmrG(data), -1);
    EXPECT_FALSE(App().Session()->IsOpen());
    EXPECT_EQ(OmrS("R/"), -1);
  }
  SimulatedReader second;
  ASSERT_EQ(OmrInitDevice(second.host.DevicePath().c_str()), 255);
  char data[4096] = {};
  EXPECT_EQ(OmrS("R/"), 255);
  EXPECT_EQ(OmrS("r A 0000 2000/"), 255);
  EXPECT_EQ(OmrG(data), 12);
}

TEST_F(LibraryTest, DevicesThatCannotBeReadersAreRefusedQuickly) {
  const auto start = Clock::now();
  EXPECT_EQ(OmrInitDevice("/dev/markwire-no-such-device"), 0);
  EXPECT_EQ(OmrInitDevice("/dev/null"), 0);  // not a terminal
  EXPECT_EQ(OmrInit(99), 0);                 // /dev/ttyS98 does not exist here
  SimulatedReader reader;
  CComPort other;
  ASSERT_TRUE(other.Open(reader.host.DevicePath(), kReaderLine));
  EXPECT_EQ(OmrInitDevice(reader.host.DevicePath().c_str()), 0);  // in use
  EXPECT_LT(SecondsSince(start), 1.0);
  EXPECT_EQ(OmrS("R/"), -1);
}

TEST_F(LibraryTest, CommandWithoutFinalStatusWaitsThreeSecondsWithoutSpinning) {
  sim::ReaderConfig config;
  config.sendFinalStatus = false;
  SimulatedReader reader(config);
  ASSERT_EQ(OmrInitDevice(reader.host.DevicePath().c_str()), 255);
  const std::clock_t cpu = std::clock();
  const auto start = Clock::now();
  EXPECT_EQ(OmrS("MO 1/"), 255);
  const double wall = SecondsSince(start);
  const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
  EXPECT_GE(wall, 3.0);
  EXPECT_LT(wall, 3.3);
  EXPECT_LT(cpuMs, 30.0);  // process-wide, the reader's thread included
}

TEST_F(LibraryTest, EveryCommandFamilyAgainstTheSimulatedReader) {
  SimulatedReader reader;
  ASSERT_EQ(OmrInitDevice(reader.host.DevicePath().c_str()), 255);

  // Format: a file named relative to the working directory (a path may hold
  // no "/"), then one as text.
  char dir[] = "/tmp/markwire-it-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  ASSERT_EQ(chdir(dir), 0);
  {
    std::ofstream("card.fmt") << "L 040/\r\nf 3 020 010 01 08/\r\nF 001 08 000 10 01 1/\r\n";
    std::ofstream("prog.hex", std::ios::binary) << std::string(":00000001FF\r\n/\0x", 16);
  }
  EXPECT_EQ(DownLoadFormatFile("card.fmt"), 255);
  EXPECT_EQ(OmrGetSync(), 40);
  EXPECT_EQ(reader.machine.Format().commands,
            (std::vector<std::string>{"L 040/", "f 3 010 020 01 08/", "F 001 08 000 10 01 1/"}));
  EXPECT_EQ(DownLoadFormatFile("L 012/ XB 1/"), 255);
  EXPECT_EQ(OmrGetSync(), 12);

  // Cards: read one, pass one.
  char data[4096] = {};
  EXPECT_EQ(ReadOneCard(0, 2000, data), 12);
  EXPECT_STREQ(data, "12345678ABCD");
  EXPECT_EQ(PassOneCard(5, 3, data), 255);
  EXPECT_EQ(reader.machine.Counters().cardsPassed, 1u);

  // Test read-outs.
  std::vector<int> values(10000, -1);
  EXPECT_EQ(OmrS("I 2 1 1 4 6/"), 255);
  EXPECT_EQ(OmrGetOriOrGray('A', values.data()), 24);
  EXPECT_EQ(OmrGetOriOrGray('B', values.data()), 24);
  EXPECT_EQ(OmrS("I 4/"), 255);
  EXPECT_EQ(OmrGetValue('B', values.data()), 96);
  EXPECT_EQ(OmrS("I 6 2/"), 255);
  EXPECT_GT(OmrGetCurve(0, values.data()), 0);
  EXPECT_EQ(OmrS("I 5 7 8/"), 255);
  char code[4];
  OmrGetError(code);
  EXPECT_STREQ(code, "00");

  // Calibration.
  EXPECT_EQ(AdjustGrayInfo(1, 2), 255);
  EXPECT_EQ(AdjustCardInfo(3, 4), 255);
  EXPECT_EQ(AdjustMota(5), 255);
  EXPECT_EQ(AdjustForeTime(-6), 255);
  EXPECT_EQ(AdjustBehindTime(7), 255);
  const auto c = reader.machine.Calibration();
  ASSERT_TRUE(c.foreTime && c.behindTime && c.mota);
  EXPECT_EQ(*c.foreTime, -6);
  EXPECT_EQ(*c.behindTime, 7);

  // Program: every byte echoed, the reader confirms after the last.
  unsigned lastDone = 0;
  OmrSetProgressHandler([](unsigned done, unsigned, void* u) { *static_cast<unsigned*>(u) = done; },
                        &lastDone);
  EXPECT_EQ(OmrS("W prog.hex/"), 255);
  OmrSetProgressHandler(nullptr, nullptr);
  EXPECT_EQ(lastDone, 16u);
  EXPECT_EQ(reader.machine.Program().bytes, std::string(":00000001FF\r\n/\0x", 16));
  EXPECT_TRUE(reader.machine.Program().confirmed);

  std::remove("card.fmt");
  std::remove("prog.hex");
  EXPECT_EQ(chdir("/"), 0);
  rmdir(dir);
}

TEST_F(LibraryTest, CardsWithBarcodesReadFromTheSensorWaveform) {
  sim::ReaderConfig config = sim::ReaderConfig::Realistic();  // 38400 baud both ways
  config.cardDelayUs = 0;
  sim::ReaderMachine machine(config, std::make_unique<sim::GeneratedCards>(42, 3));
  sim::PtyHost host(machine);
  ASSERT_TRUE(host.Start());
  ASSERT_EQ(OmrInitDevice(host.DevicePath().c_str()), 255);
  // The candidate number as Code 39, after the card data's first byte.
  ASSERT_EQ(DownLoadFormatFile("L 040/ T/ f 3 010 020 01 08/ ;B   "), 255);
  for (int card = 0; card < 2; ++card) {
    char data[4096] = {};
    const int result = ReadOneCard(0, 2000, data);
    const std::string text = data;
    ASSERT_GT(result, 8) << text;
    // The generated card starts with the candidate number, which is also its
    // barcode: "X" + barcode + the data's rest.
    EXPECT_EQ(text.substr(1, 8), text.substr(0, 1) + text.substr(9, 7)) << text;
  }
  char code[4];
  OmrGetError(code);
  EXPECT_STREQ(code, "00");
}

// ---- The shared library, loaded and unloaded as an application does ----

int CountEntries(const char* dir) {
  int n = 0;
  if (DIR* d = opendir(dir)) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
  return n;
}

struct SharedLibrary {
  SharedLibrary() : handle(dlopen(MARKWIRE_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL)) {}
  ~SharedLibrary() {
    if (handle != nullptr) dlclose(handle);
  }
  template <typename F>
  F* Get(const char* name) {
    return reinterpret_cast<F*>(dlsym(handle, name));
  }
  void Unload() {
    dlclose(handle);
    handle = nullptr;
  }
  void* handle;
};

TEST(SharedLibraryTest, UnloadSaysQuitToAnOpenReaderAndLeavesNothingBehind) {
  SimulatedReader reader;
  const int fds = CountEntries("/proc/self/fd");
  const int threads = CountEntries("/proc/self/task");
  for (int cycle = 0; cycle < 3; ++cycle) {
    SharedLibrary lib;
    ASSERT_NE(lib.handle, nullptr) << dlerror();
    auto* init = lib.Get<int(const char*)>("OmrInitDevice");
    auto* send = lib.Get<int(const char*)>("OmrS");
    ASSERT_NE(init, nullptr);
    ASSERT_NE(send, nullptr);
    ASSERT_EQ(init(reader.host.DevicePath().c_str()), 255);
    EXPECT_TRUE(reader.machine.Online());
    EXPECT_EQ(send("MO 1/"), 255);
    lib.Unload();
    EXPECT_EQ(reader.machine.Commands().back(), "Q/");
    EXPECT_FALSE(reader.machine.Online());
  }
  EXPECT_EQ(CountEntries("/proc/self/fd"), fds);
  EXPECT_EQ(CountEntries("/proc/self/task"), threads);
}

// A handler an application set and never cleared is not called while the
// library unloads (its code may be gone by then); a failed open says why.
int tracedLines = 0;
void CountTrace(const char*, void*) { ++tracedLines; }

TEST(SharedLibraryTest, UnloadCallsNoHandlerAndAFailedOpenSaysWhy) {
  SimulatedReader reader;
  SharedLibrary lib;
  ASSERT_NE(lib.handle, nullptr) << dlerror();
  auto* init = lib.Get<int(const char*)>("OmrInitDevice");
  auto* why = lib.Get<int(char*, size_t)>("OmrGetOpenError");
  auto* code = lib.Get<int(char*)>("OmrGetError");
  auto* trace = lib.Get<void(void (*)(const char*, void*), void*)>("OmrSetTraceHandler");
  ASSERT_TRUE(init && why && code && trace);
  char text[128] = "";
  EXPECT_EQ(init("/dev/markwire-no-such-device"), 0);
  EXPECT_GT(why(text, sizeof text), 0);
  EXPECT_STRNE(text, "");
  char small[4];
  why(small, sizeof small);
  EXPECT_EQ(std::strlen(small), 3u);  // cut to the size given, with its NUL
  char record[3];
  code(record);
  EXPECT_STREQ(record, "00");  // the classic error record is left as it was
  ASSERT_EQ(init(reader.host.DevicePath().c_str()), 255);
  EXPECT_EQ(why(text, sizeof text), 0);
  trace(CountTrace, nullptr);
  const int before = tracedLines;
  lib.Unload();
  EXPECT_EQ(tracedLines, before);
  EXPECT_EQ(reader.machine.Commands().back(), "Q/");  // the reader was still told
}

TEST(SharedLibraryTest, UnloadOfAClosedSessionSendsNothing) {
  SimulatedReader reader;
  {
    SharedLibrary lib;
    ASSERT_NE(lib.handle, nullptr) << dlerror();
    auto* send = lib.Get<int(const char*)>("OmrS");
    EXPECT_EQ(send("R/"), -1);
  }
  std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(reader.machine.Commands().empty());
}

}  // namespace
}  // namespace markwire::test
