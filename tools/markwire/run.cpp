// The one place that turns a command line into an exit status.
#include <cstdio>
#include <string>

#include "cli.h"

namespace markwire::cli {

std::string ExitStatusHelp() {
  return "Exit status:\n"
         "  0    done\n"
         "  1    the reader refused a command, or a read failed\n"
         "  2    no reader (no device, no hand-shake)\n"
         "  3    barcode decode: the barcode was not decoded\n"
         "  64   bad usage: an unknown option, a missing or bad value\n"
         "  65   bad input data: a format file that is not text or holds no command, a\n"
         "       malformed cards file\n"
         "  66   a file that cannot be opened or read\n"
         "  130  interrupted (SIGINT), 143 terminated (SIGTERM), 141 standard output\n"
         "       closed (SIGPIPE): the exchange under way is let finish, then \"Q/\"";
}

int Run(CLI::App& app, int argc, char** argv, const Globals& globals) {
  app.footer(ExitStatusHelp());
  int status = kExitDone;
  try {
    app.parse(argc, argv);
    status = globals.exitStatus;
  } catch (const CLI::ParseError& e) {
    // --help and --version are "errors" of status 0 that print what was asked.
    if (e.get_exit_code() == 0) return app.exit(e);
    std::string reason = e.what();
    for (char& c : reason)
      if (c == '\n') c = ' ';
    Complain(reason + " (see --help)");
    return SettleStop(kExitUsage);
  } catch (const Failure& e) {
    Complain(e.what());
    status = e.status;
  }
  // Results not yet out (a pipe's buffer) must get out, or the status says so.
  if (!OutputOk() && status == kExitDone) status = kExitRefused;
  return SettleStop(status);
}

}  // namespace markwire::cli
