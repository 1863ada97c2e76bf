#include <cstdio>
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
};
TraceState traceState;

void OnTrace(const char* line, void*) {
  const std::string_view text(line);
  if (traceState.print) std::fprintf(stderr, "trace %s\n", line);
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

std::unique_ptr<sim::ReaderMachine> SimOptions::MakeReader() const {
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
        seed, cards < 0 ? sim::GeneratedCards::kUnlimited : static_cast<std::size_t>(cards));
  }
  return std::make_unique<sim::ReaderMachine>(config, std::move(source));
}

}  // namespace markwire::cli
