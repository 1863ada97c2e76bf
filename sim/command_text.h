// How the reader reads a command's text: which family it belongs to and which
// numbers it carries. The reader takes a command apart the way the library
// composes it, so that both agree on what a command announces.
#pragma once

#include <string_view>
#include <vector>

namespace markwire::sim {

// The families of commands the reader tells apart by their text alone. What
// a command does also depends on the reader's state: during a format
// download every command is one of the format's.
enum class CommandFamily {
  Online,    // text ending in "ONLINE/"
  Feed,      // "R": feed a card
  Data,      // "r": send the current card's data block
  Quit,      // "Q": go offline
  EndCard,   // "-": done with the current card
  Format,    // "S": format download
  Program,   // "A": opens a program download
  Test,      // "I": test and diagnostic commands
  Waveform,  // "PR": barcode waveform request
  Other,     // anything else, digits and blank commands included; the
             // calibration commands ("J", "MO", "m", "M") are among them
};

// The text without its leading spaces (only spaces: the library skips
// nothing else either).
std::string_view WithoutLeadingSpaces(std::string_view text);

// The family of a complete command (its "/" included).
CommandFamily ClassifyCommand(std::string_view command);

// Every maximal run of decimal digits is one number. A run too long for an
// int saturates instead of overflowing: the reader never trusts its input.
std::vector<long> ExtractNumbers(std::string_view text);

}  // namespace markwire::sim
