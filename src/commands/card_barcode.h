// The barcode read after a card: fetch the reader's sensor waveform of the
// barcode area with "PR/", decode it, and record what the read reports in
// the session.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace markwire {

class OmrInfo;

// "PR/": the echo, two bytes not looked at, a four-character count and the
// sample bytes in the order they arrived. Nothing when the echo is wrong
// (the line is then made clean), the count is not above 0, or fewer samples
// than it announced came.
std::optional<std::vector<std::uint8_t>> ReadWaveform(OmrInfo& session);

// The barcode text for the card just received: at most the barcode line's
// length (123 at most) characters; full stops when the read failed or no
// waveform came. A failed Code 128 read leaves code "14" pending and shows
// its message.
std::string ReadBarcode(OmrInfo& session);

// Where a card's barcode sits in the text a card read hands back, as the
// last format download set it: `length` characters from `offset` (0, or 1
// when it follows the first data byte). Length 0: the format reads no
// barcode.
struct BarcodeSpan {
  int offset = 0;
  int length = 0;
};
BarcodeSpan CardBarcodeSpan(const OmrInfo& session);

}  // namespace markwire
