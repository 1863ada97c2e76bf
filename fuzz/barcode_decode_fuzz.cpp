// The barcode read on raw samples, in all three modes, on any barcode line.
//
// Input: seven header bytes, then the samples (at most 9999, what a reader's
// length field can announce):
//   0  the line's symbology (signed: 1 Code 128, 2 Interleaved 2 of 5,
//      3 Code 39, anything else the Code 128 path)
//   1  the symbology of an earlier read in the same session (signed), whose
//      rows the pattern index keeps
//   2  the line's second number, 3 its third (signed; their order decides
//      whether the samples are reversed)
//   4  the line's length, two bytes little-endian, signed
//   6  the mode, modulo 3
//
// Beyond the sanitizers it checks what the read promises: the text has the
// line's length (a Code 128 text may be shorter) and is full stops when the
// read failed; the turning points go strictly forward; the guard only ever
// refuses a classic text, never changes it; only mode 2 reads by the second
// decoder.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "barcode/pipeline/decode_samples.h"
#include "check.h"
#include "support/byte_reader.h"

namespace {

using namespace markwire::barcode;
using markwire::fuzz::ByteReader;

constexpr std::size_t kHeader = 7;
constexpr std::size_t kMostSamples = 9999;

struct Read {
  BarcodeLine line;
  int earlier = 0;
  BarcodeMode mode = BarcodeMode::kClassic;
  std::vector<std::uint8_t> bytes;
};

DecodeResult Decode(const Read& read, BarcodeMode mode) {
  SymbolTables tables;
  tables.BuildSymbolTable(read.earlier);
  tables.BuildPatternIndex();
  IgnoredReadEvents events;
  return DecodeSamples(SamplesInReadingOrder(read.bytes, read.line), read.line, tables, events, mode);
}

std::string Describe(const Read& r, const DecodeResult& result) {
  return "symbology " + std::to_string(r.line.symbology) + ", length " +
         std::to_string(r.line.length) + ", mode " + std::to_string(static_cast<int>(r.mode)) +
         ": \"" + result.text + "\"" + (result.decoded ? " decoded" : "");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeader) return 0;
  ByteReader in({data, size});
  Read read;
  read.line.symbology = static_cast<std::int8_t>(in.Byte());
  read.earlier = static_cast<std::int8_t>(in.Byte());
  read.line.second = static_cast<std::int8_t>(in.Byte());
  read.line.third = static_cast<std::int8_t>(in.Byte());
  read.line.length = in.I16();
  read.mode = static_cast<BarcodeMode>(in.Byte() % 3);
  const auto samples = in.Bytes(std::min(in.Left(), kMostSamples));
  read.bytes.assign(samples.begin(), samples.end());

  const DecodeResult result = Decode(read, read.mode);
  const auto length = static_cast<std::size_t>(ClampedLength(read.line.length));
  const bool twoWidth = read.line.symbology == kCode39 || read.line.symbology == kInterleaved2of5;
  FUZZ_CHECK(twoWidth ? result.text.size() == length : result.text.size() <= length,
             Describe(read, result));
  if (!result.decoded)
    FUZZ_CHECK(result.text == std::string(length, '.'), Describe(read, result));
  for (std::size_t k = 1; k < result.turningPoints.size(); ++k)
    FUZZ_CHECK(result.turningPoints[k - 1] < result.turningPoints[k], Describe(read, result));
  FUZZ_CHECK(!result.bySecondDecoder || read.mode == BarcodeMode::kGuardedSecondDecoder,
             Describe(read, result));

  // A text the guard let through is the classic algorithm's own.
  if (read.mode != BarcodeMode::kClassic && result.decoded && !result.bySecondDecoder) {
    const DecodeResult classic = Decode(read, BarcodeMode::kClassic);
    FUZZ_CHECK(classic.decoded && classic.text == result.text,
               Describe(read, result) + " but classic \"" + classic.text + "\"");
  }
  return 0;
}
