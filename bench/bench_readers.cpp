// Several readers in one process: cards per minute with 1, 2 and 4 simulated
// readers at a real reader's pace, each on its own pseudo-terminal and
// driven through its own reader handle from a thread of its own, against one
// reader alone in the same run; and the process's CPU time per card.
//
//   bench_readers [CARDS]   cards per reader, default 12
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "markwire.h"
#include "pty_host.h"
#include "reader_machine.h"

namespace {

using namespace markwire;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Simulated {
  explicit Simulated(int cards, int index)
      : machine(sim::ReaderConfig::Realistic(), Cards(cards, index)), host(machine) {
    if (!host.Start()) {
      std::fprintf(stderr, "cannot start a simulated reader: %s\n", host.LastError().c_str());
      std::exit(1);
    }
  }
  static std::unique_ptr<sim::CardSource> Cards(int count, int index) {
    std::vector<sim::Card> cards;
    for (int k = 0; k < count; ++k)
      cards.push_back({std::string(40, static_cast<char>('A' + index)) + std::to_string(k), ""});
    return std::make_unique<sim::ListCards>(std::move(cards));
  }
  sim::ReaderMachine machine;
  sim::PtyHost host;
};

struct Run {
  double seconds = 0;
  double cpu = 0;
  int cards = 0;
  bool exact = true;
};

// Opens every reader (the hand-shakes are not timed), then reads every
// card of every reader at once.
Run ReadAll(int readers, int cards) {
  std::vector<std::unique_ptr<Simulated>> simulated;
  std::vector<mw_reader*> handles;
  for (int i = 0; i < readers; ++i) simulated.push_back(std::make_unique<Simulated>(cards, i));
  handles.resize(static_cast<std::size_t>(readers));
  {
    std::vector<std::thread> opening;
    for (int i = 0; i < readers; ++i)
      opening.emplace_back([&, i] {
        char why[128];
        handles[static_cast<std::size_t>(i)] =
            mw_open(simulated[static_cast<std::size_t>(i)]->host.DevicePath().c_str(), why,
                    sizeof why);
        if (!handles[static_cast<std::size_t>(i)]) std::fprintf(stderr, "open: %s\n", why);
      });
    for (auto& t : opening) t.join();
  }
  Run run;
  std::vector<int> read(static_cast<std::size_t>(readers), 0);
  std::vector<char> exact(static_cast<std::size_t>(readers), 1);
  const double cpu = CpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int i = 0; i < readers; ++i)
    threads.emplace_back([&, i] {
      const auto si = static_cast<std::size_t>(i);
      char data[MW_BLOCK_SIZE];
      for (int k = 0; k < cards; ++k) {
        const int n = mw_read_card(handles[si], 0, 2000, data, sizeof data);
        if (n <= 0) break;
        ++read[si];
        if (std::string(data) != std::string(40, static_cast<char>('A' + i)) + std::to_string(k))
          exact[si] = 0;
      }
    });
  for (auto& t : threads) t.join();
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.cpu = CpuSeconds() - cpu;
  for (int i = 0; i < readers; ++i) {
    run.cards += read[static_cast<std::size_t>(i)];
    run.exact = run.exact && exact[static_cast<std::size_t>(i)] &&
                read[static_cast<std::size_t>(i)] == cards;
    mw_close(handles[static_cast<std::size_t>(i)]);
  }
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  const int cards = argc > 1 ? std::atoi(argv[1]) : 12;
  if (cards < 1 || cards > 10000) {
    std::fprintf(stderr, "usage: bench_readers [CARDS]   (1 to 10000 cards per reader)\n");
    return 64;
  }
  std::printf("| readers | cards | seconds | cards per minute | against one reader | CPU per card | every card exact |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  double single = 0;
  for (const int readers : {1, 2, 4}) {
    const Run run = ReadAll(readers, cards);
    const double perMinute = 60.0 * run.cards / run.seconds;
    if (readers == 1) single = perMinute;
    std::printf("| %d | %d | %.2f | %.0f | %.2f | %.2f ms | %s |\n", readers, run.cards, run.seconds,
                perMinute, perMinute / single, 1000.0 * run.cpu / run.cards,
                run.exact ? "yes" : "NO");
  }
  return 0;
}
