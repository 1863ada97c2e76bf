// How the reader reads a command's text: which family it belongs to and which
// numbers it carries. The reader takes a command apart the way the library
// composes it, so that both agree on what a command announces.
#pragma once

#include <string_view>
#include <vector>

namespace markwire::sim {

// The families of commands the reader tells apart. Format, Program, Test and
// Waveform are the families whose exchanges are not simulated yet.
enum class CommandFamily {
  Online,    // text ending in "ONLINE/"
  Feed,      // "R": feed a card
  Data,      // "r": send the current card's data block
  Quit,      // "Q": go offline
  EndCard,   // "-": done with the current card
  Format,    // "S": format download
  Program,   // "W": program download
  Test,      // "I": test and diagnostic commands
  Waveform,  // "PR": barcode waveform request
  Other,     // anything else, digits and blank commands included
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
