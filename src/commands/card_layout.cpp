#include "commands/card_layout.h"

#include <algorithm>
#include <cstring>

namespace markwire {

int LayOutCard(char* buffer, std::string_view code, std::string_view data, std::size_t length,
               bool afterFirstByte) {
  code = code.substr(0, length);
  if (buffer == nullptr) return static_cast<int>(length + data.size());
  buffer[length] = '\0';
  if (afterFirstByte) {
    buffer[0] = data.empty() ? '\0' : data[0];
    std::memcpy(buffer + 1, code.data(), code.size());
    if (code.size() < length) buffer[1 + code.size()] = '\0';
    const std::string_view rest = data.empty() ? data : data.substr(1);
    std::memcpy(buffer + 1 + length, rest.data(), rest.size());
    buffer[1 + length + rest.size()] = '\0';
    return static_cast<int>(length + std::max<std::size_t>(data.size(), 1));
  }
  std::size_t at = std::strlen(buffer);
  std::memcpy(buffer + at, code.data(), code.size());
  at += code.size();
  std::memcpy(buffer + at, data.data(), data.size());
  buffer[at + data.size()] = '\0';
  return static_cast<int>(length + data.size());
}

}  // namespace markwire
