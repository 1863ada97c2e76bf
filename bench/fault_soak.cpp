// The long fault soak: cards read through the classic interface from a
// simulated reader on virtual time, with one of its faults armed at random
// before a share of the cards, every card judged against the cards the reader
// fed. The unit tests run a short one of the same kind.
//
//   fault_soak [cards per seed] [first seed] [seeds] [pacing 0|1|both] [pty]
//
// With "pty" the reader answers on a pseudo-terminal in real time, as it
// does for the CLI's sim, and every wait of the protocol costs real time.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/fault_soak.h"

int main(int argc, char** argv) {
  using markwire::test::RunSoak;
  using markwire::test::SoakOptions;
  using markwire::test::SoakTally;
  const std::size_t cards = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 2000;
  const std::uint64_t first = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
  const std::uint64_t seeds = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 5;
  const std::string pacing = argc > 4 ? argv[4] : "both";
  const bool pty = argc > 5 && std::string(argv[5]) == "pty";
  int status = 0;
  for (const bool paced : {false, true}) {
    if ((paced && pacing == "0") || (!paced && pacing == "1")) continue;
    SoakTally all;
    const auto start = std::chrono::steady_clock::now();
    for (std::uint64_t seed = first; seed < first + seeds; ++seed) {
      SoakOptions options;
      options.seed = seed;
      options.cards = cards;
      options.pacing = paced;
      options.pty = pty;
      if (const char* trace = std::getenv("SOAK_TRACE")) {
        // "first-last" cards of every seed
        options.traceFirst = std::strtoul(trace, nullptr, 10);
        const char* dash = std::strchr(trace, '-');
        options.traceLast = dash ? std::strtoul(dash + 1, nullptr, 10) : options.traceFirst;
      }
      const SoakTally tally = RunSoak(options);
      std::printf("seed %llu %s: %s\n", static_cast<unsigned long long>(seed),
                  paced ? "paced" : "unpaced", tally.Summary().c_str());
      all += tally;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("all %s (%.1f s): %s\n\n", paced ? "paced" : "unpaced", seconds,
                all.Summary().c_str());
    if (all.silentlyWrong != 0) status = 1;
  }
  return status;
}
