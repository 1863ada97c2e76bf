#include "checks.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cli.h"

namespace markwire::cli {
namespace {

bool IsControl(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

std::string Hex(unsigned char c) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", c);
  return hex;
}

// Parses the whole of `text` as a number of the given kind; false when any of
// it is not the number.
bool WholeOf(const std::string& text, long long& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  value = std::strtoll(text.c_str(), &end, 10);
  return *end == '\0' && errno == 0 && !std::isspace(static_cast<unsigned char>(text[0]));
}

bool RealOf(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return *end == '\0' && std::isfinite(value) && !std::isspace(static_cast<unsigned char>(text[0]));
}

// The excerpt of an offending command in a message: escaped, and short.
std::string Excerpt(std::string_view text) {
  constexpr std::size_t kShown = 24;
  const std::string shown = Escaped(text.substr(0, kShown));
  return "\"" + shown + (text.size() > kShown ? "...\"" : "\"");
}

}  // namespace

std::string Escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (!IsControl(c)) {
      out += ch;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

CLI::Validator WholeNumber(long long least, long long most, const std::string& what) {
  const std::string range = most >= INT32_MAX
                                ? std::to_string(least) + " or more"
                                : std::to_string(least) + " to " + std::to_string(most);
  const std::string name = what.empty() ? "" : what + " ";
  return CLI::Validator(
      [least, most, name](std::string& text) -> std::string {
        long long value = 0;
        if (!WholeOf(text, value)) return name + "\"" + Escaped(text) + "\" is not a whole number";
        if (value < least) return name + text + " is below " + std::to_string(least);
        if (value > most) return name + text + " is above " + std::to_string(most);
        return {};
      },
      range);
}

CLI::Validator AboveZero() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        double value = 0;
        if (!RealOf(text, value)) return "\"" + Escaped(text) + "\" is not a number";
        if (!(value > 0)) return text + " is not above 0";
        return {};
      },
      "above 0");
}

CLI::Validator NotNegative() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        double value = 0;
        if (!RealOf(text, value)) return "\"" + Escaped(text) + "\" is not a number";
        if (value < 0) return text + " is below 0";
        return {};
      },
      "0 or more");
}

CLI::Validator NumberFrom(double least, double most) {
  char range[64];
  std::snprintf(range, sizeof range, "%g to %g", least, most);
  return CLI::Validator(
      [least, most](std::string& text) -> std::string {
        double value = 0;
        if (!RealOf(text, value)) return "\"" + Escaped(text) + "\" is not a number";
        char limit[32];
        if (value < least) {
          std::snprintf(limit, sizeof limit, "%g", least);
          return text + " is below " + limit;
        }
        if (value > most) {
          std::snprintf(limit, sizeof limit, "%g", most);
          return text + " is above " + limit;
        }
        return {};
      },
      range);
}

std::optional<std::string> ReadInput(const std::string& path, std::size_t most, int& status,
                                     std::string& reason) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) {
    status = kExitNoInput;
    reason = path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::string text;
  char piece[8192];
  for (std::size_t n; (n = std::fread(piece, 1, sizeof piece, file.get())) > 0;) {
    text.append(piece, n);
    if (text.size() > most) {
      status = kExitBadData;
      reason = path + ": larger than " + std::to_string(most) + " bytes";
      return std::nullopt;
    }
  }
  if (std::ferror(file.get())) {
    status = kExitNoInput;  // a directory, or a device that failed
    reason = path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  return text;
}

bool Readable(const std::string& path, std::string& reason) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (file && (std::fgetc(file.get()) != EOF || !std::ferror(file.get()))) return true;
  reason = path + ": " + std::strerror(errno);
  return false;
}

std::optional<std::string> FormatTextFault(std::string_view text, const std::string& name) {
  std::size_t line = 1, column = 0;  // of the byte at hand, both from 1
  bool comment = false;
  bool leadIn = true;   // before a command's first byte, or after a comment inside one
  std::string command;  // the command begun and not yet ended by "/"
  std::size_t commandLine = 0;
  std::size_t commands = 0;
  const auto at = [&](std::size_t l) { return name + ":" + std::to_string(l) + ": "; };
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    ++column;
    if (IsControl(c) && c != '\t' && c != '\r' && c != '\n')
      return at(line) + "byte " + std::to_string(column) + " is " + Hex(c) + ", not text";
    if (c == '\n') {
      ++line;
      column = 0;
    }
    if (comment) {
      comment = c != '\n';
      continue;
    }
    if (c >= 0x80)
      return at(line) + "byte " + std::to_string(column) + " is " + Hex(c) +
             ", not ASCII (other bytes belong in a \";\" comment)";
    if (c == ';') {
      comment = true;
      leadIn = true;
      continue;
    }
    // The lead-in bytes the format reader skips before a command.
    if (leadIn && (c == ' ' || c == '\n' || c == '\r' || c == '"')) continue;
    if (command.empty()) commandLine = line;
    leadIn = false;
    command += ch;
    if (c != '/') continue;
    if (command.size() > 1) ++commands;
    command.clear();
    leadIn = true;
  }
  if (!command.empty())
    return at(commandLine) + Excerpt(command) + " has no closing \"/\": it would not be sent";
  if (commands == 0) return name + ": no command in it (a command ends with \"/\")";
  return std::nullopt;
}

int CheckFormatFile(const std::string& path) {
  // A format is a page of commands; anything near this size is not one.
  constexpr std::size_t kLargestFormat = 1 << 20;
  int status = 0;
  std::string reason;
  const auto text = ReadInput(path, kLargestFormat, status, reason);
  if (!text) {
    Complain(reason);
    return status;
  }
  if (const auto fault = FormatTextFault(*text, path)) {
    Complain(*fault);
    return kExitBadData;
  }
  return 0;
}

}  // namespace markwire::cli
