// The settings the reader keeps from the calibration and adjustment
// commands. They are ordinary commands on the line; the reader only has to
// remember what they set, so that a test or an operator can see what the
// library sent.
#pragma once

#include <optional>
#include <string_view>

namespace markwire::sim {

// Two numbers in the order they stand in the command.
struct NumberPair {
  long first = 0;
  long second = 0;
  bool operator==(const NumberPair&) const = default;
};

// Each setting is absent until a command sets it.
struct CalibrationValues {
  std::optional<NumberPair> gray;  // "J %02d %02d/"
  std::optional<NumberPair> card;  // "J %03d %02d/"
  std::optional<long> mota;        // "MO %d/"
  std::optional<long> foreTime;    // "m %d/", or "m %d S/" for a negative time
  std::optional<long> behindTime;  // "M %d/", or "M %d S/" for a negative time
  bool operator==(const CalibrationValues&) const = default;
};

// Takes the setting of `command` (its "/" included) into `values`. False, and
// `values` as it was, when the command is not a well-formed calibration
// command; the reader answers such a command like any other.
bool TakeCalibration(std::string_view command, CalibrationValues& values);

}  // namespace markwire::sim
