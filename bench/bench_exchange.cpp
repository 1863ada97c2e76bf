// What the library costs per exchange above the bytes on the wire, and what
// an idle protocol wait costs in CPU.
//
// Baseline: the same exchange done by hand on the same pseudo-terminal with
// the same simulated reader (pacing off): write "MO 1/", read the echo, "EN"
// and the final "EN". The library does exactly that through OmrS, plus its
// purge, classification, time-out bookkeeping and the line-event thread.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "markwire.h"
#include "pty_host.h"
#include "reader_machine.h"

namespace {

using markwire::sim::PtyHost;
using markwire::sim::ReaderConfig;
using markwire::sim::ReaderMachine;

constexpr std::string_view kCommand = "MO 1/";
constexpr std::string_view kReply = "MO 1/ENEN";

struct Reader {
  explicit Reader(ReaderConfig config) : machine(config), host(machine) {
    if (!host.Start()) std::abort();
  }
  ReaderMachine machine;
  PtyHost host;
};

// The reader's device opened by hand, raw, as a program without the library
// would open it.
int OpenRaw(const std::string& device) {
  const int fd = open(device.c_str(), O_RDWR | O_NOCTTY);
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  return fd;
}

bool ReadAll(int fd, char* out, std::size_t n) {
  std::size_t got = 0;
  while (got < n) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) return false;
    const ssize_t r = read(fd, out + got, n - got);
    if (r <= 0) return false;
    got += static_cast<std::size_t>(r);
  }
  return true;
}

void BM_ExchangeByHand(benchmark::State& state) {
  Reader reader{ReaderConfig{}};
  const int fd = OpenRaw(reader.host.DevicePath());
  char buf[64];
  write(fd, "ONLINE/", 7);
  ReadAll(fd, buf, 9);
  for (auto _ : state) {
    if (write(fd, kCommand.data(), kCommand.size()) != static_cast<ssize_t>(kCommand.size()) ||
        !ReadAll(fd, buf, kReply.size()) || std::memcmp(buf, kReply.data(), kReply.size()) != 0) {
      state.SkipWithError("the reader did not answer");
      break;
    }
  }
  close(fd);
}
BENCHMARK(BM_ExchangeByHand)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

void BM_ExchangeThroughOmrS(benchmark::State& state) {
  Reader reader{ReaderConfig{}};
  if (OmrInitDevice(reader.host.DevicePath().c_str()) != 255) {
    state.SkipWithError("no hand-shake");
    return;
  }
  for (auto _ : state) {
    if (OmrS(std::string(kCommand).c_str()) != 255) {
      state.SkipWithError("the command failed");
      break;
    }
  }
  reader.host.Stop();  // the session finds its port lost and opens anew next time
}
BENCHMARK(BM_ExchangeThroughOmrS)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

// One command whose final status never comes: the library waits 3000 ms.
// The counter is the CPU time of the whole process (library, its line-event
// thread, and the idle simulator) during that call.
void BM_CpuDuringFinalStatusWait(benchmark::State& state) {
  ReaderConfig config;
  config.sendFinalStatus = false;
  Reader reader{config};
  if (OmrInitDevice(reader.host.DevicePath().c_str()) != 255) {
    state.SkipWithError("no hand-shake");
    return;
  }
  double cpuMs = 0;
  for (auto _ : state) {
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    OmrS(std::string(kCommand).c_str());
    getrusage(RUSAGE_SELF, &after);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    cpuMs += ms(after.ru_utime) - ms(before.ru_utime) + ms(after.ru_stime) - ms(before.ru_stime);
  }
  state.counters["cpu_ms_per_wait"] = cpuMs / static_cast<double>(state.iterations());
  reader.host.Stop();
}
BENCHMARK(BM_CpuDuringFinalStatusWait)->Unit(benchmark::kMillisecond)->Iterations(2);

// A program download with the reader at line speed: each file byte is two
// bytes out and two echoed back, 4 x 11 bits at 38400 baud = 1.146 ms of
// wire time. The counter is the measured time per byte over that wire time;
// it is taken up to the last byte's echo, before the reader's closing "EN".
void BM_ProgramDownloadPerByte(benchmark::State& state) {
  const std::size_t bytes = static_cast<std::size_t>(state.range(0));
  char dir[] = "/tmp/markwire-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr || chdir(dir) != 0) {
    state.SkipWithError("no temporary directory");
    return;
  }
  {
    std::FILE* f = std::fopen("p.hex", "wb");
    for (std::size_t i = 0; i < bytes; ++i) std::fputc(":0123456789ABCDEF\r\n"[i % 19], f);
    std::fclose(f);
  }
  Reader reader{ReaderConfig::Realistic()};
  if (OmrInitDevice(reader.host.DevicePath().c_str()) != 255) {
    state.SkipWithError("no hand-shake");
    return;
  }
  static std::chrono::steady_clock::time_point lastByte;
  OmrSetProgressHandler(
      [](unsigned done, unsigned total, void*) {
        if (done == total) lastByte = std::chrono::steady_clock::now();
      },
      nullptr);
  double ratio = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (OmrS("W p.hex/") != 255) {
      state.SkipWithError("the download failed");
      break;
    }
    const double perByteMs =
        std::chrono::duration<double, std::milli>(lastByte - start).count() / bytes;
    constexpr double kWireMsPerByte = 4 * 11 * 1000.0 / 38400;
    ratio = perByteMs / kWireMsPerByte;
    state.counters["ms_per_byte"] = perByteMs;
  }
  state.counters["ratio_to_wire"] = ratio;
  OmrSetProgressHandler(nullptr, nullptr);
  std::remove("p.hex");
  if (chdir("/") == 0) rmdir(dir);
  reader.host.Stop();
}
BENCHMARK(BM_ProgramDownloadPerByte)->Arg(2000)->Unit(benchmark::kSecond)->Iterations(1);

// The same download done by hand on the same paced reader: the baseline for
// what the simulator's own scheduling costs per byte.
void BM_ProgramByHandPerByte(benchmark::State& state) {
  const std::size_t bytes = static_cast<std::size_t>(state.range(0));
  Reader reader{ReaderConfig::Realistic()};
  const int fd = OpenRaw(reader.host.DevicePath());
  char buf[64];
  if (write(fd, "ONLINE/", 7) != 7 || !ReadAll(fd, buf, 9) || write(fd, "A a.hex/", 8) != 8 ||
      !ReadAll(fd, buf, 10)) {
    state.SkipWithError("the reader did not start a download");
    return;
  }
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < bytes; ++i) {
      const char out[2] = {":0123456789ABCDEF\r\n"[i % 19], '/'};
      if (write(fd, out, 2) != 2 || !ReadAll(fd, buf, 2)) {
        state.SkipWithError("no echo");
        break;
      }
    }
    const double perByteMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count() /
        bytes;
    state.counters["ms_per_byte"] = perByteMs;
    state.counters["ratio_to_wire"] = perByteMs / (4 * 11 * 1000.0 / 38400);
  }
  close(fd);
}
BENCHMARK(BM_ProgramByHandPerByte)->Arg(2000)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
