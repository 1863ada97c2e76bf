#include "data_block.h"

#include <algorithm>
#include <cstdio>

#include "command_text.h"

namespace markwire::sim {

namespace {

// Four digits cannot announce more.
constexpr std::size_t kLongestAnnounced = 9999;

}  // namespace

DataBlock BuildDataBlock(std::string_view command, std::string_view cardText) {
  const std::vector<long> numbers = ExtractNumbers(command);
  DataBlock block;
  if (numbers.empty()) {
    // The library then reads exactly four bytes and no length field.
    block.data.assign(cardText.substr(0, kFixedBlockBytes));
    block.data.resize(kFixedBlockBytes, ' ');
    return block;
  }
  const long option = numbers[0];
  const long limit = numbers.size() >= 2 ? numbers[1] : kReceiveBufferBytes;
  const std::size_t announced = std::min(cardText.size(), kLongestAnnounced);
  char field[8];
  std::snprintf(field, sizeof field, "%04zu", announced);
  block.lengthField = field;
  if (announced > static_cast<std::size_t>(limit)) {
    // Clipped: the library reads `limit` bytes, and one more when the option
    // is 1. announced > limit, so the text always has that extra byte.
    const std::size_t sent = static_cast<std::size_t>(limit) + (option == 1 ? 1 : 0);
    block.data.assign(cardText.substr(0, sent));
  } else {
    // Within the limit the library reads one byte past the announced length.
    // A NUL there ends the text it hands to the application at the card's end.
    block.data.assign(cardText.substr(0, announced));
    block.data.push_back('\0');
  }
  return block;
}

}  // namespace markwire::sim
