// How the simulated reader behaves: its timing and the faults it plays.
#pragma once

#include <cstdint>
#include <vector>

#include "fault.h"

namespace markwire::sim {

// One byte at 38400 baud with a start bit, 8 data bits, a parity bit and a
// stop bit: 11 bits, 286.5 us.
inline constexpr std::int64_t kPacedByteTimeUs = 286;

// All times in microseconds. The defaults answer as fast as possible, which
// keeps tests quick; Realistic() gives the pace of a real reader.
struct ReaderConfig {
  // Time per byte sent; 0 sends every reply at once.
  std::int64_t byteTimeUs = 0;
  // From the end of the echo to the answer ("EN" or a status).
  std::int64_t answerDelayUs = 0;
  // From the end of the answer to the final status of commands that have one.
  std::int64_t finalStatusDelayUs = 0;
  // From the end of the answer to "R/" to its final status: the card's
  // travel through the reader.
  std::int64_t cardDelayUs = 0;
  // Whether commands other than "R/" send a final status. Without it the
  // library waits its full final-status time-out after each of them.
  bool sendFinalStatus = true;
  std::vector<Fault> faults;

  static ReaderConfig Realistic() {
    ReaderConfig config;
    config.byteTimeUs = kPacedByteTimeUs;
    config.answerDelayUs = 2'000;
    config.finalStatusDelayUs = 5'000;
    config.cardDelayUs = 300'000;
    return config;
  }
};

}  // namespace markwire::sim
