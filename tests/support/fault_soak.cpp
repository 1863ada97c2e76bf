#include "support/fault_soak.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "api/app.h"
#include "barcode_card.h"
#include "commands/families.h"
#include "commands/format_download.h"
#include "markwire.h"
#include "memory_link.h"
#include "pty_host.h"
#include "reader_machine.h"
#include "virtual_clock.h"

namespace markwire::test {
namespace {

constexpr long kBarcodeLength = 8;
constexpr std::size_t kKeptLines = 100000;

// The documented size of ReadOneCard's buffer: one block, the byte past its
// length, a NUL, and the barcode.
constexpr std::size_t kCardBuffer = 2050 + kBarcodeLength;

class QuietNotifier final : public Notifier {
 public:
  void Message(std::string_view) override {}
  void Trace(std::string_view) override {}
  bool WantsWireTrace() const override { return false; }
  void WireTrace(std::string_view) override {}
  void Progress(unsigned, unsigned) override {}
};

// The generated answer sheets, with a record of the cards the reader fed.
// The reader takes them on its own thread when it runs on a pty.
class RecordedCards final : public sim::CardSource {
 public:
  explicit RecordedCards(std::uint64_t seed) : cards_(seed) {}
  std::optional<sim::Card> Next() override {
    std::lock_guard lock(mutex_);
    auto card = cards_.Next();
    if (card) {
      last_ = *card;
      ++count_;
    }
    return card;
  }
  std::size_t Count() const {
    std::lock_guard lock(mutex_);
    return count_;
  }
  sim::Card Last() const {
    std::lock_guard lock(mutex_);
    return last_;
  }

 private:
  mutable std::mutex mutex_;
  sim::GeneratedCards cards_;
  sim::Card last_;
  std::size_t count_ = 0;
};


// splitmix64, as the card generator: the same run on every platform.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed * 0x2545F4914F6CDD1DULL + 7) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  std::size_t Below(std::size_t n) { return static_cast<std::size_t>(Next() % n); }
  double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  template <typename T, std::size_t N>
  const T& Pick(const std::array<T, N>& items) {
    return items[Below(N)];
  }

 private:
  std::uint64_t state_;
};

std::string RandomText(Random& random, std::size_t length) {
  static constexpr std::string_view kBytes = "EN0123456789XY/R-P \xFF\xFC";
  std::string text;
  for (std::size_t i = 0; i < length; ++i) text.push_back(kBytes[random.Below(kBytes.size())]);
  return text;
}

// One fault of the simulated reader that can touch a card read, with its
// command and value drawn at random.
sim::Fault RandomFault(Random& random) {
  using Kind = sim::Fault::Kind;
  static constexpr std::array kKinds{
      Kind::WrongEcho, Kind::Status,     Kind::FinalStatus, Kind::Silence,
      Kind::NoAnswer,  Kind::SlowBytes,  Kind::TruncateBlock, Kind::GarbageLength,
      Kind::ExtraBytes, Kind::PartialEcho, Kind::HangUp,    Kind::ShortBlock};
  static constexpr std::array<std::string_view, 5> kCommands{"R", "r", "PR", "-", ""};
  sim::Fault fault;
  fault.kind = random.Pick(kKinds);
  fault.times = 1;
  // The faults on a data block take the command that reads one instead.
  std::string_view command = random.Pick(kCommands);
  switch (fault.kind) {
    case Kind::Status:
    case Kind::FinalStatus:
      fault.value = random.Below(4) == 0 ? RandomText(random, 2)
                                          : std::to_string(10 + random.Below(90));
      break;
    case Kind::SlowBytes:
      fault.value = std::to_string(std::array{1, 5, 20, 60, 150}[random.Below(5)]);
      break;
    case Kind::TruncateBlock:
      command = "r";
      if (random.Below(2) == 0) fault.value = std::to_string(random.Below(120));
      break;
    case Kind::GarbageLength:
      command = random.Below(2) == 0 ? "r" : "PR";
      fault.value = std::string(random.Pick(std::array<std::string_view, 8>{
          "12x4", "9999", "0000", "-001", "  12", "2049", "0003", "abcd"}));
      break;
    case Kind::ShortBlock:
      command = "PR";
      fault.value = std::to_string(random.Below(1500));
      break;
    case Kind::ExtraBytes:
      fault.value = RandomText(random, 1 + random.Below(6));
      break;
    default:
      break;
  }
  fault.command = std::string(command);
  return fault;
}

// What the application gets for a card: a barcode text and the data, laid
// out as the format says.
std::string Laid(const std::string& data, const std::string& code, bool afterFirstByte) {
  if (!afterFirstByte) return code + data;
  return data.substr(0, 1) + code + data.substr(1);
}

std::string Printable(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F) {
      out.push_back(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    }
  }
  return out;
}

