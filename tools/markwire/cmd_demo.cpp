// markwire demo: the whole road of a card read, against the built-in
// simulated reader, with nothing to plug in.
#include <cstdio>

#include "cli.h"
#include "data_files.h"
#include "markwire.h"

namespace markwire::cli {

void AddDemoCommand(CLI::App& app, Globals& globals) {
  struct Options {
    SimOptions sim;
    ReadOptions read;
  };
  auto options = std::make_shared<Options>();
  options->read.count = 3;
  CLI::App* command = app.add_subcommand(
      "demo", "Start a simulated reader on a pseudo-terminal, hand-shake and read a few cards");
  options->sim.AddTo(*command);
  AddReadOptions(*command, options->read);
  command->callback([options, &globals] {
    InstallTrace(globals);
    if (options->read.format.empty()) {
      std::string looked;
      options->read.format = FindDataFile("card.fmt", looked);
      if (options->read.format.empty()) {
        Complain("cannot find the sample card format card.fmt (looked in " + looked +
                 "; set MARKWIRE_DATA_DIR to its folder, or give --format)");
        globals.exitStatus = kExitRefused;
        return;
      }
    }
    if (const int status = CheckFormatFile(options->read.format); status != 0) {
      globals.exitStatus = status;
      return;
    }
    auto reader = options->sim.MakeReader();
    sim::PtyHost host(*reader);
    if (!host.Start()) {
      Complain("cannot create a pseudo-terminal: " + host.LastError());
      globals.exitStatus = kExitNoReader;
      return;
    }
    std::fprintf(stderr, "simulated reader on %s; hand-shake (the reader then needs 2.5 s)...\n",
                 host.DevicePath().c_str());
    if (!OpenReader(host.DevicePath())) {
      globals.exitStatus = kExitNoReader;
      return;
    }
    std::fprintf(stderr, "reader on line; card format %s, then %d card%s\n",
                 options->read.format.c_str(), options->read.count,
                 options->read.count == 1 ? "" : "s");
    globals.exitStatus = ReadCards(options->read);
  });
}

}  // namespace markwire::cli
