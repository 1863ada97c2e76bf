// markwire program: download a program file to the reader, with a progress
// bar on a terminal.
#include <unistd.h>

#include <cstdio>

#include "cli.h"
#include "markwire.h"

namespace markwire::cli {
namespace {

void DrawBar(unsigned done, unsigned total, void*) {
  constexpr int kWidth = 40;
  const double part = total == 0 ? 1.0 : static_cast<double>(done) / total;
  const int filled = static_cast<int>(part * kWidth);
  std::fprintf(stderr, "\r[%-*.*s] %3d%%  %u/%u bytes", kWidth, filled,
               "########################################", static_cast<int>(part * 100), done,
               total);
  if (done == total) std::fputc('\n', stderr);
}

}  // namespace

void AddProgramCommand(CLI::App& app, Globals& globals) {
  struct Options {
    std::string device, file;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command =
      app.add_subcommand("program", "Download a program file to the reader, byte by byte");
  AddDeviceOption(*command, options->device);
  command->add_option("file", options->file, "Program file")->required()->check(CLI::ExistingFile);
  command->callback([options, &globals] {
    InstallTrace(globals);
    if (!OpenReader(options->device)) {
      globals.exitStatus = kExitNoReader;
      return;
    }
    // A "W" command drops every "W" and blank from the name and ends at "/".
    StagedFile staged(options->file, "program.hex");
    if (!staged.Ok()) {
      Complain(staged.Error());
      globals.exitStatus = kExitRefused;
      return;
    }
    if (isatty(STDERR_FILENO)) OmrSetProgressHandler(DrawBar, nullptr);
    // The library reports a failure through its message handler as well.
    const int result = OmrS("W program.hex/");
    OmrSetProgressHandler(nullptr, nullptr);
    if (result != 255 && isatty(STDERR_FILENO)) std::fputc('\n', stderr);  // end a broken bar
    std::printf("result %d\n", result);
    globals.exitStatus = result == 255 ? 0 : kExitRefused;
  });
}

}  // namespace markwire::cli
