// Pure helpers over command texts: number extraction and the bounds a command
// must respect. No port, no session.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace markwire {

// The longest command, "/" included: its echo is read into 100 bytes.
inline constexpr std::size_t kMaxCommandLength = 99;

// Every maximal run of decimal digits in `text` is one number. Returns how
// many runs there are (0 if none); the first numbers.size() are converted and
// stored in order, later ones only counted. Returns -1 as soon as a run
// reaches maxDigits + 1 digits.
int ExtractNumbers(std::string_view text, std::span<int> numbers, int maxDigits);

// The command up to and including its first "/", or nothing when there is no
// "/" within the longest command the reader takes (kMaxCommandLength). The
// scan is bounded, so a text without "/" is never read past that length.
std::optional<std::string> CommandUpToSlash(const char* command);

}  // namespace markwire
