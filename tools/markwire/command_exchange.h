// One command through the classic interface as an operator sends it: its
// result, the reader's code and text when it refused, and the data block
// when the command asks for one.
#pragma once

#include <string>
#include <string_view>

namespace markwire::cli {

struct CommandAnswer {
  std::string command;
  int result = 0;          // OmrS's
  std::string code, text;  // the error record, when the command or its block failed
  bool blockAsked = false;
  int blockResult = 0;  // OmrG's: the block's announced length, 0 failed, -1 not on line
  std::string block;

  // The command was taken and any block it asked for arrived.
  bool Ok() const { return result > 0 && (!blockAsked || blockResult > 0); }
  bool ReaderLost() const { return result < 0 || (blockAsked && blockResult < 0); }
};

// Whether the reader answers `command` with a data block for OmrG: a read
// command, "r ..." or one that starts with a digit, as the library itself
// sorts them (the "I" tests collect their own blocks inside OmrS).
bool AnnouncesBlock(std::string_view command);

CommandAnswer SendAndCollect(const std::string& command);

// Text: "result N" (and "  error CODE TEXT"), then "block N TEXT" for a
// block; JSON: one object with the command, its result, and the block as
// "block" (OmrG's result) and "data".
void PrintAnswer(const CommandAnswer& answer, bool json);

}  // namespace markwire::cli
