#include "commands/format_text.h"

#include <limits>

namespace markwire {
namespace {

bool IsLeadIn(unsigned char c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '"' || c == 0xFF;
}

}  // namespace

void FormatWalker::SkipComment() {
  while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
  if (pos_ < text_.size()) ++pos_;  // the line feed goes with the comment
}

std::optional<FormatWalker::Command> FormatWalker::Next() {
  Command command;
  bool leadIn = true;  // skipping before the command's first byte, or after a comment inside it
  while (pos_ < text_.size()) {
    const char c = text_[pos_];
    if (c == ';') {
      SkipComment();
      leadIn = true;
      continue;
    }
    if (leadIn && IsLeadIn(static_cast<unsigned char>(c))) {
      ++pos_;
      continue;
    }
    leadIn = false;
    command.text += c;
    ++pos_;
    if (c == '/') {
      command.tooLong = command.text.size() > kMaxCommand;
      return command;
    }
  }
  return std::nullopt;  // what is left ends no command
}

void FormatWalker::SkipRestOfLine() {
  while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
  if (pos_ < text_.size()) ++pos_;
}

int AtoiField(std::string_view field) {
  std::size_t i = 0;
  while (i < field.size() &&
         (field[i] == ' ' || (field[i] >= '\t' && field[i] <= '\r')))
    ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
  long long value = 0;
  for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
    value = value * 10 + (field[i] - '0');
    if (value > std::numeric_limits<int>::max()) {
      value = std::numeric_limits<int>::max();
      break;
    }
  }
  return static_cast<int>(negative ? -value : value);
}

}  // namespace markwire
