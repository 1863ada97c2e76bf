#include "barcode/pipeline/decode_samples.h"

#include <algorithm>
#include <array>

#include "barcode/pipeline/code128_reduction.h"
#include "barcode/pipeline/conditioning.h"
#include "barcode/pipeline/spline.h"
#include "barcode/pipeline/two_width_reduction.h"
#include "barcode/symbols/code128_decoder.h"
#include "barcode/symbols/two_width_decoder.h"
#include "barcode/synthesis/synthesis.h"

namespace markwire::barcode {
namespace {

constexpr int kPointsPerSample = 10;

// The text a read works in: 127 characters and a NUL. It starts as full
// stops, so whatever a translation does not overwrite reads as a failure.
class TextBuffer {
 public:
  void Fill() {
    text_.fill('.');
    text_.back() = '\0';
  }
  std::span<char> Span() { return text_; }
  // The text from `from` up to the first NUL at or behind it.
  std::string From(std::size_t from) const {
    std::string out;
    for (std::size_t i = from; i < text_.size() && text_[i] != '\0'; ++i) out += text_[i];
    return out;
  }
  void Terminate(std::size_t at) { text_[std::min(at, text_.size() - 1)] = '\0'; }

 private:
  std::array<char, 128> text_{};
};

// The Code 128 decoder's reports. Its trace line says whether the read
// decoded; outside the classic mode the last one waits for the guard's and
// the second decoder's word.
class Code128Reports {
 public:
  Code128Reports(ReadEvents& events, bool deferLast) : events_(events), defer_(deferLast) {}
  void Add(const Code128Outcome& outcome) {
    if (outcome.startMissing) events_.SetError("10");
    if (!outcome.traced) return;
    if (!defer_) return events_.Trace(outcome.decoded ? "successFlag: 1" : "successFlag: 0");
    Flush(pending_);
    pending_ = outcome.decoded ? 1 : 0;
  }
  // The read's outcome: the held line carries it; a read decoded by the
  // second decoder where the classic one traced nothing says so too.
  void Finish(bool decoded) {
    if (pending_ >= 0 || decoded) Flush(decoded ? 1 : 0);
    pending_ = -1;
  }

