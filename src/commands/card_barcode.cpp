#include "commands/card_barcode.h"

#include <array>
#include <cstdlib>

#include "barcode/pipeline/decode_samples.h"
#include "platform/timings.h"
#include "session/omr_info.h"

namespace markwire {
namespace {

// What a read asks of the session, done on the session.
class SessionEvents final : public barcode::ReadEvents {
 public:
  explicit SessionEvents(OmrInfo& session) : session_(session) {}
  void ClearPending() override { session_.Error().ClearPending(); }
  void SetError(std::string_view code) override { session_.Error().Set(code); }
  void Trace(std::string_view line) override { session_.notifier().Trace(line); }

 private:
  OmrInfo& session_;
};

barcode::BarcodeLine LineOf(const OmrInfo& s) {
  const auto& p = s.Barcode().line;
  return {p[0], p[1], p[2], p[3], p[4]};
}

}  // namespace

std::optional<std::vector<std::uint8_t>> ReadWaveform(OmrInfo& s) {
  s.Write("PR/");
  if (!s.ReadEcho("PR/", kTimings.replyMs)) return std::nullopt;
  s.ReadAnswer(kTimings.replyMs);  // two bytes the reader sends; not looked at
  std::array<std::uint8_t, 4> field{};
  const unsigned got = s.Port()->Read(field, kTimings.replyMs);
  // Read as atoi reads: leading blanks and a sign, digits up to the first
  // other byte; no digits give 0. Four characters cannot exceed 9999.
  const std::string digits(reinterpret_cast<const char*>(field.data()), got);
  const int count = std::atoi(digits.c_str());
  if (count <= 0) return std::nullopt;

  // Taken in pieces, each well within the reply time even from a reader
  // that sends slower than line speed (up to 30 ms a byte), so that a long
  // waveform is not lost to one read's time-out. A waveform cut short is no
  // waveform: what is missing may be any part of the symbol, so the read
  // fails as when none came.
  std::vector<std::uint8_t> samples(static_cast<std::size_t>(count));
  std::size_t have = 0;
  constexpr std::size_t kPiece = 32;
  while (have < samples.size()) {
    const std::size_t want = std::min(kPiece, samples.size() - have);
    const unsigned n = s.Port()->Read(std::span(samples).subspan(have, want), kTimings.replyMs);
    have += n;
    if (n < want) break;
  }
  if (have < samples.size()) return std::nullopt;
  return samples;
}

std::string ReadBarcode(OmrInfo& s) {
  const barcode::BarcodeLine line = LineOf(s);
  const auto bytes = ReadWaveform(s);
  // No waveform: the text is the full stops of a failed read, and nothing
  // is recorded, as when the reader sent one that could not be decoded.
  if (!bytes || bytes->empty())
    return std::string(static_cast<std::size_t>(barcode::ClampedLength(line.length)), '.');
  SessionEvents events(s);
  const auto result = barcode::DecodeSamples(barcode::SamplesInReadingOrder(*bytes, line), line,
                                             s.BarcodeTables(), events, s.BarcodeMode());
  if (s.Error().Pending() && s.Error().Code() == "14") s.notifier().Message("条码数据阅读错误!");
  return result.text;
}

BarcodeSpan CardBarcodeSpan(const OmrInfo& s) {
  const OmrInfo::CardBarcode& card = s.Barcode();
  if (!card.enabled) return {};
  return {card.afterFirstByte ? 1 : 0, barcode::ClampedLength(card.line[4])};
}

}  // namespace markwire
