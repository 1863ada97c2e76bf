// markwire send: one command, its result and the reader's status.
#include <cstdio>

#include "cli.h"
#include "markwire.h"

namespace markwire::cli {

void AddSendCommand(CLI::App& app, Globals& globals) {
  struct Options {
    std::string device;
    std::string command;
    bool json = false;
  };
  auto options = std::make_shared<Options>();
  CLI::App* send =
      app.add_subcommand("send", "Hand-shake with the reader on a device and send it one command");
  send->add_option("-d,--device", options->device, "Serial device, e.g. /dev/ttyUSB0")->required();
  send->add_option("command", options->command, "The command, ending in \"/\", e.g. \"R/\"")
      ->required();
  send->add_flag("--json", options->json, "Print the result as one JSON object");
  send->callback([options, &globals] {
    InstallTrace(globals);
    if (!OpenReader(options->device)) {
      globals.exitStatus = kExitNoReader;
      return;
    }
    const int result = OmrS(options->command.c_str());
    char code[4] = {};
    char text[64] = {};
    OmrGetError(code);
    OmrGetErrorStr(text);
    const bool failed = result <= 0;
    if (options->json) {
      nlohmann::json out{{"command", options->command}, {"result", result}};
      if (failed) {
        out["error"] = code;
        out["text"] = text;
      }
      PrintJson(out);
    } else if (failed) {
      std::printf("result %d  error %s %s\n", result, Escaped(code).c_str(), Escaped(text).c_str());
    } else {
      std::printf("result %d\n", result);
    }
    globals.exitStatus = failed ? kExitRefused : 0;
  });
}

}  // namespace markwire::cli
