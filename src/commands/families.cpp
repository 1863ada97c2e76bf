// What OmrS does with "S", "W" and announced "I" commands, and what OmrG
// does with a card's barcode, on behalf of the session.
#include "commands/families.h"

#include <utility>

#include "barcode/pipeline/decode_samples.h"
#include "commands/card_barcode.h"
#include "commands/card_layout.h"
#include "commands/diagnostics.h"
#include "commands/format_download.h"
#include "commands/program_download.h"
#include "session/omr_info.h"

namespace markwire {
namespace {

class LibraryFamilies final : public CommandFamilies {
 public:
  int FormatFile(OmrInfo& s, const std::string& path) override {
    return SendFormatFile(s, path) != 0 ? OmrInfo::kDone : OmrInfo::kFailed;
  }

  int ProgramFile(OmrInfo& s, std::string_view command) override {
    if (SendProgramFile(s, ProgramFileName(command)) != 0) return OmrInfo::kDone;
    s.notifier().Message("程序装载失败！");
    return OmrInfo::kFailed;
  }

  // Runs the operation an "I" command announced, clearing its flag; an "I"
  // command that announces nothing is a plain exchange.
  int Announced(OmrInfo& s, const std::string& command) override {
    if (std::exchange(s.pendingArea, false)) {
      ReadTestArea(s, s.areaArgs);
      return OmrInfo::kDone;
    }
    if (std::exchange(s.pendingI6, false)) {
      ReadTestCurve(s, s.i6Arg);
      return OmrInfo::kDone;
    }
    if (std::exchange(s.pendingI4, false)) {
      ReadTestValues(s);
      return OmrInfo::kDone;
    }
    if (std::exchange(s.pendingSetTest, false))
      return SetTestPoint(s, s.setTestArgs[0], s.setTestArgs[1]);
    if (std::exchange(s.pendingI5, false)) return SendTestPair(s, s.i5Args[0], s.i5Args[1]);
    if (std::exchange(s.pendingI3, false)) return PassCard(s, command);
    return s.ExchangeCommand(command);
  }

  // The card's barcode, read from the sensor waveform, laid out with its
  // data.
  int WithBarcode(OmrInfo& s, char* buffer, std::size_t dataBytes) override {
    const auto length = static_cast<std::size_t>(barcode::ClampedLength(s.barcodeParams[4]));
    const std::string code = ReadBarcode(s);
    return LayOutCard(buffer, code, {s.receiveBuffer.get(), dataBytes}, length,
                      s.barcodeAfterFirstByte);
  }
};

}  // namespace

CommandFamilies& Families() {
  static LibraryFamilies families;
  return families;
}

}  // namespace markwire
