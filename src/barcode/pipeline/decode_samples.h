// The barcode read from received samples to text: conditioning, resampling,
// element reduction, decoding and translation, with the retries of each
// symbology. Pure: the session's side effects (its error record, the
// decoder's trace line) go through ReadEvents, so that the same read runs
// inside the library, in the CLI on samples from a file, and in tests.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "barcode/barcode_types.h"
#include "barcode/symbols/symbol_tables.h"

namespace markwire::barcode {

// How much the read trusts the classic algorithm.
enum class BarcodeMode : int {
  // The classic algorithm exactly: whatever it decodes is handed back.
  kClassic = 0,
  // The classic algorithm, its text accepted only when the waveform clearly
  // supports it; otherwise the read fails as a classic read fails.
  kGuarded = 1,
  // As guarded, and when the classic read fails or is refused, a second
  // decoder reads the samples, its text accepted under the same guard.
  kGuardedSecondDecoder = 2,
};
inline constexpr BarcodeMode kDefaultBarcodeMode = BarcodeMode::kGuardedSecondDecoder;

// The five numbers of a card format's barcode line, as written.
struct BarcodeLine {
  int symbology = 0;  // 1 Code 128, 2 Interleaved 2 of 5, 3 Code 39; others take the Code 128 path
  int second = 0;     // second > third: the samples come in reading order,
  int third = 0;      // else reversed
  int fourth = 0;     // not used
  int length = 0;     // characters of barcode text handed back
};

// The text a read works in holds 127 characters, and the Code 128 path ends
// it at 4 + length, so no read hands back more than 123 characters. A longer
// barcode line is read as 123 characters.
inline constexpr int kMaxBarcodeLength = 123;
int ClampedLength(int length);

// The number of symbol characters the decoders expect: the length for Code 39
// and Interleaved 2 of 5, half of it (two digits a character) otherwise.
int ExpectedCount(const BarcodeLine& line);

// What a read asks its session to do, in order.
class ReadEvents {
 public:
  virtual ~ReadEvents() = default;
  virtual void ClearPending() = 0;
  virtual void SetError(std::string_view code) = 0;
  virtual void Trace(std::string_view line) = 0;
};

// For reads whose reports nobody needs (measurements, tools).
class IgnoredReadEvents final : public ReadEvents {
 public:
  void ClearPending() override {}
  void SetError(std::string_view) override {}
  void Trace(std::string_view) override {}
};

// Where characters of a read's text lie in the samples handed to the read
// (reading order), as fractional sample indices: the classic decoders know
// the centres of the elements, and a span reaches halfway to the element
// before the character's first and after its last; the second decoder
// knows the bars, and a span goes from the first bar's start to the last
// bar's end. A digit pair of Interleaved 2 of 5 or Code 128 is one span of
// two characters.
struct TextSpan {
  std::size_t offset = 0;  // the first character's index in the text
  std::size_t length = 0;  // characters
  double first = 0;
  double last = 0;
};

struct DecodeResult {
  // What the read hands back: length characters (full stops when it failed;
  // a Code 128 text may be shorter).
  std::string text;
  bool decoded = false;
  // What the last pass saw, for explanations and plots.
  std::vector<double> samples;  // conditioned, in the order decoded
  Waveform waveform;
  Positions turningPoints;
  Positions positions;  // after the element reduction
  PatternList patterns;
  // Which decoder's text was handed back, and why a text was refused.
  bool bySecondDecoder = false;
  std::string explanation;
  // For pictures. Point p of the waveform (and of the positions) lies at
  // sample waveformOrigin + waveformStep x p of the samples handed to the
  // read; the step is negative when the last pass read them reversed.
  double waveformOrigin = 0;
  double waveformStep = 0;
  // Where each character of the text lies, when decoded: the decoder whose
  // text was taken says; characters cut off the text have none.
  std::vector<TextSpan> spans;
  // The second decoder's symbol as rendered over the samples it fitted,
  // when its text was taken: (sample index, gray level), by index.
  std::vector<std::pair<double, double>> fitted;
};

// The received bytes as samples in reading order: arrival order when the
// line's second number is greater than its third, reversed otherwise.
std::vector<double> SamplesInReadingOrder(std::span<const std::uint8_t> bytes,
                                          const BarcodeLine& line);

// Runs the read on samples in reading order. Builds the symbology's table
// and adds it to the index first.
DecodeResult DecodeSamples(std::vector<double> samples, const BarcodeLine& line,
                           SymbolTables& tables, ReadEvents& events,
                           BarcodeMode mode = kDefaultBarcodeMode);

}  // namespace markwire::barcode
