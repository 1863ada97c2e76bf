// markwire program: download a program file to the reader, with a progress
// bar on a terminal.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "cli.h"
#include "markwire.h"

namespace markwire::cli {
namespace {

// The share of `done` in `total`, in `parts`, rounded down: in whole
// numbers, since 870 / 3000 * 100 in doubles is 28.999...
int Share(unsigned done, unsigned total, int parts) {
  if (total == 0 || done >= total) return parts;
  return static_cast<int>(std::uint64_t{done} * static_cast<std::uint64_t>(parts) / total);
}

void DrawBar(unsigned done, unsigned total, void*) {
  constexpr int kWidth = 40;
  std::fprintf(stderr, "\r[%-*.*s] %3d%%  %u/%u bytes", kWidth, Share(done, total, kWidth),
               "########################################", Share(done, total, 100), done, total);
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
  command->add_option("file", options->file, "Program file")->required();
  command->callback([options, &globals] {
    std::string reason;
    if (!Readable(options->file, reason)) {
      Complain(reason);
      globals.exitStatus = kExitNoInput;
      return;
    }
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
    // The download is one library call and runs to its end whatever comes.
    NoteStop(result == 255
                 ? "the program download was let finish, the reader holds the new program"
                 : "the program download was let finish and failed (result " +
                       std::to_string(result) + "): the reader may hold part of the new program");
    globals.exitStatus = result == 255 ? 0 : kExitRefused;
  });
}

}  // namespace markwire::cli
