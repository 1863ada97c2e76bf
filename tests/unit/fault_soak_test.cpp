// The fault soak, short: every card read through the classic interface while
// the simulated reader plays one of its faults before about half of them.
// bench/fault_soak runs the long one.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace markwire::test