void Keep(std::vector<std::string>& lines, std::string line) {
  if (lines.size() < kKeptLines) lines.push_back(std::move(line));
}

// The exchanges of one card, on standard error, for a closer look at what
// went wrong with it.
void PrintExchanges(const std::string& what, const sim::MemoryLink& link, std::size_t from) {
  static constexpr const char* kNames[] = {"open", "write", "read", "purge", "close"};
  std::fprintf(stderr, "%s\n", what.c_str());
  for (std::size_t e = from; e < link.Events().size(); ++e) {
    const auto& ev = link.Events()[e];
    std::fprintf(stderr, "  %10.3f ms %-5s %s", static_cast<double>(ev.atUs) / 1000,
                 kNames[static_cast<int>(ev.kind)], Printable(ev.bytes.substr(0, 60)).c_str());
    if (ev.kind == sim::MemoryLink::EventKind::Read)
      std::fprintf(stderr, "  (%zu of %u in %u ms)", ev.bytes.size(), ev.asked, ev.timeoutMs);
    std::fprintf(stderr, "\n");
  }
}

}  // namespace

SoakTally& SoakTally::operator+=(const SoakTally& other) {
  cards += other.cards;
  exact += other.exact;
  failed += other.failed;
  barcodeFailed += other.barcodeFailed;
  silentlyWrong += other.silentlyWrong;
  untouched += other.untouched;
  untouchedExact += other.untouchedExact;
  faultsFired += other.faultsFired;
  outcomes += other.outcomes;
  for (const auto& line : other.wrong) Keep(wrong, line);
  for (const auto& line : other.untouchedMisses) Keep(untouchedMisses, line);
  return *this;
}

std::string SoakTally::Summary() const {
  char line[320];
  std::snprintf(line, sizeof line,
                "%zu cards, %zu faults fired: %zu exact, %zu reported failed, %zu barcode failed "
                "(data exact), %zu silently wrong; untouched by any fault %zu, exact %zu",
                cards, faultsFired, exact, failed, barcodeFailed, silentlyWrong, untouched,
                untouchedExact);
  std::string text = line;
  for (const auto& w : wrong) text += "\n  wrong: " + w;
  for (const auto& m : untouchedMisses) text += "\n  untouched, not exact: " + m;
  return text;
}

