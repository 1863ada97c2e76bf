// Where a card's barcode text goes in the application's buffer: in front of
// its data, or after the data's first byte when the format says so ("T").
#pragma once

#include <cstddef>
#include <string_view>

namespace markwire {

// Lays out `code` (cut at `length`) and `data` in `buffer` and returns
// `length` + the number of data bytes (at least 1 after the first byte).
//
// In front: the barcode and the data are appended to the text the buffer
// already holds, cut at `length` characters; an application passes an empty
// text (first byte NUL) to get the barcode followed by the data, and a
// buffer that holds text needs room for 2 x `length` + the data + 1.
// After the first byte: the first data byte, the barcode from the second
// position, the rest of the data from position `length` + 1. A barcode
// shorter than `length` ends the text: its NUL stays.
// A null buffer is left alone; the count is returned all the same.
int LayOutCard(char* buffer, std::string_view code, std::string_view data, std::size_t length,
               bool afterFirstByte);

}  // namespace markwire
