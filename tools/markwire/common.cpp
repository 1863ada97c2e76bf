#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "cli.h"
#include "markwire.h"

namespace markwire::cli {

namespace {

// The trace handler of the tool: the library's trace lines on standard
// error with --trace, and nowhere without (the library's own default would
// print its decoder lines).
void OnTrace(const char* line, void* print) {
  if (print != nullptr) std::fprintf(stderr, "trace %s\n", Escaped(line).c_str());
}

}  // namespace

void InstallTrace(const Globals& globals) {
  static int print = 1;
  OmrSetTraceHandler(OnTrace, globals.trace ? &print : nullptr);
}

void PrintJson(const nlohmann::json& object) {
  std::printf("%s\n",
              object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  std::fflush(stdout);
}

void Complain(const std::string& reason) {
  std::fprintf(stderr, "markwire: %s\n", Escaped(reason).c_str());
}

BarcodeLayout CurrentBarcodeLayout() {
  int offset = 0;
  int length = 0;
  OmrGetBarcodeLayout(&offset, &length);
  return {length > 0, offset == 1, static_cast<std::size_t>(std::max(length, 0))};
}

std::string FormatSummary(int result) {
  const BarcodeLayout layout = CurrentBarcodeLayout();
  std::string summary =
      "result " + std::to_string(result) + ", sync " + std::to_string(OmrGetSync()) + ", barcode ";
  if (!layout.on) return summary + "off";
  return summary + "on, after first byte " + (layout.afterFirstByte ? "yes" : "no") + ", length " +
         std::to_string(layout.length);
}

void AddDeviceOption(CLI::App& command, std::string& device) {
  // CLI11 takes the variable before it checks what is required, and ignores
  // it when empty, so -d is required only while MARKWIRE_DEVICE names nothing.
  command
      .add_option("-d,--device", device,
                  "Serial device, e.g. /dev/ttyUSB0; required unless MARKWIRE_DEVICE names one")
      ->required()
      ->envname("MARKWIRE_DEVICE");
}

StagedFile::StagedFile(const std::string& path, const std::string& plainName) {
  char absolute[PATH_MAX];
  if (realpath(path.c_str(), absolute) == nullptr) {
    error_ = path + ": " + std::strerror(errno);
    return;
  }
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) != nullptr) previous_ = cwd;
  char pattern[] = "/tmp/markwire-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    error_ = std::string("cannot make a temporary directory: ") + std::strerror(errno);
    return;
  }
  dir_ = pattern;
  link_ = dir_ + "/" + plainName;
  if (symlink(absolute, link_.c_str()) != 0 || chdir(dir_.c_str()) != 0) {
    error_ = std::string("cannot stage the file: ") + std::strerror(errno);
    return;
  }
  ok_ = true;
}

StagedFile::~StagedFile() {
  if (!previous_.empty() && chdir(previous_.c_str()) != 0) {
    // The directory we came from is gone; staying in /tmp is harmless.
  }
  if (!link_.empty()) unlink(link_.c_str());
  if (!dir_.empty()) rmdir(dir_.c_str());
}

int DownloadFormatFile(const std::string& path, bool json, std::FILE* out) {
  StagedFile staged(path, "card.fmt");
  if (!staged.Ok()) {
    Complain(staged.Error());
    return kExitRefused;
  }
  // The file form of the download, as DownLoadFormatFile sends a path.
  const int result = OmrS("S card.fmt/");
  const std::string summary = FormatSummary(result);
  if (json && out == stdout) {
    PrintJson({{"format", path}, {"result", result}, {"summary", summary}});
  } else {
    std::fprintf(out, "format %s: %s\n", Escaped(path).c_str(), summary.c_str());
  }
  if (result != 255) Complain(path + ": the reader did not take the whole format");
  return result == 255 ? 0 : kExitRefused;
}

bool OpenReader(const std::string& device) {
  // From the hand-shake on, a stop signal waits for the exchange under way.
  CatchStopSignals();
  if (OmrInitDevice(device.c_str()) == 255) {
    if (!StopRequested()) return true;
    // The caller exits; the library ends the session ("Q/") as it unloads.
    NoteStop("during the hand-shake, before any command");
    return false;
  }
  char why[512] = {};
  OmrGetOpenError(why, sizeof why);
  Complain(why[0] == '\0' ? device + ": no reader answered the hand-shake" : std::string(why));
  return false;
}

void SimOptions::AddTo(CLI::App& command) {
  command.add_option("--cards-file", cardsFile,
                     "Card data from a file: one card per line (\"data<TAB>barcode\")");
  command.add_option("--seed", seed, "Seed of the generated answer sheets")
      ->check(WholeNumber(0, INT64_MAX))
      ->capture_default_str();
  command.add_option("--cards", cards, "Cards in the hopper (default: without end)")
      ->check(WholeNumber(0, INT64_MAX));
  command.add_flag("--pacing", pacing,
                   "Send at the pace of a real reader (38400 baud, answer and card delays)");
  command.add_option("--answer-delay", answerDelayMs, "Milliseconds before each answer")
      ->check(NotNegative());
  command.add_option("--final-delay", finalDelayMs, "Milliseconds before each final status")
      ->check(NotNegative());
  command.add_option("--card-delay", cardDelayMs, "Milliseconds a card takes through the reader")
      ->check(NotNegative());
  command.add_flag("--no-final-status", noFinalStatus,
                   "Send no final status (the library then waits its full 3 s after commands)");
  command.add_option("--fault", faults,
                     "Play a fault: kind[:command][=value][*times], e.g. status:R=16, "
                     "silence:ONLINE*2, hangup:r, slow:r=20, wrong-echo, truncate:r=3");
}

std::unique_ptr<sim::ReaderMachine> SimOptions::MakeReader(std::size_t index) const {
  sim::ReaderConfig config = pacing ? sim::ReaderConfig::Realistic() : sim::ReaderConfig{};
  const auto us = [](double ms) { return static_cast<std::int64_t>(ms * 1000.0); };
  if (answerDelayMs >= 0) config.answerDelayUs = us(answerDelayMs);
  if (finalDelayMs >= 0) config.finalStatusDelayUs = us(finalDelayMs);
  if (cardDelayMs >= 0) config.cardDelayUs = us(cardDelayMs);
  config.sendFinalStatus = !noFinalStatus;
  for (const auto& text : faults) {
    auto parsed = sim::ParseFault(text);
    if (auto* reason = std::get_if<std::string>(&parsed))
      throw CLI::ValidationError("--fault", *reason);
    config.faults.push_back(std::get<sim::Fault>(parsed));
  }
  std::unique_ptr<sim::CardSource> source;
  if (!cardsFile.empty()) {
    std::string reason;
    if (!Readable(cardsFile, reason)) throw Failure(kExitNoInput, reason);
    try {
      source = std::make_unique<sim::FileCards>(cardsFile);
    } catch (const std::runtime_error& e) {
      throw Failure(kExitBadData, e.what());
    }
  } else {
    source = std::make_unique<sim::GeneratedCards>(
        seed + index,
        cards < 0 ? sim::GeneratedCards::kUnlimited : static_cast<std::size_t>(cards));
  }
  return std::make_unique<sim::ReaderMachine>(config, std::move(source));
}

}  // namespace markwire::cli
