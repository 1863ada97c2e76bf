// How the simulated reader behaves: its timing and the faults it plays.
#pragma once

#include <cstdint>
#include <vector>

#include "fault.h"
#include "waveform_model.h"

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
  // How long the line stays quiet after the last byte of a program download
  // before the reader takes the download as complete and confirms it. The
  // reader is never told the program's length, so silence is its only end
  // mark. Kept well below the library's 1000 ms wait for each echo, which a
  // healthy download never comes near, and well within its 6000 ms wait for
  // the confirmation. It must not be 0: the library's next byte comes only
  // after it has read the echo of the one before.
  std::int64_t programIdleEndUs = 300'000;
  // Whether commands other than "R/" send a final status. Without it the
  // library waits its full final-status time-out after each of them.
  bool sendFinalStatus = true;
  // How the sensor sees the cards' barcodes ("PR/"). Each card renders with
  // the seed plus its number (1 for the first card fed), so that cards differ
  // in gain, offset, phase and noise, and a card asked twice answers alike.
  OpticsOptions barcodeOptics;
  // Wide to narrow of the printed Code 39 and Interleaved 2 of 5 symbols,
  // 2.0 to 3.0; outside that range the reader finds nothing to sample.
  double barcodeWideRatio = 2.5;
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
