// A fault soak: cards read through the classic interface from a simulated
// reader on virtual time, with one of the reader's faults armed at random
// before a share of the cards, and every card judged against the cards the
// reader actually fed. Deterministic for a seed. The unit tests run a short
// soak; bench/fault_soak runs long ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fault.h"

namespace markwire::test {

struct SoakOptions {
  std::uint64_t seed = 1;
  std::size_t cards = 1000;
  // A real reader's pace (38400 baud, answer and card delays), or replies at
  // once.
  bool pacing = false;
  // The reader on a pseudo-terminal, in real time, against the library's
  // serial port; otherwise behind an in-memory line on virtual time.
  bool pty = false;
  // The share of cards before which one fault is armed.
  double faultShare = 0.5;
  // Faults armed before the first card, each left armed until it fires (the
  // random ones are armed for one card only).
  std::vector<sim::Fault> armedFirst;
  // Cards (counted from 0) whose wire exchanges are printed on standard
  // error, to see what went wrong with one.
  std::size_t traceFirst = SIZE_MAX;
  std::size_t traceLast = 0;
};

struct SoakTally {
  std::size_t cards = 0;
  std::size_t exact = 0;
  // A result that says the read failed: 0, -1, or 255 with a code.
  std::size_t failed = 0;
  // The data exact and the barcode full stops: the barcode read failed, as
  // the classic interface reports it.
  std::size_t barcodeFailed = 0;
  // A count with a text that is not the card the reader fed, or a card when
  // none was fed.
  std::size_t silentlyWrong = 0;
  // Cards during whose read no fault fired and which began on a quiet line
  // (no bytes of an earlier reply still on their way), and how many of them
  // were exact.
  std::size_t untouched = 0;
  std::size_t untouchedExact = 0;
  std::size_t faultsFired = 0;
  // One line per silently wrong card, and per untouched card that was not
  // exact (the first few of each): what was armed, what came back.
  std::vector<std::string> wrong;
  std::vector<std::string> untouchedMisses;
  // Each card's outcome in order: 'E' exact, 'F' reported failed, 'B' the
  // barcode failed, 'W' silently wrong.
  std::string outcomes;

  SoakTally& operator+=(const SoakTally& other);
  std::string Summary() const;
};

// Runs one soak on the process's default session (the classic interface),
// which it replaces for the run and restores afterwards.
SoakTally RunSoak(const SoakOptions& options);

}  // namespace markwire::test
