// What OmrS does with "S", "W" and announced "I" commands, and what OmrG
// does with a card's barcode, on behalf of the session.
#include "commands/families.h"

#include <type_traits>
#include <variant>

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

  // Runs the operation an "I" command announced, and forgets it; an "I"
  // command that announces nothing is a plain exchange.
  int Announced(OmrInfo& s, const std::string& command) override {
    const OmrInfo::Announcement announced = s.TakeAnnouncement();
    return std::visit(
        [&](const auto& a) -> int {
          using A = std::decay_t<decltype(a)>;
          if constexpr (std::is_same_v<A, OmrInfo::AreaRead>) {
            ReadTestArea(s, a.numbers);
            return OmrInfo::kDone;
          } else if constexpr (std::is_same_v<A, OmrInfo::CurveRead>) {
            ReadTestCurve(s, a.number);
            return OmrInfo::kDone;
          } else if constexpr (std::is_same_v<A, OmrInfo::ValueRead>) {
            ReadTestValues(s);
            return OmrInfo::kDone;
          } else if constexpr (std::is_same_v<A, OmrInfo::SetTest>) {
            return SetTestPoint(s, a.line, a.column);
          } else if constexpr (std::is_same_v<A, OmrInfo::TestPair>) {
            return SendTestPair(s, a.first, a.second);
          } else if constexpr (std::is_same_v<A, OmrInfo::PassCardTest>) {
            return PassCard(s, command);
          } else {
            return s.ExchangeCommand(command);
          }
        },
        announced);
  }

  // The card's barcode, read from the sensor waveform, laid out with its
  // data.
  int WithBarcode(OmrInfo& s, char* buffer, std::size_t dataBytes) override {
    const BarcodeSpan span = CardBarcodeSpan(s);
    const std::string code = ReadBarcode(s);
    return LayOutCard(buffer, code, {s.ReceiveBuffer(), dataBytes},
                      static_cast<std::size_t>(span.length), span.offset == 1);
  }
};

}  // namespace

CommandFamilies& Families() {
  static LibraryFamilies families;
  return families;
}

}  // namespace markwire
