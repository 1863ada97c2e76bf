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
  const int fd = open(reader.host.DevicePath().c_str(), O_RDWR | O_NOCTTY);
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
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

}  // namespace

BENCHMARK_MAIN();
