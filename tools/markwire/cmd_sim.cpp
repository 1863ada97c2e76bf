// markwire sim: simulated readers on pseudo-terminals until interrupted.
//
// One reader by default; --count N plays N of them in this one process, each
// on its own terminal and served by its own PtyHost thread, so that none ever
// waits for another.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli.h"

namespace markwire::cli {

namespace {

constexpr int kMostReaders = 16;

// What the reader was told and keeps: its counters, format, program and
// settings, and its last `history` commands; each line begins with `prefix`.
void PrintRecord(const sim::ReaderMachine& reader, const std::string& prefix, std::size_t history) {
  const char* p = prefix.c_str();
  const auto counters = reader.Counters();
  std::fprintf(stderr, "%sstopped: %zu commands, %zu cards read, %zu passed\n", p,
               counters.commands, counters.cardsRead, counters.cardsPassed);
  const auto format = reader.Format();
  if (!format.commands.empty())
    std::fprintf(stderr, "%sformat: %zu commands\n", p, format.commands.size());
  const auto program = reader.Program();
  if (program.count > 0)
    std::fprintf(stderr, "%sprogram: %zu bytes%s\n", p, program.count,
                 program.confirmed ? "" : " (not confirmed)");
  const auto c = reader.Calibration();
  const auto pair = [](const auto& v) {
    return v ? std::to_string(v->first) + " " + std::to_string(v->second) : std::string("-");
  };
  const auto one = [](const auto& v) { return v ? std::to_string(*v) : std::string("-"); };
  std::fprintf(stderr, "%scalibration: gray %s, card %s, mota %s, fore %s, behind %s\n", p,
               pair(c.gray).c_str(), pair(c.card).c_str(), one(c.mota).c_str(),
               one(c.foreTime).c_str(), one(c.behindTime).c_str());
  if (history == 0) return;
  const auto commands = reader.Commands();
  std::string last;
  for (std::size_t i = commands.size() - std::min(history, commands.size()); i < commands.size();
       ++i)
    last += " \"" + Escaped(commands[i]) + "\"";
  std::fprintf(stderr, "%slast commands:%s\n", p, last.c_str());
}

}  // namespace

void AddSimCommand(CLI::App& app, Globals& globals) {
  struct Options {
    SimOptions sim;
    std::string link;
    int count = 1;
    int history = 0;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand(
      "sim",
      "Play a simulated reader (or --count of them) on a pseudo-terminal; prints its "
      "device path");
  options->sim.AddTo(*command);
  command->add_option("--link", options->link,
                      "Also make this path a symbolic link to the device (removed at exit); "
                      "with --count above 1 one link per reader, named this path with 0, 1, "
                      "... appended");
  command
      ->add_option("--count", options->count,
                   "Play this many readers at once, each on its own pseudo-terminal; prints "
                   "their paths in order, one a line. Reader i (from 0) generates its cards "
                   "from seed + i; with --cards-file each plays the whole file")
      ->check(WholeNumber(1, kMostReaders))
      ->capture_default_str();
  command
      ->add_option("--history", options->history,
                   "When stopped, also list the last N commands each reader received, "
                   "oldest first")
      ->check(WholeNumber(0, static_cast<long long>(sim::ReaderMachine::kRecordedCommands)));
  command->callback([options, &globals] {
    const auto count = static_cast<std::size_t>(options->count);
    // Built before anything else, so that a bad option is a usage error.
    std::vector<std::unique_ptr<sim::ReaderMachine>> readers;
    for (std::size_t i = 0; i < count; ++i) readers.push_back(options->sim.MakeReader(i));
    const auto name = [&](std::size_t i) {
      return count == 1 ? std::string() : "reader " + std::to_string(i) + ": ";
    };

    // A session of its own, so that the simulated line can be this process's
    // controlling terminal (see PtyHost) and not some other program's. Fails
    // harmlessly when the shell already made this process a group leader.
    // A session has one controlling terminal: of several readers only the
    // first one's line is kept from other programs that way.
    (void)setsid();
    const bool leader = getsid(0) == getpid();
    // The stop signals are taken by sigwait below; block them before the
    // hosts' threads start so that they inherit the mask.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    // Declared after the readers, so destroyed (stopped, links removed)
    // before them, also on the early returns.
    std::vector<std::unique_ptr<sim::PtyHost>> hosts;
    std::vector<std::string> links;
    for (std::size_t i = 0; i < count; ++i) {
      hosts.push_back(std::make_unique<sim::PtyHost>(*readers[i]));
      auto& host = *hosts.back();
      if (!host.Start()) {
        Complain("cannot create a pseudo-terminal: " + host.LastError());
        globals.exitStatus = kExitNoReader;
        return;
      }
      if (options->link.empty()) continue;
      links.push_back(count == 1 ? options->link : options->link + std::to_string(i));
      if (!host.Link(links.back())) {
        Complain("cannot link " + links.back() + ": " + host.LastError());
        globals.exitStatus = kExitNoReader;
        return;
      }
    }
    for (const auto& host : hosts) std::printf("%s\n", host->DevicePath().c_str());
    std::fflush(stdout);
    for (const auto& link : links) std::fprintf(stderr, "linked as %s\n", link.c_str());

    // Runs until a stop signal, or until every reader has hung up (a fault)
    // or failed. A reader that stops so is stopped for good at once, which
    // removes its link; the others go on.
    std::vector<bool> reported(count, false);
    const auto noteStopped = [&] {
      bool anyRunning = false;
      for (std::size_t i = 0; i < count; ++i) {
        const bool running = hosts[i]->Running();
        anyRunning = anyRunning || running;
        if (reported[i] || running) continue;
        reported[i] = true;
        if (hosts[i]->HungUp()) {
          std::fprintf(stderr, "%sthe simulated reader hung up\n", name(i).c_str());
        } else {
          std::fprintf(stderr, "%sthe simulated reader stopped: %s\n", name(i).c_str(),
                       hosts[i]->LastError().c_str());
        }
        hosts[i]->Stop();
      }
      return anyRunning;
    };
    const timespec tick{0, 250'000'000};
    while (noteStopped()) {
      siginfo_t info{};
      const int taken = sigtimedwait(&stop, &info, &tick);
      // Closing the first reader's line after its hang-up hangs up this
      // session's controlling terminal; the kernel's SIGHUP that follows says
      // nothing about the other readers.
      const bool ownHangUp =
          taken == SIGHUP && info.si_code == SI_KERNEL && leader && hosts.front()->HungUp();
      if (taken > 0 && !ownHangUp) break;
    }
    noteStopped();
    for (const auto& host : hosts) host->Stop();
    for (std::size_t i = 0; i < count; ++i)
      PrintRecord(*readers[i], name(i), static_cast<std::size_t>(options->history));
  });
}

}  // namespace markwire::cli
