// markwire read: cards off the reader, one line or JSON object each.
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>

#include "cli.h"
#include "markwire.h"

namespace markwire::cli {
namespace {

// Room for the largest block the library delivers and then some.
constexpr std::size_t kCardBuffer = 8192;

// The text of a code that came instead of a card. ReadOneCard ends with
// "-/", which clears the error record, so the record only still knows the
// text when the card never started.
std::string ErrorText(const std::string& code) {
  char current[4] = {};
  char text[64] = {};
  OmrGetError(current);
  if (code != current) return "reader status " + code;
  OmrGetErrorStr(text);
  return text;
}

// The card's text split into its barcode and its data.
std::pair<std::string, std::string> Split(const std::string& text, const BarcodeLayout& layout) {
  if (!layout.on) return {"", text};
  if (layout.afterFirstByte) {
    if (text.empty()) return {"", ""};
    return {text.substr(1, layout.length),
            text.substr(0, 1) + text.substr(std::min(text.size(), 1 + layout.length))};
  }
  return {text.substr(0, layout.length), text.substr(std::min(text.size(), layout.length))};
}

}  // namespace

void AddReadOptions(CLI::App& command, ReadOptions& options) {
  command.add_option("--format", options.format, "Download this card format file first")
      ->type_name("FILE");
  command.add_option("-n,--count", options.count, "Cards to read (0: until the hopper is empty)")
      ->check(WholeNumber(0, INT_MAX))
      ->capture_default_str();
  command.add_option("--option", options.option, "First number of the read command")
      ->check(WholeNumber(0, 9999))
      ->capture_default_str();
  command.add_option("--limit", options.limit, "Longest card data to take, in bytes")
      ->check(WholeNumber(1, 2048))
      ->capture_default_str();
  command.add_flag("--json", options.json, "One JSON object per card");
}

// One card per ReadOneCard: "R/", the read command, OmrG, "-/". A stop
// signal or a closed standard output ends the loop between two cards, never
// inside one.
int ReadCards(const ReadOptions& options) {
  if (!options.format.empty()) {
    if (const int status = DownloadFormatFile(options.format, options.json, stderr); status != 0)
      return status;
    if (StopRequested()) {
      NoteStop("after the format download, before the first card");
      return StopStatus();
    }
  }
  const bool progress = options.count > 1 && isatty(STDERR_FILENO) && !options.json;
  int read = 0;
  for (int n = 1; options.count == 0 || n <= options.count; ++n) {
    if (StopRequested()) {
      NoteStop(std::to_string(read) + (read == 1 ? " card" : " cards") +
               " read; the last was read to its end and released (\"-/\")");
      return StopStatus();
    }
    if (progress) std::fprintf(stderr, "\rreading card %d of %d", n, options.count);
    std::string data(kCardBuffer, '\0');
    const int result = ReadOneCard(options.option, options.limit, data.data());
    data.resize(data.find('\0'));
    if (progress) std::fprintf(stderr, "\r\033[K");
    // 0 with a code: "R/" refused; 255: a status came instead of data.
    if (result == 255 || result <= 0) {
      const std::string code = result < 0 ? "" : data;
      const std::string text = code.empty() ? "the reader did not send the card" : ErrorText(code);
      if (code == "16" && options.count == 0 && read > 0) return 0;  // hopper emptied
      if (options.json) {
        PrintJson({{"card", n}, {"result", result}, {"error", code}, {"text", text}});
      } else {
        Complain("card " + std::to_string(n) + ": " + (code.empty() ? "" : code + " ") + text);
      }
      return result < 0 ? kExitNoReader : kExitRefused;
    }
    ++read;
    const BarcodeLayout layout = CurrentBarcodeLayout();
    const auto [code, rest] = Split(data, layout);
    if (options.json) {
      nlohmann::json card{{"card", n}, {"result", result}, {"data", rest}};
      if (layout.on) card["barcode"] = code;
      PrintJson(card);
    } else if (layout.on) {
      std::printf("%s\t%s\n", Escaped(code).c_str(), Escaped(rest).c_str());
    } else {
      std::printf("%s\n", Escaped(data).c_str());
    }
    // The card is read and released; a reader of our output that has gone
    // (a pipe to head) stops the next one.
    if (!OutputOk()) return StopRequested() ? StopStatus() : kExitRefused;
  }
  return 0;
}

void AddReadCommand(CLI::App& app, Globals& globals) {
  struct Options {
    std::string device;
    ReadOptions read;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand("read", "Read cards: one line (or JSON object) per card");
  AddDeviceOption(*command, options->device);
  AddReadOptions(*command, options->read);
  command->callback([options, &globals] {
    if (!options->read.format.empty()) {
      if (const int status = CheckFormatFile(options->read.format); status != 0) {
        globals.exitStatus = status;
        return;
      }
    }
    InstallTrace(globals);
    if (!OpenReader(options->device)) {
      globals.exitStatus = kExitNoReader;
      return;
    }
    globals.exitStatus = ReadCards(options->read);
  });
}

}  // namespace markwire::cli
