// markwire: drive an optical mark reader from the shell, or play one.
#include <cstdio>
#include <string>

#include "cli.h"
#include "markwire.h"
#include "operator_commands.h"

int main(int argc, char** argv) {
  CLI::App app{
      "markwire - optical mark reader driver tool.\n"
      "Talks to a reader on a serial device through the Markwire library, or plays a\n"
      "simulated reader on a pseudo-terminal."};
  app.require_subcommand(1);
  app.fallthrough();
  markwire::cli::Globals globals;
  app.add_flag("--trace", globals.trace, "Print every wire transfer on standard error");
  // The version of the library this binary loaded, which is what answers.
  // The tool's own version (the header it was built with) and the version
  // of the library it loaded, which is what answers.
  const std::string tool = std::to_string(MARKWIRE_VERSION_MAJOR) + "." +
                           std::to_string(MARKWIRE_VERSION_MINOR) + "." +
                           std::to_string(MARKWIRE_VERSION_PATCH);
  app.set_version_flag("--version", "markwire " + tool + " (library " + mw_version() + ")",
                       "Print the tool's version and the library's, and exit");
  markwire::cli::AddDemoCommand(app, globals);
  markwire::cli::AddSimCommand(app, globals);
  markwire::cli::AddSendCommand(app, globals);
  markwire::cli::AddReadCommand(app, globals);
  markwire::cli::AddFormatCommand(app, globals);
  markwire::cli::AddProgramCommand(app, globals);
  markwire::cli::AddTestCommand(app, globals);
  markwire::cli::AddAdjustCommand(app, globals);
  markwire::cli::AddBarcodeCommand(app, globals);
  markwire::cli::AddPortsCommand(app, globals);
  markwire::cli::AddSessionCommand(app, globals);
  markwire::cli::AddGenerateCommand(app, globals);
  // Parse errors, failures and stop signals become the documented exit statuses.
  return markwire::cli::Run(app, argc, argv, globals);
}
