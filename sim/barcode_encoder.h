// The bars and spaces of the symbols printed on the simulated cards, as the
// symbology standards draw them. The widths feed the optical model
// (waveform_model.h), which turns them into what the reader's sensor sees.
#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace markwire::sim {

// The numbers are those of a format's barcode line.
enum class BarcodeKind { Code128 = 1, Interleaved2of5 = 2, Code39 = 3 };

struct EncodeOptions {
  // Wide to narrow, for Code 39 and Interleaved 2 of 5: 2.0 to 3.0, the range
  // both standards allow.
  double wideRatio = 2.5;
  // The space between two Code 39 characters, in narrow widths: more than 0.
  double gapModules = 1.0;
};

// The element widths of the whole symbol in modules (narrow widths), bar
// first, bars and spaces alternating, start and stop characters included and
// quiet zones left out; or a one-line reason why the text has no symbol.
//
// Code 39: "*" + text + "*", no check character. Text: digits, "A" to "Z",
// "-", ".", space, "$", "/", "+", "%", and "_", which is printed as "-" (the
// library's table keys that pattern "_").
// Interleaved 2 of 5: an even number of digits.
// Code 128: an even number of digits, printed as Start C, FNC1, one symbol
// character per digit pair, the modulo-103 check character and the stop.
// An empty text is refused for all three.
std::variant<std::vector<double>, std::string> EncodeBarcode(BarcodeKind kind,
                                                             std::string_view text,
                                                             const EncodeOptions& options = {});

}  // namespace markwire::sim
