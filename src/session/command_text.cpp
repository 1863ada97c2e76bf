#include "session/command_text.h"

#include <algorithm>
#include <limits>

namespace markwire {

int ExtractNumbers(std::string_view text, std::span<int> numbers, int maxDigits) {
  int count = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] < '0' || text[i] > '9') {
      ++i;
      continue;
    }
    int digits = 0;
    long long value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      if (++digits > maxDigits) return -1;
      // maxDigits is small (five at most in practice); the cap keeps a large
      // one from overflowing.
      if (value < 1'000'000'000LL) value = value * 10 + (text[i] - '0');
      ++i;
    }
    if (static_cast<std::size_t>(count) < numbers.size())
      numbers[static_cast<std::size_t>(count)] =
          static_cast<int>(std::min<long long>(value, std::numeric_limits<int>::max()));
    ++count;
  }
  return count;
}

std::optional<std::string> CommandUpToSlash(const char* command) {
  if (command == nullptr) return std::nullopt;
  for (std::size_t i = 0; i < kMaxCommandLength; ++i) {
    if (command[i] == '\0') return std::nullopt;
    if (command[i] == '/') return std::string(command, i + 1);
  }
  return std::nullopt;
}

}  // namespace markwire
