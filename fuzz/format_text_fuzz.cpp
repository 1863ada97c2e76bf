// The format walker and the number readers it feeds, on any text.
//
// The input is the format text. The walk goes as a file download goes: after
// an "F" command shorter than 21 characters the rest of its line is skipped.
//
// Checks: every command ends with its only "/", starts with a byte that is
// not skipped before a command, holds no ";" (comments never reach the
// reader), and is marked too long exactly when it has more than 99
// characters; without skipped lines there is one command per "/" outside
// comments. Each command's numbers read as the C library reads them
// (AtoiField against strtoll), and ExtractNumbers finds every run of digits.
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "commands/format_text.h"
#include "session/command_text.h"

namespace {

using markwire::AtoiField;
using markwire::ExtractNumbers;
using markwire::FormatWalker;

bool SkippedBeforeACommand(unsigned char c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '"' || c == 0xFF;
}

// "/" bytes that are not inside a comment (";" up to the line feed).
std::size_t SlashesOutsideComments(std::string_view text) {
  std::size_t count = 0;
  bool comment = false;
  for (char c : text) {
    if (comment) {
      comment = c != '\n';
    } else if (c == ';') {
      comment = true;
    } else if (c == '/') {
      ++count;
    }
  }
  return count;
}

// atoi as the C library reads the field, with the result held to what an
// int can take without the lowest value (AtoiField saturates symmetrically).
int ReferenceAtoi(std::string_view field) {
  const std::string text(field);
  errno = 0;
  const long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < -INT_MAX) return -INT_MAX;
  return static_cast<int>(v);
}

void CheckNumbers(std::string_view command) {
  for (std::size_t at = 0; at < command.size() && at < 24; ++at)
    for (std::size_t n : {1, 2, 3, 5, 12}) {
      const std::string_view field = command.substr(at, n);
      FUZZ_CHECK(AtoiField(field) == ReferenceAtoi(field), "field \"" + std::string(field) + "\"");
    }

  // Runs of digits, by hand.
  std::vector<std::string_view> runs;
  for (std::size_t i = 0; i < command.size();) {
    if (command[i] < '0' || command[i] > '9') {
      ++i;
      continue;
    }
    const std::size_t start = i;
    while (i < command.size() && command[i] >= '0' && command[i] <= '9') ++i;
    runs.push_back(command.substr(start, i - start));
  }
  int numbers[5] = {-1, -1, -1, -1, -1};
  const int count = ExtractNumbers(command, numbers, 5);
  bool tooLong = false;
  for (auto run : runs) tooLong = tooLong || run.size() > 5;
  if (tooLong) {
    FUZZ_CHECK(count == -1, std::string(command));
    return;
  }
  FUZZ_CHECK(count == static_cast<int>(runs.size()), std::string(command));
  for (std::size_t k = 0; k < runs.size() && k < 5; ++k) {
    int value = 0;
    std::from_chars(runs[k].data(), runs[k].data() + runs[k].size(), value);
    FUZZ_CHECK(numbers[k] == value, std::string(command) + " number " + std::to_string(k));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  FormatWalker walker(text);
  std::size_t commands = 0, taken = 0;
  bool skipped = false;
  while (auto next = walker.Next()) {
    const std::string& c = next->text;
    ++commands;
    taken += c.size();
    FUZZ_CHECK(taken <= text.size(), "more command bytes than text");
    FUZZ_CHECK(!c.empty() && c.back() == '/' && c.find('/') == c.size() - 1, c);
    FUZZ_CHECK(!SkippedBeforeACommand(static_cast<unsigned char>(c[0])), c);
    FUZZ_CHECK(c.find(';') == std::string::npos, c);
    FUZZ_CHECK(next->tooLong == (c.size() > FormatWalker::kMaxCommand), c);
    CheckNumbers(c);
    if (c[0] == 'F' && c.size() < 21) {
      walker.SkipRestOfLine();
      skipped = true;
    }
  }
  if (!skipped)
    FUZZ_CHECK(commands == SlashesOutsideComments(text), std::to_string(commands) + " commands");
  return 0;
}
