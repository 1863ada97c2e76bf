// markwire format: download a card format, from a file or as text.
#include <cstdio>

#include "cli.h"
#include "markwire.h"

namespace markwire::cli {

void AddFormatCommand(CLI::App& app, Globals& globals) {
  struct Options {
    std::string device, file, text;
    bool json = false;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand(
      "format", "Download a card format; prints the sync count and barcode settings it set");
  AddDeviceOption(*command, options->device);
  auto* file = command->add_option("file", options->file,
                                   "Format file: text, commands ending in \"/\", \";\" comments");
  auto* text = command->add_option("--text", options->text, "The format itself, e.g. \"L 040/\"");
  file->excludes(text);
  command->add_flag("--json", options->json, "Print the result as one JSON object");
  command->callback([options, &globals] {
    if (options->file.empty() && options->text.empty()) {
      Complain("format: give a FILE or --text TEXT");
      globals.exitStatus = kExitUsage;
      return;
    }
    // Nothing goes to the reader, which is not even opened, unless the whole
    // format is text with commands in it.
    if (!options->file.empty()) {
      if (const int status = CheckFormatFile(options->file); status != 0) {
        globals.exitStatus = status;
        return;
      }
    } else if (const auto fault = FormatTextFault(options->text, "--text")) {
      Complain(*fault);
      globals.exitStatus = kExitBadData;
      return;
    }
    InstallTrace(globals);
    if (!OpenReader(options->device)) {
      globals.exitStatus = kExitNoReader;
      return;
    }
    if (!options->file.empty()) {
      globals.exitStatus = DownloadFormatFile(options->file, options->json, stdout);
      return;
    }
    // DownLoadFormatFile takes its argument as a format text when its fourth
    // character from the end is "B"; a closing comment (which the format
    // reader drops) puts one there.
    const std::string marked = options->text + "\n;B   ";
    const int result = DownLoadFormatFile(marked.c_str());
    const std::string summary = FormatSummary(result);
    if (options->json) {
      PrintJson({{"format", options->text}, {"result", result}, {"summary", summary}});
    } else {
      std::printf("format: %s\n", summary.c_str());
    }
    if (result != 255) Complain("the reader did not take the whole format");
    globals.exitStatus = result == 255 ? 0 : kExitRefused;
  });
}

}  // namespace markwire::cli
