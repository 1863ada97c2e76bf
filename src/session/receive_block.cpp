// Receiving one data block: length field, data, "EN" - within the limits the
// last read command set - or handing over a pending status code instead.
#include <algorithm>
#include <cstring>

#include "barcode/pipeline/decode_samples.h"
#include "platform/timings.h"
#include "session/omr_info.h"

namespace markwire {
namespace {

bool AllDigits(std::span<const std::uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(),
                     [](std::uint8_t b) { return b >= '0' && b <= '9'; });
}

}  // namespace

int OmrInfo::ReceiveBlock(char* buffer) {
  if (PortLost()) return kNotOpen;
  lastBlockBytes_ = 0;
  if (error_.Pending()) {
    error_.CopyCode(buffer);
    return kDone;
  }

  std::size_t length = 0;  // bytes to read
  int reported = 0;        // what the length field announced
  const bool fixed = nextBlock_.fixedReply;
  if (fixed) {
    nextBlock_.fixedReply = false;
    length = 4;
  } else {
    std::array<std::uint8_t, 4> field{};
    const unsigned n = port_->Read(field, kTimings.replyMs);
    // Nothing at all: the block did not come, which the data read below
    // reports. Anything else must be four digits; a damaged field cannot be
    // trusted to say where the block ends.
    if (n != 0 && (n != field.size() || !AllDigits(field))) return RefuseBlock("10");
    for (unsigned i = 0; i < n; ++i) reported = reported * 10 + (field[i] - '0');
    if (static_cast<std::size_t>(reported) > kMaxBlock) return RefuseBlock("02");
    length = static_cast<std::size_t>(reported);
    if (nextBlock_.limited) {
      if (length > nextBlock_.limit) {
        length = nextBlock_.limit;
        if (nextBlock_.extraByte) {
          ++length;
          nextBlock_.extraByte = false;
        }
      } else {
        ++length;  // the reader sends one byte past the length it announces
      }
    }
  }
  // length <= reported + 1 <= kMaxBlock + 1: it fits with its NUL.

  std::span<std::uint8_t> data(reinterpret_cast<std::uint8_t*>(receiveBuffer_.get()), length);
  unsigned got = port_->Read(data, kTimings.replyMs);
  if (got == 0) got = port_->Read(data, kTimings.replyMs);
  const bool lost = got == 0;
  if (lost) error_.Set("14");
  // Only what arrived counts; a short block is not padded with the last one.
  receiveBuffer_[got] = '\0';

  const std::string end = ReadAnswer(kTimings.replyMs);
  if (end == "EN") {
    PurgeLine();
  } else if (end.empty()) {
    port_->Purge();
  } else {
    SettleLine();  // the block went on past where it should have ended
  }
  // A block whose bytes never came is no card, even when its end mark did:
  // the read fails and its "14" stays pending for the next OmrG.
  if (end != "EN" || lost) return kFailed;

  const std::size_t text = std::strlen(receiveBuffer_.get());
  lastBlockBytes_ = text;
  if (barcode_.enabled && nextBlock_.limited) {
    nextBlock_.limited = false;
    return families_.WithBarcode(*this, buffer, text);
  }
  nextBlock_.limited = false;
  if (buffer != nullptr) std::memcpy(buffer, receiveBuffer_.get(), text + 1);
  // A block without a length field reports the bytes it delivered.
  return fixed ? static_cast<int>(text) : reported;
}

// Refuses a block whose framing cannot be trusted: the rest of it is let
// pass (the settle time covers the longest block a length field can
// announce at line speed) so that it cannot be taken for the next reply, and
// the code is left pending.
int OmrInfo::RefuseBlock(std::string_view code) {
  SettleLine();
  error_.Set(code);
  return kFailed;
}

}  // namespace markwire
