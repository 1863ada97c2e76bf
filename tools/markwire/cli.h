// Shared pieces of the markwire command-line tool.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "checks.h"
#include "interrupt.h"
#include "pty_host.h"
#include "reader_machine.h"

namespace markwire::cli {

// Exit statuses, one scheme for every command (the top-level --help lists
// them, ExitStatusHelp).
inline constexpr int kExitDone = 0;
inline constexpr int kExitRefused = 1;     // the reader refused, or a read failed
inline constexpr int kExitNoReader = 2;    // no device, no hand-shake
inline constexpr int kExitNotDecoded = 3;  // barcode decode: full stops
inline constexpr int kExitUsage = 64;      // a bad option or value
inline constexpr int kExitBadData = 65;    // input that is not what it should be
inline constexpr int kExitNoInput = 66;    // a file that cannot be opened or read
// 128 + the signal's number after SIGINT (130), SIGPIPE (141), SIGTERM (143).

// Thrown by a command that cannot go on: Run prints the reason (one line)
// and exits with the status.
struct Failure : std::runtime_error {
  Failure(int exitStatus, const std::string& reason)
      : std::runtime_error(reason), status(exitStatus) {}
  int status;
};

struct Globals {
  bool trace = false;
  int exitStatus = 0;  // what main returns; set by the subcommand that ran
};

// The exit statuses as the help's footer shows them.
std::string ExitStatusHelp();

// Parses the command line and runs the chosen command; returns main's
// status: a usage error is 64 with one line of reason (--help and --version
// 0), a stop signal its own status.
int Run(CLI::App& app, int argc, char** argv, const Globals& globals);

// Sends every wire transfer to standard error while --trace is on.
void InstallTrace(const Globals& globals);

// One JSON object on one line of standard output. Bytes that are not UTF-8
// (card data are the reader's bytes) are replaced rather than refused.
void PrintJson(const nlohmann::json& object);

// One-line reason on standard error, prefixed with the tool's name.
void Complain(const std::string& reason);

// Opens the reader on `device` (hand-shake); complains and returns false when
// it cannot.
bool OpenReader(const std::string& device);

// The required -d/--device option of the subcommands that talk to a reader.
void AddDeviceOption(CLI::App& command, std::string& device);

// Where the barcode sits in a card's text, as the last format download in
// this process left it.
struct BarcodeLayout {
  bool on = false;
  bool afterFirstByte = false;
  std::size_t length = 0;
};
BarcodeLayout CurrentBarcodeLayout();

// One line on what the last format download left: its result, the sync
// count, and where the barcode goes.
std::string FormatSummary(int result);

// The reader protocol names files inside a command that ends at the first
// "/" and drops every "W" and blank from program file names, so a file is
// handed to the library under a plain name: a symbolic link in a private
// temporary directory, which becomes the working directory while it exists.
class StagedFile {
 public:
  StagedFile(const std::string& path, const std::string& plainName);
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  bool Ok() const { return ok_; }
  const std::string& Error() const { return error_; }

 private:
  std::string dir_, link_, previous_, error_;
  bool ok_ = false;
};

// Downloads the format file at `path`; prints what the library recorded on
// `out` (JSON only on standard output). Returns an exit status.
int DownloadFormatFile(const std::string& path, bool json, std::FILE* out);

// Options that shape the simulated reader, shared by `sim` and `demo`.
struct SimOptions {
  std::string cardsFile;
  std::uint64_t seed = 1;
  long long cards = -1;  // -1: without end
  bool pacing = false;
  double answerDelayMs = -1, finalDelayMs = -1, cardDelayMs = -1;
  bool noFinalStatus = false;
  std::vector<std::string> faults;

  void AddTo(CLI::App& command);
  // Builds the reader; throws CLI::ValidationError with the reason when a
  // fault does not parse, and Failure when the card file cannot be read (66)
  // or is malformed (65). Of several readers played at once, reader `index` (from 0)
  // generates its cards from seed + index, so that it plays exactly what a
  // single reader given that seed would; every reader gets the faults and a
  // card source of its own.
  std::unique_ptr<sim::ReaderMachine> MakeReader(std::size_t index = 0) const;
};

// The card reading loop shared by `read` and `demo`: returns the exit status.
struct ReadOptions {
  std::string format;  // downloaded before the first card when set
  int count = 1;
  int option = 0;
  int limit = 2000;
  bool json = false;
};
void AddReadOptions(CLI::App& command, ReadOptions& options);
int ReadCards(const ReadOptions& options);

void AddSendCommand(CLI::App& app, Globals& globals);
void AddReadCommand(CLI::App& app, Globals& globals);
void AddSimCommand(CLI::App& app, Globals& globals);
void AddDemoCommand(CLI::App& app, Globals& globals);
void AddFormatCommand(CLI::App& app, Globals& globals);
void AddProgramCommand(CLI::App& app, Globals& globals);
void AddTestCommand(CLI::App& app, Globals& globals);
void AddAdjustCommand(CLI::App& app, Globals& globals);
void AddBarcodeCommand(CLI::App& app, Globals& globals);

}  // namespace markwire::cli