SoakTally RunSoak(const SoakOptions& options) {
  Random random(options.seed);
  const long symbology = 1 + static_cast<long>(options.seed % 3);
  const bool afterFirstByte = (options.seed / 3) % 2 == 1;

  auto owned = std::make_unique<RecordedCards>(options.seed);
  RecordedCards& cards = *owned;
  sim::ReaderMachine reader(options.pacing ? sim::ReaderConfig::Realistic() : sim::ReaderConfig{},
                            std::move(owned));
  // On virtual time the reader sits behind an in-memory line; on a pty it
  // answers from its own thread, in real time, to the library's serial port.
  sim::VirtualClock clock;
  QuietNotifier notifier;
  sim::MemoryLink* link = nullptr;
  std::optional<sim::PtyHost> host;
  if (options.pty) {
    host.emplace(reader);
    App().ReplaceSession(App().MakeDefaultSession());
  } else {
    auto ownedLink = std::make_unique<sim::MemoryLink>(clock, reader);
    link = ownedLink.get();
    App().ReplaceSession(std::make_unique<OmrInfo>(std::move(ownedLink), clock, notifier, Families()));
  }

  char format[96];
  std::snprintf(format, sizeof format, "L 044/F 001 08 000 10 01 1 ID/%sf %ld 010 020 01 %02ld/",
                afterFirstByte ? "T/" : "", symbology, kBarcodeLength);
  const auto connect = [&] {
    // A reader that hung up is plugged in again, on a new terminal.
    if (host && !host->Running() && !host->Start()) return false;
    const std::string device = host ? host->DevicePath() : "mem";
    return OmrInitDevice(device.c_str()) == 255 &&
           SendFormatText(*App().Session(), format) == 255;
  };

  SoakTally tally;
  bool online = connect();
  for (const auto& fault : options.armedFirst) reader.AddFault(fault);
  std::vector<char> buffer(kCardBuffer);
  std::string previous = "none";
  for (std::size_t n = 0; n < options.cards && online; ++n) {
    std::optional<sim::Fault> armed;
    if (random.Unit() < options.faultShare) {
      armed = RandomFault(random);
      reader.AddFault(*armed);
    }
    const std::size_t eventsBefore = link ? link->Events().size() : 0;
    // Bytes still on their way from an earlier reply touch this card too.
    const bool lineClear = !link || link->PendingBytes() == 0;
    const bool tracing = n >= options.traceFirst && n <= options.traceLast;
    // On a pty the library's own wire trace shows the exchanges.
    if (host && tracing)
      OmrSetTraceHandler([](const char* line, void*) { std::fprintf(stderr, "  %s\n", line); },
                         nullptr);
    const std::size_t fedBefore = cards.Count();
    const std::size_t firedBefore = reader.Counters().faultsFired;
    std::fill(buffer.begin(), buffer.end(), '\0');
    const int result = ReadOneCard(0, 2000, buffer.data());
    // A fault that found nothing to fire on must not carry over to the next
    // card; the soak arms each one for one card only.
    if (armed) reader.ClearFaults();
    const std::size_t fired = reader.Counters().faultsFired - firedBefore;
    const std::size_t fed = cards.Count() - fedBefore;
    const std::string text(buffer.data());

    ++tally.cards;
    tally.faultsFired += fired;
    const std::string what = "card " + std::to_string(n) + " fault " +
                             (armed ? sim::FormatFault(*armed) : std::string("none")) +
                             (fired ? " (fired)" : "") + " after " + previous + ", fed " +
                             std::to_string(fed) + ", result " + std::to_string(result) + " \"" +
                             Printable(text) + "\"";
    bool exact = false;
    if (result <= 0 || result == 255) {
      ++tally.failed;
      tally.outcomes += 'F';
    } else if (fed != 1) {
      ++tally.silentlyWrong;
      tally.outcomes += 'W';
      Keep(tally.wrong, what);
    } else {
      const sim::Card card = cards.Last();
      const std::string expected =
          Laid(card.data,
               sim::FitBarcodeText(sim::KindOfLine(symbology), card.barcode, kBarcodeLength),
               afterFirstByte);
      const std::string stops = Laid(card.data, std::string(kBarcodeLength, '.'), afterFirstByte);
      if (text == expected && static_cast<std::size_t>(result) == expected.size()) {
        ++tally.exact;
        tally.outcomes += 'E';
        exact = true;
      } else if (text == stops && static_cast<std::size_t>(result) == stops.size()) {
        ++tally.barcodeFailed;
        tally.outcomes += 'B';
      } else {
        ++tally.silentlyWrong;
        tally.outcomes += 'W';
        Keep(tally.wrong, what + " expected \"" + Printable(expected) + "\"");
      }
    }
    if (host && tracing) {
      OmrSetTraceHandler(nullptr, nullptr);
      std::fprintf(stderr, "%s\n", what.c_str());
    }
    if (link && tracing) PrintExchanges(what, *link, eventsBefore);
    if (fired == 0 && lineClear) {
      ++tally.untouched;
      if (exact) {
        ++tally.untouchedExact;
      } else {
        Keep(tally.untouchedMisses, what);
      }
    }
    if (!App().Session()->Port()->IsValid()) {
      if (host) host->Stop();
      online = connect();
    }
    previous = armed ? sim::FormatFault(*armed) + (fired ? "" : " (not fired)") : "none";
  }
  App().ReplaceSession(App().MakeDefaultSession());
  return tally;
}

}  // namespace markwire::test
