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

// Where the characters of a text lie, pattern by pattern. `units[i]` is
// the stretch of samples pattern i stands on (first <= last); patterns of
// one unit (an Interleaved 2 of 5 pair's bars and spaces) give one span.
// Code 39 and Interleaved 2 of 5 translate all but the first and the last
// pattern; Code 128 every pattern, the text starting four characters in.
std::vector<TextSpan> SpansOfText(const SymbolTables& tables, const PatternList& patterns,
                                  const std::vector<std::pair<double, double>>& units,
                                  std::span<const std::size_t> unitOf, bool code128,
                                  std::size_t textSize) {
  std::vector<TextSpan> spans;
  if (patterns.size() != unitOf.size()) return spans;
  const std::size_t from = code128 ? 0 : 1;
  const std::size_t to = code128 ? patterns.size() : patterns.size() - 1;
  long offset = code128 ? -4 : 0;
  for (std::size_t i = from; i < to && patterns.size() >= 3; ++i) {
    const auto symbol = tables.FindSymbol(patterns[i]);
    const long n = symbol ? static_cast<long>(symbol->size()) : 0;
    const long first = std::max(offset, 0L);
    const long last = std::min(offset + n, static_cast<long>(textSize));
    offset += n;
    if (last <= first || unitOf[i] >= units.size()) continue;
    const auto& [a, b] = units[unitOf[i]];
    if (!spans.empty() && i > from && unitOf[i] == unitOf[i - 1] &&
        spans.back().offset + spans.back().length == static_cast<std::size_t>(first)) {
      spans.back().length += static_cast<std::size_t>(last - first);
      continue;
    }
    spans.push_back(
        {static_cast<std::size_t>(first), static_cast<std::size_t>(last - first), a, b});
  }
  return spans;
}

// The unit of each pattern of a symbol of `patterns` patterns: Code 39 one
// character a pattern; Interleaved 2 of 5 the start, two patterns a digit
// pair, the stop; Code 128 (data and check, no start or stop) one each,
// from 1, the start being unit 0.
std::vector<std::size_t> UnitsOfPatterns(int symbology, std::size_t patterns) {
  std::vector<std::size_t> unit(patterns);
  for (std::size_t i = 0; i < patterns; ++i) {
    if (symbology == kInterleaved2of5)
      unit[i] = i == 0 ? 0 : i + 1 == patterns ? (patterns - 2) / 2 + 1 : (i + 1) / 2;
    else if (symbology == kCode39)
      unit[i] = i;
    else
      unit[i] = i + 1;
  }
  return unit;
}

// The classic decoders' units as element ranges (first and last index into
// the positions), in the order of their pattern list's units.
std::vector<std::pair<std::size_t, std::size_t>> ClassicUnits(int symbology, std::size_t n,
                                                              std::size_t units, bool backwards) {
  std::vector<std::pair<std::size_t, std::size_t>> out;
  for (std::size_t u = 0; u < units; ++u) {
    std::size_t first = 0, last = 0;
    if (symbology == kCode39) {
      const std::size_t c = backwards ? units - 1 - u : u;
      first = 10 * c;
      last = first + 8;
    } else if (symbology == kInterleaved2of5) {
      first = u == 0 ? 0 : u + 1 == units ? n - 3 : 4 + 10 * (u - 1);
      last = u == 0 ? 3 : u + 1 == units ? n - 1 : first + 9;
    } else {
      first = 6 * u;
      last = first + 5;
      if (backwards) {
        const std::size_t f = first;
        first = n - 1 - last;
        last = n - 1 - f;
      }
    }
    if (last >= n) break;
    out.emplace_back(first, last);
  }
  return out;
}

// A classic symbol's units in samples: each from halfway to the element
// before its first to halfway to the element after its last.
std::vector<std::pair<double, double>> ClassicUnitSpans(const DecodeResult& r, int symbology,
                                                        std::size_t units, bool backwards) {
  const auto& p = r.positions;
  const auto toSample = [&](double point) { return r.waveformOrigin + r.waveformStep * point; };
  std::vector<std::pair<double, double>> spans;
  for (const auto& [first, last] : ClassicUnits(symbology, p.size(), units, backwards)) {
    const double a = first > 0 ? 0.5 * (p[first - 1] + p[first]) : p[first];
    const double b = last + 1 < p.size() ? 0.5 * (p[last] + p[last + 1]) : p[last];
    const double sa = toSample(a), sb = toSample(b);
    spans.emplace_back(std::min(sa, sb), std::max(sa, sb));
  }
  return spans;
}

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
  const std::size_t head = TrimFlatEnds(samples);

  DecodeResult result;
  result.waveformOrigin = static_cast<double>(head);
  result.waveformStep = 1.0 / kPointsPerSample;
  TextBuffer text;
  synthesis::Verdict taken;  // the second decoder's, when its text is taken
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
    taken = std::move(verdict);
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

  // Which way round the classic decoder that decoded read its elements.
  bool backwards = false;
  if (line.symbology == kCode39) {
    pass();
    text.Fill();
    const bool framed = ReduceToBarFrame(result.waveform, result.positions, expected, kCode39);
    if (framed) {
      MergeSmallSwings(result.waveform, result.positions,
                       static_cast<std::size_t>(10L * expected + 19));
      // A symbol read backwards decodes with the flag off; the second
      // attempt's outcome shows in the translation's length.
      if (!DecodeCode39(result.waveform, result.positions, result.patterns, expected, true)) {
        DecodeCode39(result.waveform, result.positions, result.patterns, expected, false);
        backwards = true;
      }
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
      if (attempt == 0) {
        std::reverse(samples.begin(), samples.end());
        result.waveformOrigin = static_cast<double>(head + samples.size() - 1);
        result.waveformStep = -result.waveformStep;
      }
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
      backwards = true;
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
  if (result.decoded) {
    const auto unitOf = UnitsOfPatterns(line.symbology, result.patterns.size());
    const std::size_t units = unitOf.empty() ? 0 : unitOf.back() + 1;
    const auto unitSpans = result.bySecondDecoder
                               ? taken.slotSpans
                               : ClassicUnitSpans(result, line.symbology, units, backwards);
    result.spans = SpansOfText(tables, result.patterns, unitSpans, unitOf,
                               line.symbology != kCode39 && line.symbology != kInterleaved2of5,
                               result.text.size());
    if (result.bySecondDecoder) result.fitted = std::move(taken.rendered);
  }
  return result;
}

}  // namespace markwire::barcode
