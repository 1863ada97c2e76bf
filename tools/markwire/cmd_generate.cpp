// markwire generate bash|zsh|man: the completion scripts and the manual
// page, written from the same help that --help prints. Hidden: the build
// runs it, and so can a user who wants completion without installing.
#include <cstdio>

#include "cli.h"
#include "help_export.h"
#include "markwire.h"
#include "operator_commands.h"

namespace markwire::cli {

void AddGenerateCommand(CLI::App& app, Globals& globals) {
  auto kind = std::make_shared<std::string>();
  CLI::App* command = app.add_subcommand(
      "generate", "Print a bash or zsh completion script, or the manual page in roff");
  command->group("");
  command->add_option("kind", *kind, "bash, zsh or man")
      ->required()
      ->check(CLI::IsMember({"bash", "zsh", "man"}));
  CLI::App* tool = &app;
  command->callback([kind, tool, &globals] {
    const CommandHelp help = DescribeApp(*tool);
    const std::string program = "markwire";
    std::string text;
    if (*kind == "bash") {
      text = BashCompletion(help, program);
    } else if (*kind == "zsh") {
      text = ZshCompletion(help, program);
    } else {
      text = ManPage(help, program, program + " " + mw_version());
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    globals.exitStatus = std::fflush(stdout) == 0 ? 0 : kExitRefused;
  });
}

}  // namespace markwire::cli
