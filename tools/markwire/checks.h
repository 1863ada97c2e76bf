// What the CLI checks before it sends anything: option values, input files,
// format texts; and how it shows text that came from outside.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace markwire::cli {

// `text` with its control characters shown as escapes (\r, \n, \t, \xNN), so
// that a file's or a reader's bytes cannot drive the terminal.
std::string Escaped(std::string_view text);

// A whole number from `least` to `most`. Its messages are short: "abc is not
// a whole number", "12 is above 6" (CLI11's own name limits by their
// hundreds of digits).
// `what`, when given, names the value in the messages ("kind 7 is above 6"),
// for one of several positional values.
CLI::Validator WholeNumber(long long least, long long most, const std::string& what = "");
// A number above 0 (a size or a rate).
CLI::Validator AboveZero();
// A number of 0 or more.
CLI::Validator NotNegative();
// A number from `least` to `most`, both included.
CLI::Validator NumberFrom(double least, double most);

// Reads the whole file at `path` (at most `most` bytes). On failure returns
// nothing and sets `status` to kExitNoInput (cannot be opened or read) or
// kExitBadData (larger than `most`), with `reason` a line to print.
std::optional<std::string> ReadInput(const std::string& path, std::size_t most, int& status,
                                     std::string& reason);

// Whether a file can be opened and read; `reason` says why not.
bool Readable(const std::string& path, std::string& reason);

// A card format is text: printable ASCII, tabs, carriage returns and line
// feeds, commands ending in "/" and ";" comments to the end of the line.
// Comments may hold any byte but a control character (a comment in GBK or
// UTF-8 is the author's business; the format reader drops it unsent); a
// command may not, since its bytes go to the reader as they are. Returns
// the first fault as "NAME:LINE: ..." (or "NAME: ..." for the whole text),
// nothing when the text is a format worth sending: at least one command,
// and nothing after the last "/" but blanks and comments.
std::optional<std::string> FormatTextFault(std::string_view text, const std::string& name);

// The format file at `path` read and checked; returns an exit status (0 when
// it may be sent) after complaining.
int CheckFormatFile(const std::string& path);

}  // namespace markwire::cli
