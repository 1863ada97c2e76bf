// markwire send: one command, its result and the reader's status, and the
// data block when the command asks for one.
#include <cstdio>

#include "cli.h"
#include "command_exchange.h"
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
      app.add_subcommand("send",
                         "Hand-shake with the reader on a device and send it one command; a read "
                         "command's data block (\"r A 0000 2000/\") is collected and printed");
  AddDeviceOption(*send, options->device);
  send->add_option("command", options->command, "The command, ending in \"/\", e.g. \"R/\"")
      ->required();
  send->add_flag("--json", options->json, "Print the result as one JSON object");
  send->callback([options, &globals] {
    InstallTrace(globals);
    if (!OpenReader(options->device)) {
      globals.exitStatus = kExitNoReader;
      return;
    }
    const CommandAnswer answer = SendAndCollect(options->command);
    PrintAnswer(answer, options->json);
    globals.exitStatus = answer.ReaderLost() ? kExitNoReader : answer.Ok() ? 0 : kExitRefused;
  });
}

}  // namespace markwire::cli
