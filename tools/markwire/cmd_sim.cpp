// markwire sim: a simulated reader on a pseudo-terminal until interrupted.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "cli.h"

namespace markwire::cli {

void AddSimCommand(CLI::App& app, Globals& globals) {
  struct Options {
    SimOptions sim;
    std::string link;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand(
      "sim", "Play a simulated reader on a pseudo-terminal; prints its device path");
  options->sim.AddTo(*command);
  command->add_option("--link", options->link,
                      "Also make this path a symbolic link to the device (removed at exit)");
  command->callback([options, &globals] {
    // A session of its own, so that the simulated line can be this process's
    // controlling terminal (see PtyHost) and not some other program's. Fails
    // harmlessly when the shell already made this process a group leader.
    (void)setsid();
    auto reader = options->sim.MakeReader();
    // The stop signals are taken by sigwait below; block them before the
    // host's thread starts so that it inherits the mask.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    sim::PtyHost host(*reader);
    if (!host.Start()) {
      Complain("cannot create a pseudo-terminal: " + host.LastError());
      globals.exitStatus = kExitNoReader;
      return;
    }
    if (!options->link.empty() && !host.Link(options->link)) {
      Complain("cannot link " + options->link + ": " + host.LastError());
      globals.exitStatus = kExitNoReader;
      return;
    }
    std::printf("%s\n", host.DevicePath().c_str());
    std::fflush(stdout);
    if (!options->link.empty()) std::fprintf(stderr, "linked as %s\n", options->link.c_str());

    // Runs until a stop signal, or until the reader hangs up (a fault).
    const timespec tick{0, 250'000'000};
    while (host.Running() && sigtimedwait(&stop, nullptr, &tick) < 0) {
    }
    if (host.HungUp()) std::fprintf(stderr, "the simulated reader hung up\n");
    host.Stop();
    const auto counters = reader->Counters();
    std::fprintf(stderr, "stopped: %zu commands, %zu cards read, %zu passed\n",
                 counters.commands, counters.cardsRead, counters.cardsPassed);
    // What the reader was told and keeps: its format, program and settings.
    const auto format = reader->Format();
    if (!format.commands.empty())
      std::fprintf(stderr, "format: %zu commands\n", format.commands.size());
    const auto program = reader->Program();
    if (program.count > 0)
      std::fprintf(stderr, "program: %zu bytes%s\n", program.count,
                   program.confirmed ? "" : " (not confirmed)");
    const auto c = reader->Calibration();
    const auto pair = [](const auto& p) {
      return p ? std::to_string(p->first) + " " + std::to_string(p->second) : std::string("-");
    };
    const auto one = [](const auto& v) { return v ? std::to_string(*v) : std::string("-"); };
    std::fprintf(stderr, "calibration: gray %s, card %s, mota %s, fore %s, behind %s\n",
                 pair(c.gray).c_str(), pair(c.card).c_str(), one(c.mota).c_str(),
                 one(c.foreTime).c_str(), one(c.behindTime).c_str());
  });
}

}  // namespace markwire::cli
