// Sending a command: classification, the basic echo-and-answer exchange, the
// final status; files and announced test operations go to the command
// families.
#include <array>
#include <cstdlib>
#include <utility>

#include "platform/timings.h"
#include "session/command_text.h"
#include "session/omr_info.h"

namespace markwire {

char OmrInfo::ClassifyCommand(std::string_view command) {
  std::size_t i = 0;
  while (i < command.size() && command[i] == ' ') ++i;
  if (i == command.size()) return 'e';
  const char key = command[i];

  if (key == 'r' || (key >= '0' && key <= '9')) {
    std::array<int, 2> n{};
    const int count = ExtractNumbers(command, n, 5);
    if (count < 0) return kUnclassifiable;
    if (count == 0) {
      nextBlock_.limit = 10;
      nextBlock_.fixedReply = true;
      return key;
    }
    nextBlock_.fixedReply = false;
    nextBlock_.limited = true;
    // A single number gives no limit: the block may fill the receive buffer.
    nextBlock_.limit = count >= 2 ? static_cast<std::uint32_t>(n[1]) : kMaxBlock;
    if (n[0] == 1) nextBlock_.extraByte = true;
    return key;
  }

  if (key == 'I') {
    std::array<int, 5> n{};
    const int count = ExtractNumbers(command, n, 5);
    if (count < 0) return kUnclassifiable;
    if (count == 0) return 'e';
    switch (n[0]) {
      case 1:
      case 2:
        // The area's point count becomes the limit of the next block, as it
        // always has (applications size OmrG's buffer by the whole block).
        nextBlock_.limit = static_cast<std::uint32_t>(std::abs(n[4] - n[2])) *
                           static_cast<std::uint32_t>(std::abs(n[3] - n[1]));
        announced_ = AreaRead{n};
        break;
      case 3:
        announced_ = PassCardTest{};
        break;
      case 4:
        announced_ = ValueRead{};
        break;
      case 5:
        announced_ = TestPair{n[1], n[2]};
        break;
      case 6:
        announced_ = CurveRead{n[1]};
        break;
      case 0:
        announced_ = SetTest{n[1], n[2]};
        break;
      default:
        break;
    }
    return 'I';
  }
  return key;
}

int OmrInfo::ExchangeCommand(std::string_view command) {
  if (PortLost()) return kNotOpen;
  error_.Reset();
  Write(command);
  if (!ReadEcho(command, kTimings.replyMs)) {
    error_.Set("10");
    return kFailed;
  }
  const std::string answer = ReadAnswer(kTimings.replyMs);
  if (IsStatusCode(answer)) {
    error_.Set(answer);
    return kFailed;
  }
  return answer == "EN" ? kDone : kAccepted;
}

// Most commands may send a second answer of the same form when the reader has
// finished; the library waits for it a while and goes on without it.
int OmrInfo::FinalStatus(int exchangeResult) {
  finalGarbled_ = false;
  if (exchangeResult <= 0) return exchangeResult;
  const std::string answer = ReadAnswer(kTimings.finalStatusMs);
  if (IsStatusCode(answer)) {
    error_.Set(answer);
    return kFailed;
  }
  if (answer == "EN") return kDone;
  // Bytes that are neither "EN" nor a status are not this command's: what
  // else they brought is let pass before the next command.
  finalGarbled_ = !answer.empty();
  if (finalGarbled_) SettleLine();
  return exchangeResult;
}

void OmrInfo::AwaitLateStatus() {
  std::array<std::uint8_t, 2> late{};
  if (port_->IsValid() && port_->Read(late, kTimings.finalStatusMs) > 0) SettleLine();
}

int OmrInfo::SendCommand(const char* command) {
  if (!port_ || !port_->IsValid()) return kNotOpen;
  // A command must end with "/" within the 99 characters the reader takes;
  // anything else is refused before it reaches the line.
  const auto copy = CommandUpToSlash(command);
  if (!copy) return Refuse();
  if (!PurgeLine() && port_->IsValid()) {
    // A reply nobody asked for is still coming: a command sent into it would
    // be lost in it, and "R/" would feed a card that could not be read.
    error_.Set("10");
    return kFailed;
  }

  switch (const char key = ClassifyCommand(*copy)) {
    case kUnclassifiable:
      // A number longer than five digits: the read limit or test arguments it
      // would set cannot be known, so the command is not sent.
      return Refuse();
    case 'S': {
      // The file name runs from the text's third character (leading blanks
      // counted) to the "/"; a name with a "/" of its own is cut there.
      const std::string path = copy->size() > 3 ? copy->substr(2, copy->size() - 3) : "";
      return families_.FormatFile(*this, path);
    }
    case 'W':
      return families_.ProgramFile(*this, *copy);
    case 'I':
      return families_.Announced(*this, *copy);
    case 'R': {
      const int r = ExchangeCommand(*copy);
      // A garbled echo may still have been the reader's, behind stray bytes:
      // then it feeds a card and says so after the card's travel, far later
      // than any pause in the bytes, and that final status would meet the
      // next echo - the next "R/", which would feed and lose another card.
      if (r == kFailed && echoGarbled_) AwaitLateStatus();
      clock_.SleepMs(kTimings.readPauseMs);
      const int fed = FinalStatus(r);
      // Only a final status that said nothing else confirms the feed.
      feedConfirmed_ = fed == kDone && !finalGarbled_;
      cardMayBeHeld_ = true;  // whatever this did, the reader may now hold a card
      return fed;
    }
    case '-': {
      const int r = ExchangeCommand(*copy);
      error_.Reset();  // a status of "-/" is dropped
      cardMayBeHeld_ = r != kDone;
      return r;
    }
    case 'r':
    case 'Q':
      return ExchangeCommand(*copy);
    default:
      (void)key;
      return FinalStatus(ExchangeCommand(*copy));
  }
}

}  // namespace markwire
