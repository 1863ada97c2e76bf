// The simulated optical mark reader: the reader's side of the serial
// protocol as a state machine. It takes the bytes the library writes, cuts
// them into commands at each "/", and schedules its echo, answers, data
// blocks and final statuses on the line, with the faults it was told to play.
//
// Besides reading cards it takes format downloads ("S ..." up to "EN/", each
// command answered with its echo and "EN" only), program downloads ("A ..."
// and then two bytes per program byte, ended by a quiet line), the test
// commands "I 0" to "I 6" with their raw acknowledgements and value blocks,
// and the calibration commands, whose settings it keeps. "PR/" answers with
// the sensor samples of the current card's barcode, printed as the last
// format's barcode line asks (barcode_card.h).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "calibration.h"
#include "card_source.h"
#include "command_text.h"
#include "fault.h"
#include "peer.h"
#include "reader_config.h"

namespace markwire::sim {

struct ReaderCounters {
  std::size_t commands = 0;     // complete commands received, offline ones included
  std::size_t ignored = 0;      // received off line and not a hand-shake: no reply
  std::size_t discarded = 0;    // texts that grew too long without a "/"
  std::size_t cardsRead = 0;    // cards fed by "R/"
  std::size_t noSheet = 0;      // "R/" or "I 3/" answered with "16": the hopper was empty
  std::size_t cardsPassed = 0;  // cards let through by "I 3/", their data not read
  std::size_t faultsFired = 0;
  std::size_t hangUps = 0;
};

// The last format the library downloaded completely, up to its "EN/".
struct ReaderFormat {
  std::vector<std::string> commands;  // in the order received, each with its "/"
  // The first five numbers of the last "f" command (the barcode line), 0 for
  // the ones it lacks.
  std::optional<std::array<long, 5>> barcode;
};

// The last program download, or the one still going on.
struct ProgramImage {
  std::string bytes;       // the program's bytes in order, at most kProgramKept of them
  std::size_t count = 0;   // bytes received, those beyond kProgramKept included
  bool receiving = false;  // still going on
  bool confirmed = false;  // ended with the reader's "EN"
};

// What the test commands that only set something have set.
struct TestSettings {
  std::optional<NumberPair> point;  // "I 0": line, column
  std::optional<NumberPair> pair;   // "I 5"
};

// Thread-safe: the host that feeds it bytes may run on its own thread while a
// test reads its record or adds faults.
class ReaderMachine final : public Peer {
 public:
  // A text this long without a "/" is dropped up to the next "/", so that a
  // stream of junk cannot grow the reader's memory.
  static constexpr std::size_t kLongestCommand = 200;
  // Only the most recent commands are kept in the record; the counters go on.
  static constexpr std::size_t kRecordedCommands = 10'000;
  // Program bytes past this many are counted but not kept.
  static constexpr std::size_t kProgramKept = 16 << 20;

  // Without a card source every "R/" finds the hopper empty.
  explicit ReaderMachine(ReaderConfig config = {}, std::unique_ptr<CardSource> cards = nullptr);

  void OnReceive(std::span<const std::uint8_t> bytes, std::int64_t nowUs, PeerOutput& out) override;
  void OnWake(std::int64_t nowUs, PeerOutput& out) override;

  void AddFault(Fault fault);
  void ClearFaults();
  void SetCards(std::unique_ptr<CardSource> cards);

  // The commands received, oldest first, each with its "/".
  std::vector<std::string> Commands() const;
  ReaderCounters Counters() const;
  bool Online() const;
  // The card fed by the last good "R/", until "-/".
  std::optional<Card> CurrentCard() const;
  ReaderFormat Format() const;
  ProgramImage Program() const;
  CalibrationValues Calibration() const;
  TestSettings Tests() const;

 private:
  enum class Piece { Echo, Answer, Length, Data, EndMark, Final, Extra };
  struct Segment {
    Piece piece;
    std::int64_t delayUs;  // after the end of the segment before
    std::string bytes;
  };
  struct Reply {
    std::vector<Segment> segments;
    bool hangUp = false;
    bool opensProgram = false;
    void Add(Piece piece, std::int64_t delayUs, std::string bytes) {
      segments.push_back({piece, delayUs, std::move(bytes)});
    }
    Segment* Find(Piece piece);
  };
  struct ArmedFault {
    Fault fault;
    int left;  // -1: without end
  };
  struct FiredFaults {
    std::optional<Fault> shape;          // what the reply looks like
    std::optional<std::int64_t> paceUs;  // from a "slow" fault
  };
  // What a command's reply carries, which decides the faults that fit it.
  struct Traits {
    bool cardData = false;     // a read command's data block
    bool lengthField = false;  // a block with a length field
    bool valueBlock = false;   // a test read-out's block
    bool area = false;         // an area read's block
    bool programStart = false;
  };
  // A test command that the reader carries out ("I" and a first number of 0
  // to 6); numbers holds the ones after the first.
  struct TestRequest {
    long kind = 0;
    std::vector<long> numbers;
    bool accepted = false;  // its numbers are complete and its block fits
  };
  struct ProgramDownload {
    std::string pair;  // the bytes of the two-byte command still being received
    std::int64_t paceUs = 0;
    std::int64_t quietFromUs = 0;  // the download ends when nothing came by then
    std::optional<std::size_t> echoLimit;
  };

  static std::optional<TestRequest> ReadTest(const std::vector<long>& numbers);
  void TakeCommandByte(std::uint8_t byte, std::int64_t nowUs, PeerOutput& out);
  void TakeProgramByte(std::uint8_t byte, std::int64_t nowUs, PeerOutput& out);
  void OpenProgram(const FiredFaults& fired, std::int64_t nowUs, PeerOutput& out);
  void CloseProgram(bool confirm, std::int64_t nowUs, PeerOutput& out);
  void Handle(const std::string& command, std::int64_t nowUs, PeerOutput& out);
  FiredFaults Fire(std::string_view body, const Traits& traits);
  Reply CutShortReply(const std::string& command, const Fault& fault) const;
  Reply NormalReply(const std::string& command, CommandFamily family,
                    const std::optional<TestRequest>& test, const std::optional<Fault>& shape);
  Reply FormatReply(const std::string& command, const std::optional<Fault>& shape);
  void AddTestReply(Reply& reply, const TestRequest& test, const std::optional<Fault>& shape);
  // What "PR/" sends after its length field: empty without a format barcode
  // line, a current card or a barcode on it.
  std::string WaveformBytes() const;
  void Distort(Reply& reply, const Fault& fault) const;
  void Schedule(const Reply& reply, std::int64_t nowUs, std::int64_t byteTimeUs, PeerOutput& out);
  void Record(const std::string& command);

  mutable std::mutex mutex_;
  ReaderConfig config_;
  std::unique_ptr<CardSource> cards_;
  std::vector<ArmedFault> faults_;
  bool online_ = false;
  std::string partial_;  // bytes of the command still being received
  std::int64_t inboundFreeUs_ = 0;  // when the last byte received has fully arrived
  bool discarding_ = false;
  std::optional<Card> current_;
  std::uint64_t currentNumber_ = 0;  // of current_, counted from 1 over every card fed
  std::deque<std::string> record_;
  ReaderCounters counters_;
  // The commands of the format being downloaded, from "S" until "EN/".
  std::optional<std::vector<std::string>> formatting_;
  ReaderFormat format_;
  std::optional<ProgramDownload> downloading_;
  ProgramImage program_;
  CalibrationValues calibration_;
  TestSettings tests_;
};

}  // namespace markwire::sim
