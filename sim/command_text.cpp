#include "command_text.h"

namespace markwire::sim {

namespace {

constexpr long kNumberCeiling = 999'999'999;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

std::string_view WithoutLeadingSpaces(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  return first == std::string_view::npos ? std::string_view{} : text.substr(first);
}

CommandFamily ClassifyCommand(std::string_view command) {
  // The hand-shake command is recognised by its end, so that stray bytes in
  // front of it (line noise, the rest of an aborted command) do not keep the
  // reader off line.
  if (command.ends_with("ONLINE/")) return CommandFamily::Online;
  const std::string_view body = WithoutLeadingSpaces(command);
  if (body.empty()) return CommandFamily::Other;
  switch (body.front()) {
    case 'R':
      return CommandFamily::Feed;
    case 'r':
      return CommandFamily::Data;
    case 'Q':
      return CommandFamily::Quit;
    case '-':
      return CommandFamily::EndCard;
    case 'S':
      return CommandFamily::Format;
    // The library's "W" command names a file on its own side; the reader only
    // ever sees the "A" command that opens the download.
    case 'A':
      return CommandFamily::Program;
    case 'I':
      return CommandFamily::Test;
    case 'P':
      return body.starts_with("PR") ? CommandFamily::Waveform : CommandFamily::Other;
    default:
      return CommandFamily::Other;
  }
}

std::vector<long> ExtractNumbers(std::string_view text) {
  std::vector<long> numbers;
  std::size_t i = 0;
  while (i < text.size()) {
    if (!IsDigit(text[i])) {
      ++i;
      continue;
    }
    long value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
      value = value > (kNumberCeiling - 9) / 10 ? kNumberCeiling : value * 10 + (text[i] - '0');
    }
    numbers.push_back(value);
  }
  return numbers;
}

}  // namespace markwire::sim
