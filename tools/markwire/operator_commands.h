// The commands an operator uses around the reader's own: finding its port,
// a session of typed commands, and the shell completion and manual page
// made from this tool's own help.
#pragma once

#include "cli.h"

namespace markwire::cli {

void AddPortsCommand(CLI::App& app, Globals& globals);
void AddSessionCommand(CLI::App& app, Globals& globals);
// Prints what `app` knows of itself as a bash or zsh completion script or a
// manual page; hidden from the help.
void AddGenerateCommand(CLI::App& app, Globals& globals);

}  // namespace markwire::cli
