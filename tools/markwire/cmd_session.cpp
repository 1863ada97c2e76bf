// markwire session: one hand-shake, then commands one per line from
// standard input, each answered as `markwire send` answers it.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "cli.h"
#include "command_exchange.h"
#include "markwire.h"
#include "interrupt.h"
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

// Lines from standard input, read with poll so that a stop signal is seen
// while the session waits for the operator (the signal handlers restart
// interrupted reads). Its own buffer: a program that sends two commands and
// waits for both answers must not find the second stuck in a stdio buffer.
class InputLines {
 public:
  // The next line without its line end; nothing at the end of the input or
  // once a stop was requested.
  std::optional<std::string> Next() {
    for (;;) {
      const auto end = buffered_.find('\n');
      if (end != std::string::npos) {
        std::string line = buffered_.substr(0, end);
        buffered_.erase(0, end + 1);
        return line;
      }
      if (ended_) {
        if (buffered_.empty()) return std::nullopt;
        return std::exchange(buffered_, {});
      }
      if (StopRequested()) return std::nullopt;
      pollfd input{STDIN_FILENO, POLLIN, 0};
      const int ready = ::poll(&input, 1, 200);
      if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
      char chunk[4096];
      const ssize_t n = ready < 0 ? -1 : ::read(STDIN_FILENO, chunk, sizeof chunk);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) {
        ended_ = true;
        continue;
      }
      buffered_.append(chunk, static_cast<std::size_t>(n));
    }
  }

 private:
  std::string buffered_;
  bool ended_ = false;
};

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
    InputLines input;
    for (;;) {
      if (interactive) {
        std::fputs("omr> ", stdout);
        std::fflush(stdout);
      }
      std::optional<std::string> next = input.Next();
      if (StopRequested()) {
        NoteStop("after " + std::to_string(sent) + (sent == 1 ? " command" : " commands"));
        break;
      }
      if (!next) {
        if (interactive) std::fputs("\n", stdout);
        break;
      }
      const std::string line = TrimEnd(*next);
      if (IsIgnored(line)) continue;
      if (IsEnd(line)) break;
      const CommandAnswer answer = SendAndCollect(line);
      PrintAnswer(answer, options->json);
      ++sent;
      if (!OutputOk()) break;
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
