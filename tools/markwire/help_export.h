// The tool's own help, walked once into a plain tree and written out as a
// bash completion script, a zsh completion script and a manual page, so that
// the three never say other than `--help` does.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace markwire::cli {

struct OptionHelp {
  std::vector<std::string> names;  // "-d", "--device"; a positional's single name
  std::string value;               // "DEVICE"; empty for a flag
  std::string description;
  std::vector<std::string> choices;  // from a check like IsMember
  bool positional = false;
  bool repeated = false;  // takes several values, or may be given more than once
  bool required = false;
  bool file = false;    // names a file (a file check, or a name that says so)
  bool device = false;  // names a serial device
  std::string env;      // the variable that gives its value when it is absent
};

struct CommandHelp {
  std::string name;  // "" for the tool itself
  std::string path;  // "test area"
  std::string description;
  std::vector<OptionHelp> options;  // hidden ones left out
  std::vector<CommandHelp> commands;
};

// The tree of `app`, without its hidden subcommands and options.
CommandHelp DescribeApp(const CLI::App& app);

std::string BashCompletion(const CommandHelp& tool, const std::string& program);
std::string ZshCompletion(const CommandHelp& tool, const std::string& program);
// `version` goes in the page's header ("markwire 1.2.0").
std::string ManPage(const CommandHelp& tool, const std::string& program,
                    const std::string& version);

}  // namespace markwire::cli
