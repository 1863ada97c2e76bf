// The fault soak, short: every card read through the classic interface while
// the simulated reader plays one of its faults before about half of them.
// bench/fault_soak runs the long one.
#include <gtest/gtest.h>

#include <variant>

#include "support/fault_soak.h"

namespace markwire::test {
namespace {

void Soak(bool pacing) {
  SoakTally all;
  // Each seed picks a symbology and whether the barcode follows the first
  // data byte, so six seeds cover every layout.
  for (std::uint64_t seed = 1; seed <= 6; ++seed) {
    SoakOptions options;
    options.seed = seed;
    options.cards = 850;
    options.pacing = pacing;
    all += RunSoak(options);
  }
  SCOPED_TRACE(all.Summary());
  EXPECT_EQ(all.silentlyWrong, 0u);
  EXPECT_GE(all.untouchedExact, all.untouched * 99 / 100);
  // The soak is only worth its time when faults did fire and cards did read.
  EXPECT_GE(all.faultsFired, all.cards / 3);
  EXPECT_GE(all.exact, all.cards / 2);
  EXPECT_GE(all.untouched, all.cards / 3);
}

TEST(FaultSoak, NoCardSilentlyWrongAndCleanCardsExactWithoutPacing) {
  Soak(false);
}

TEST(FaultSoak, NoCardSilentlyWrongAndCleanCardsExactAtAReadersPace) {
  Soak(true);
}

// One fault, played once by a fresh reader at a real reader's pace, then six
// cards: the fault may cost the card it hits and the one after (a stray byte
// after a card's last command meets the next "R/"), never more, and no card
// is silently wrong.
TEST(FaultRecovery, OneFaultCostsAtMostTheCardItHitAndTheNext) {
  for (const char* text :
       {"wrong-echo:R*1", "wrong-echo:r*1", "wrong-echo:PR*1", "wrong-echo:-*1",
        "status:R=16*1", "status:r=07*1", "status:PR=07*1", "final:R=07*1", "final:r=07*1",
        "final:-=07*1", "final:PR=EN*1", "silence:R*1", "silence:r*1", "silence:PR*1",
        "no-answer:R*1", "no-answer:r*1", "no-answer:-*1", "slow:r=20*1", "slow:PR=20*1",
        "truncate:r*1", "garbage:r*1", "garbage:PR*1", "extra:R=EN*1", "extra:r=XY*1",
        "extra:-=XY*1", "extra:PR=EN*1", "partial-echo:R*1", "partial-echo:r*1",
        "short-block:PR=100*1", "hangup:r*1"}) {
    const auto fault = sim::ParseFault(text);
    ASSERT_TRUE(std::holds_alternative<sim::Fault>(fault)) << text;
    // Three seeds: the three symbologies.
    for (std::uint64_t seed = 1; seed <= 3; ++seed) {
      SoakOptions options;
      options.seed = seed;
      options.cards = 6;
      options.pacing = true;
      options.faultShare = 0;
      options.armedFirst = {std::get<sim::Fault>(fault)};
      const SoakTally tally = RunSoak(options);
      SCOPED_TRACE(std::string(text) + " seed " + std::to_string(seed) + ": " + tally.Summary());
      EXPECT_EQ(tally.faultsFired, 1u);
      EXPECT_EQ(tally.silentlyWrong, 0u);
      EXPECT_EQ(tally.outcomes.substr(2), "EEEE");
    }
  }
}

}  // namespace
}  // namespace markwire::test
