// markwire session: one hand-shake, then commands one per line from
// standard input, each answered as `markwire send` answers it.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "cli.h"
#include "command_exchange.h"
#include "markwire.h"
#include "operator_commands.h"

namespace markwire::cli {

namespace session_detail {

// The line without its line end and trailing blanks; leading blanks stay,
// since they are part of a command's text for the reader.
std::string TrimEnd(std::string line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
    line.pop_back();
  return line;
}

bool IsIgnored(const std::string& line) {
  const auto first = line.find_first_not_of(" \t");
  return first == std::string::npos || line[first] == '#';
}

bool IsEnd(const std::string& line) {
  const auto first = line.find_first_not_of(" \t");
  const std::string word = first == std::string::npos ? "" : line.substr(first);
  return word == "quit" || word == "exit";
}

}  // namespace session_detail

void AddSessionCommand(CLI::App& app, Globals& globals) {
  struct Options {
    std::string device;
    bool json = false;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand(
      "session",
      "Hand-shake once, then send the commands read from standard input, one per line, each "
      "answered with its result (and its data block when it asks for one); blank lines and "
      "lines starting with # are skipped; quit, exit or the end of input ends the session. "
      "Exits 0 when every command succeeded, 1 when any failed (the session goes on), 2 when "
      "the reader was not reached or was lost");
  AddDeviceOption(*command, options->device);
  command->add_flag("--json", options->json, "One JSON object per command");
  command->callback([options, &globals] {
    using namespace session_detail;
    InstallTrace(globals);
    if (!OpenReader(options->device)) {
      globals.exitStatus = kExitNoReader;
      return;
    }
    const bool interactive = isatty(STDIN_FILENO) != 0;
    int sent = 0;
    int failed = 0;
    std::string line;
    for (;;) {
      if (interactive) {
        std::fputs("omr> ", stdout);
        std::fflush(stdout);
      }
      if (!std::getline(std::cin, line)) {
        if (interactive) std::fputs("\n", stdout);
        break;
      }
      line = TrimEnd(line);
      if (IsIgnored(line)) continue;
      if (IsEnd(line)) break;
      const CommandAnswer answer = SendAndCollect(line);
      PrintAnswer(answer, options->json);
      ++sent;
      if (answer.ReaderLost()) {
        Complain("the reader on " + options->device + " was lost; the session ends");
        globals.exitStatus = kExitNoReader;
        return;
      }
      if (!answer.Ok()) ++failed;
    }
    if (failed > 0) {
      Complain(std::to_string(failed) + " of " + std::to_string(sent) + " commands failed");
    }
    globals.exitStatus = failed > 0 ? kExitRefused : 0;
  });
}

}  // namespace markwire::cli
