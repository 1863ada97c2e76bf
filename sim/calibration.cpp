#include "calibration.h"

#include <charconv>
#include <vector>

#include "command_text.h"

namespace markwire::sim {

namespace {

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  constexpr std::string_view kBlanks = " \t\r\n";
  for (std::size_t at = text.find_first_not_of(kBlanks); at != std::string_view::npos;) {
    const std::size_t end = text.find_first_of(kBlanks, at);
    words.push_back(text.substr(at, end - at));
    at = end == std::string_view::npos ? end : text.find_first_not_of(kBlanks, end);
  }
  return words;
}

// A whole word as a number, a leading minus allowed: "%d" writes one for a
// negative argument.
std::optional<long> Number(std::string_view word) {
  long value = 0;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (error != std::errc{} || end != word.data() + word.size()) return std::nullopt;
  return value;
}

// "m 15/" or "m 15 S/": the library writes the magnitude and marks a
// negative time with " S".
std::optional<long> Time(const std::vector<std::string_view>& words) {
  if (words.size() != 2 && !(words.size() == 3 && words[2] == "S")) return std::nullopt;
  const std::optional<long> magnitude = Number(words[1]);
  if (!magnitude) return std::nullopt;
  return words.size() == 3 ? -*magnitude : *magnitude;
}

}  // namespace

bool TakeCalibration(std::string_view command, CalibrationValues& values) {
  std::string_view body = WithoutLeadingSpaces(command);
  if (!body.ends_with('/')) return false;
  body.remove_suffix(1);
  const std::vector<std::string_view> words = Words(body);
  if (words.empty()) return false;
  const std::string_view name = words[0];
  if (name == "J" && words.size() == 3) {
    const std::optional<long> first = Number(words[1]);
    const std::optional<long> second = Number(words[2]);
    if (!first || !second) return false;
    // The two "J" commands differ only in the width of their first field:
    // two characters for the gray information, three for the card's. A gray
    // value of three digits cannot be told from card information; the
    // reader takes it as the latter, as the width says.
    (words[1].size() >= 3 ? values.card : values.gray) = NumberPair{*first, *second};
    return true;
  }
  if (name == "MO" && words.size() == 2) {
    const std::optional<long> mota = Number(words[1]);
    if (!mota) return false;
    values.mota = *mota;
    return true;
  }
  if (name == "m" || name == "M") {
    const std::optional<long> time = Time(words);
    if (!time) return false;
    (name == "m" ? values.foreTime : values.behindTime) = *time;
    return true;
  }
  return false;
}

}  // namespace markwire::sim
