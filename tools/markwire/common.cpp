#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "cli.h"
#include "markwire.h"

namespace markwire::cli {

namespace {

// The trace handler of the tool: prints with --trace, and remembers the line
// the port writes when an open fails, which names the OS's reason.
struct TraceState {
  bool print = false;
  std::string openFailure;
  std::string formatSummary;
};
TraceState traceState;

void OnTrace(const char* line, void*) {
  const std::string_view text(line);
  if (traceState.print) std::fprintf(stderr, "trace %s\n", line);
  if (text.starts_with("format: ")) traceState.formatSummary = text.substr(8);
  const auto open = text.find("open ");
  if (open != std::string_view::npos && text.find(": ", open) != std::string_view::npos)
    traceState.openFailure = std::string(text.substr(text.find_first_not_of(' ', open + 5)));
}

}  // namespace

void InstallTrace(const Globals& globals) {
  traceState.print = globals.trace;
  OmrSetTraceHandler(OnTrace, nullptr);
}

void PrintJson(const nlohmann::json& object) {
  std::printf("%s\n",
              object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  std::fflush(stdout);
}

void Complain(const std::string& reason) {
  std::fprintf(stderr, "markwire: %s\n", reason.c_str());
}

std::string LastFormatSummary() { return traceState.formatSummary; }

void AddDeviceOption(CLI::App& command, std::string& device) {
  command.add_option("-d,--device", device, "Serial device, e.g. /dev/ttyUSB0")->required();
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
  const std::string summary = LastFormatSummary();
  if (json && out == stdout) {
    PrintJson({{"format", path}, {"result", result}, {"summary", summary}});
  } else {
    std::fprintf(out, "format %s: %s\n", path.c_str(), summary.c_str());
  }
  if (result != 255) Complain(path + ": the reader did not take the whole format");
  return result == 255 ? 0 : kExitRefused;
}

bool OpenReader(const std::string& device) {
  traceState.openFailure.clear();
  if (OmrInitDevice(device.c_str()) == 255) return true;
  Complain(traceState.openFailure.empty() ? device + ": no reader answered the hand-shake"
                                          : traceState.openFailure);
  return false;
}

void SimOptions::AddTo(CLI::App& command) {
  command
      .add_option("--cards-file", cardsFile,
                  "Card data from a file: one card per line (\"data<TAB>barcode\")")
      ->check(CLI::ExistingFile);
  command.add_option("--seed", seed, "Seed of the generated answer sheets")->capture_default_str();
  command.add_option("--cards", cards, "Cards in the hopper (default: without end)");
  command.add_flag("--pacing", pacing,
                   "Send at the pace of a real reader (38400 baud, answer and card delays)");
  command.add_option("--answer-delay", answerDelayMs, "Milliseconds before each answer");
  command.add_option("--final-delay", finalDelayMs, "Milliseconds before each final status");
  command.add_option("--card-delay", cardDelayMs, "Milliseconds a card takes through the reader");
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
    try {
      source = std::make_unique<sim::FileCards>(cardsFile);
    } catch (const std::runtime_error& e) {
      throw CLI::ValidationError("--cards-file", e.what());
    }
  } else {
    source = std::make_unique<sim::GeneratedCards>(
        seed + index,
        cards < 0 ? sim::GeneratedCards::kUnlimited : static_cast<std::size_t>(cards));
  }
  return std::make_unique<sim::ReaderMachine>(config, std::move(source));
}

}  // namespace markwire::cli