 private:
  void Flush(int flag) {
    if (flag >= 0) events_.Trace(flag == 1 ? "successFlag: 1" : "successFlag: 0");
  }
  ReadEvents& events_;
  bool defer_;
  int pending_ = -1;
};

}  // namespace

int ClampedLength(int length) { return std::clamp(length, 0, kMaxBarcodeLength); }

int ExpectedCount(const BarcodeLine& line) {
  const int length = ClampedLength(line.length);
  return line.symbology == kCode39 || line.symbology == kInterleaved2of5 ? length : length / 2;
}

std::vector<double> SamplesInReadingOrder(std::span<const std::uint8_t> bytes,
                                          const BarcodeLine& line) {
  std::vector<double> samples(bytes.begin(), bytes.end());
  if (!(line.second > line.third)) std::reverse(samples.begin(), samples.end());
  return samples;
}

DecodeResult DecodeSamples(std::vector<double> samples, const BarcodeLine& line,
                           SymbolTables& tables, ReadEvents& events, BarcodeMode mode) {
  const bool guarded = mode != BarcodeMode::kClassic;
  const bool second = mode == BarcodeMode::kGuardedSecondDecoder;
  // The guard and the second decoder look at the samples as they came.
  const std::vector<double> received = guarded ? samples : std::vector<double>{};
  const int length = ClampedLength(line.length);
  const int expected = ExpectedCount(line);
  tables.BuildSymbolTable(line.symbology);
  tables.BuildPatternIndex();
  SmoothSamples(samples);
  TrimFlatEnds(samples);

  DecodeResult result;
  TextBuffer text;
  const auto pass = [&] {
    ResampleSpline(samples, result.waveform, kPointsPerSample);
    FindTurningPoints(result.waveform, result.positions);
    result.turningPoints = result.positions;
    result.patterns.clear();
  };
  // Outside the classic mode: the classic text only when the samples clearly
  // support it, else (second decoder) what the synthesis finds under the
  // same test. Either way the patterns end up as the classic ones would.
  const auto judge = [&](bool classicDecoded) {
    if (!guarded) return classicDecoded;
    // Any other symbology number reads like Code 128 with whatever rows the
    // index kept; the second decoder knows no such symbol.
    const bool known = line.symbology == kCode128 || line.symbology == kCode39 ||
                       line.symbology == kInterleaved2of5;
    const int symbology = known ? line.symbology : kCode128;
    // Framed once for the guard and the second decoder.
    const synthesis::SymbolReader reader(received, symbology, expected);
    if (classicDecoded) {
      const auto verdict = reader.Confirm(result.patterns);
      result.explanation = "classic: " + verdict.explanation;
      if (verdict.accepted) return true;
    } else {
      result.explanation = "classic: no symbol";
    }
    if (!second || !known) return false;
    auto verdict = reader.Decode();
    result.explanation += "; second decoder: " + verdict.explanation;
    if (!verdict.accepted) return false;
    result.patterns = std::move(verdict.patterns);
    result.bySecondDecoder = true;
    return true;
  };
  const auto twoWidthOutcome = [&](bool framed) {
    std::size_t n = framed ? TranslateDataPatterns(tables, result.patterns, text.Span()) : 0;
    result.decoded = judge(framed && n == static_cast<std::size_t>(expected));
    if (result.decoded && result.bySecondDecoder) {
      text.Fill();
      n = TranslateDataPatterns(tables, result.patterns, text.Span());
      result.decoded = n == static_cast<std::size_t>(expected);
    }
    result.text = result.decoded ? text.From(0).substr(0, static_cast<std::size_t>(length))
                                 : std::string(static_cast<std::size_t>(length), '.');
  };

  if (line.symbology == kCode39) {
    pass();
    text.Fill();
    const bool framed = ReduceToBarFrame(result.waveform, result.positions, expected, kCode39);
    if (framed) {
      MergeSmallSwings(result.waveform, result.positions,
                       static_cast<std::size_t>(10L * expected + 19));
      // A symbol read backwards decodes with the flag off; the second
      // attempt's outcome shows in the translation's length.
      if (!DecodeCode39(result.waveform, result.positions, result.patterns, expected, true))
        DecodeCode39(result.waveform, result.positions, result.patterns, expected, false);
    }
    twoWidthOutcome(framed);
  } else if (line.symbology == kInterleaved2of5) {
    const long pairs = expected % 2 == 0 ? expected : expected + 1L;
    bool framed = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
      pass();
      text.Fill();
      framed = ReduceToBarFrame(result.waveform, result.positions, expected, kInterleaved2of5);
      if (!framed) break;  // no second pass for a symbol that is not there
      MergeSmallSwings(result.waveform, result.positions, static_cast<std::size_t>(5 * pairs + 7));
      if (DecodeInterleaved2of5(result.waveform, result.positions, result.patterns, expected))
        break;
      // Second pass on the samples reversed (not smoothed or trimmed again).
      if (attempt == 0) std::reverse(samples.begin(), samples.end());
    }
    twoWidthOutcome(framed);
  } else {
    pass();
    TrimQuietZones(result.waveform, result.positions, expected);
    CentreExtrema(result.waveform, result.positions, expected);
    text.Fill();
    events.ClearPending();
    Code128Reports reports(events, guarded);
    Code128Outcome outcome =
        DecodeCode128(result.positions, result.patterns, tables, expected, false);
    reports.Add(outcome);
    if (!outcome.decoded) {
      text.Fill();
      result.patterns.clear();
      outcome = DecodeCode128(result.positions, result.patterns, tables, expected, true);
      reports.Add(outcome);
    }
    result.decoded = judge(outcome.decoded);
    reports.Finish(result.decoded);
    if (result.decoded) {
      TranslateAllPatterns(tables, result.patterns, text.Span());
    } else {
      text.Fill();
      events.SetError("14");
    }
    // The symbol's first character is FNC1, whose text is the four
    // characters skipped here; the check character's two digits fall behind
    // the cut at 4 + length.
    text.Terminate(4 + static_cast<std::size_t>(length));
    result.text = text.From(4);
  }
  result.samples = std::move(samples);
  return result;
}

}  // namespace markwire::barcode
