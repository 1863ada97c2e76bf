// The data block the reader sends after a read command, shaped so that the
// library's reads line up with it. The library does not read what the length
// field announces: it clips to the command's limit (one byte more when the
// command's first number is 1) and reads one byte more than announced when the
// length is within the limit. A block that honours this leaves no byte behind
// and makes the library wait for none.
#pragma once

#include <string>
#include <string_view>

namespace markwire::sim {

// The library's receive buffer holds this many data bytes; a read command with
// a single number gets it as its limit.
inline constexpr long kReceiveBufferBytes = 2048;

// A block without a length field carries exactly this many bytes.
inline constexpr std::size_t kFixedBlockBytes = 4;

struct DataBlock {
  std::string lengthField;  // four digits; empty for a read command without numbers
  std::string data;         // the bytes after the length field, before "EN"
};

// The block for `cardText` answering the read command `command`.
DataBlock BuildDataBlock(std::string_view command, std::string_view cardText);

}  // namespace markwire::sim
