#include "command_exchange.h"

#include <cstdio>
#include <vector>

#include "checks.h"
#include "cli.h"
#include "markwire.h"

namespace markwire::cli {

namespace exchange_detail {

// OmrG writes at most 2050 bytes plus twice the longest barcode.
constexpr std::size_t kBlockBuffer = 4096;

void ReadErrorRecord(CommandAnswer& answer) {
  char code[4] = {};
  char text[64] = {};
  OmrGetError(code);
  OmrGetErrorStr(text);
  answer.code = code;
  answer.text = text;
}

}  // namespace exchange_detail

bool AnnouncesBlock(std::string_view command) {
  const auto first = command.find_first_not_of(' ');
  if (first == std::string_view::npos) return false;
  const char key = command[first];
  return key == 'r' || (key >= '0' && key <= '9');
}

CommandAnswer SendAndCollect(const std::string& command) {
  CommandAnswer answer;
  answer.command = command;
  answer.result = OmrS(command.c_str());
  if (answer.result == 0) exchange_detail::ReadErrorRecord(answer);
  if (answer.result <= 0 || !AnnouncesBlock(command)) return answer;
  answer.blockAsked = true;
  // An empty text: with a barcode in front, OmrG appends to what it holds.
  std::vector<char> buffer(exchange_detail::kBlockBuffer, '\0');
  answer.blockResult = OmrG(buffer.data());
  buffer.back() = '\0';
  if (answer.blockResult > 0) {
    answer.block = buffer.data();
  } else if (answer.blockResult == 0) {
    exchange_detail::ReadErrorRecord(answer);
  }
  return answer;
}

void PrintAnswer(const CommandAnswer& answer, bool json) {
  const bool commandFailed = answer.result <= 0;
  const bool blockFailed = answer.blockAsked && answer.blockResult <= 0;
  if (json) {
    nlohmann::json out{{"command", answer.command}, {"result", answer.result}};
    if (answer.blockAsked) {
      out["block"] = answer.blockResult;
      out["data"] = answer.block;
    }
    if ((commandFailed && answer.result == 0) || (blockFailed && answer.blockResult == 0)) {
      out["error"] = answer.code;
      out["text"] = answer.text;
    }
    PrintJson(out);
    return;
  }
  if (answer.result < 0) {
    std::printf("result %d  the reader is not on line\n", answer.result);
  } else if (commandFailed) {
    std::printf("result %d  error %s %s\n", answer.result, Escaped(answer.code).c_str(),
                Escaped(answer.text).c_str());
  } else {
    std::printf("result %d\n", answer.result);
  }
  if (answer.blockAsked) {
    if (answer.blockResult < 0) {
      std::printf("block %d  the reader is not on line\n", answer.blockResult);
    } else if (blockFailed) {
      std::printf("block %d  error %s %s\n", answer.blockResult, Escaped(answer.code).c_str(),
                  Escaped(answer.text).c_str());
    } else {
      std::printf("block %d %s\n", answer.blockResult, Escaped(answer.block).c_str());
    }
  }
  std::fflush(stdout);
}

}  // namespace markwire::cli
