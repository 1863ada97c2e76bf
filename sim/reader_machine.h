// The simulated optical mark reader: the reader's side of the serial
// protocol as a state machine. It takes the bytes the library writes, cuts
// them into commands at each "/", and schedules its echo, answers, data
// blocks and final statuses on the line, with the faults it was told to play.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "card_source.h"
#include "command_text.h"
#include "fault.h"
#include "peer.h"
#include "reader_config.h"

namespace markwire::sim {

struct ReaderCounters {
  std::size_t commands = 0;   // complete commands received, offline ones included
  std::size_t ignored = 0;    // received off line and not a hand-shake: no reply
  std::size_t discarded = 0;  // texts that grew too long without a "/"
  std::size_t cardsRead = 0;  // cards fed by "R/"
  std::size_t noSheet = 0;    // "R/" answered with "16": the hopper was empty
  std::size_t faultsFired = 0;
  std::size_t hangUps = 0;
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

  // Without a card source every "R/" finds the hopper empty.
  explicit ReaderMachine(ReaderConfig config = {}, std::unique_ptr<CardSource> cards = nullptr);

  void OnReceive(std::span<const std::uint8_t> bytes, std::int64_t nowUs, PeerOutput& out) override;

  void AddFault(Fault fault);
  void ClearFaults();
  void SetCards(std::unique_ptr<CardSource> cards);

  // The commands received, oldest first, each with its "/".
  std::vector<std::string> Commands() const;
  ReaderCounters Counters() const;
  bool Online() const;
  // The card fed by the last good "R/", until "-/".
  std::optional<Card> CurrentCard() const;

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

  void Handle(const std::string& command, std::int64_t nowUs, PeerOutput& out);
  FiredFaults Fire(std::string_view body, CommandFamily family, bool hasLengthField);
  Reply CutShortReply(const std::string& command, const Fault& fault) const;
  Reply NormalReply(const std::string& command, CommandFamily family,
                    const std::optional<Fault>& shape);
  void Distort(Reply& reply, CommandFamily family, const Fault& fault) const;
  void Schedule(const Reply& reply, std::int64_t nowUs, std::int64_t byteTimeUs, PeerOutput& out);
  void Record(const std::string& command);

  mutable std::mutex mutex_;
  ReaderConfig config_;
  std::unique_ptr<CardSource> cards_;
  std::vector<ArmedFault> faults_;
  bool online_ = false;
  std::string partial_;  // bytes of the command still being received
  bool discarding_ = false;
  std::optional<Card> current_;
  std::deque<std::string> record_;
  ReaderCounters counters_;
};

}  // namespace markwire::sim
