// Walking a card format's text into reader commands. Pure: text in, commands
// out; the download decides what to do with each.
//
// A command is everything from its first byte up to and including the next
// "/". Before a command starts, blanks, line feeds, carriage returns, double
// quotes and 0xFF bytes are skipped; once it has started, every byte is kept,
// line breaks included, so a command may run over several lines. A ";"
// anywhere starts a comment that runs to the next line feed (dropped with
// it); a command the comment interrupted goes on with the next byte that is
// not skipped. Text after the last "/" ends no command and is never sent.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace markwire {

class FormatWalker {
 public:
  // A command, "/" included, may have at most this many characters: the
  // reader's command buffer holds 99 and a NUL.
  static constexpr std::size_t kMaxCommand = 99;

  struct Command {
    std::string text;      // the whole command, however long
    bool tooLong = false;  // longer than kMaxCommand
  };

  explicit FormatWalker(std::string_view text) : text_(text) {}

  // The next complete command, or nothing when the text holds no more.
  std::optional<Command> Next();

  // Skips what follows the last command on its line, up to and including the
  // next line feed (or to the end of the text).
  void SkipRestOfLine();

 private:
  void SkipComment();

  std::string_view text_;
  std::size_t pos_ = 0;
};

// The decimal value of `field` as the C library's atoi reads it: leading
// white space and a sign accepted, reading stops at the first non-digit.
// Saturates instead of overflowing.
int AtoiField(std::string_view field);

}  // namespace markwire
