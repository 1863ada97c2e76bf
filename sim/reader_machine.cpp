#include "reader_machine.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "data_block.h"

namespace markwire::sim {

namespace {

using Kind = Fault::Kind;

constexpr std::string_view kDone = "EN";
constexpr std::string_view kNoSheet = "16";
// What the reader answers to the command families it does not carry out yet.
constexpr std::string_view kParameterError = "06";
constexpr std::string_view kDefaultGarbageLength = "12x4";

// Faults after which the reply no longer carries the normal answer, so the
// command has no effect on the reader's state.
bool CutsShort(Kind kind) {
  switch (kind) {
    case Kind::WrongEcho:
    case Kind::Status:
    case Kind::Silence:
    case Kind::NoAnswer:
    case Kind::PartialEcho:
      return true;
    default:
      return false;
  }
}

bool Applies(Kind kind, CommandFamily family, bool hasLengthField) {
  switch (kind) {
    case Kind::TruncateBlock:
      return family == CommandFamily::Data;
    case Kind::GarbageLength:
      return family == CommandFamily::Data && hasLengthField;
    default:
      return true;
  }
}

std::optional<std::int64_t> PaceFrom(const std::string& value) {
  char* end = nullptr;
  const double ms = std::strtod(value.c_str(), &end);
  if (end == value.c_str() || !(ms > 0)) return std::nullopt;
  return static_cast<std::int64_t>(std::llround(ms * 1000));
}

}  // namespace

ReaderMachine::Segment* ReaderMachine::Reply::Find(Piece piece) {
  for (auto& segment : segments)
    if (segment.piece == piece) return &segment;
  return nullptr;
}

ReaderMachine::ReaderMachine(ReaderConfig config, std::unique_ptr<CardSource> cards)
    : config_(std::move(config)), cards_(std::move(cards)) {
  for (auto& fault : config_.faults) faults_.push_back({fault, fault.times});
}

void ReaderMachine::AddFault(Fault fault) {
  std::lock_guard lock(mutex_);
  const int times = fault.times;
  faults_.push_back({std::move(fault), times});
}

void ReaderMachine::ClearFaults() {
  std::lock_guard lock(mutex_);
  faults_.clear();
}

void ReaderMachine::SetCards(std::unique_ptr<CardSource> cards) {
  std::lock_guard lock(mutex_);
  cards_ = std::move(cards);
}

std::vector<std::string> ReaderMachine::Commands() const {
  std::lock_guard lock(mutex_);
  return {record_.begin(), record_.end()};
}

ReaderCounters ReaderMachine::Counters() const {
  std::lock_guard lock(mutex_);
  return counters_;
}

bool ReaderMachine::Online() const {
  std::lock_guard lock(mutex_);
  return online_;
}

std::optional<Card> ReaderMachine::CurrentCard() const {
  std::lock_guard lock(mutex_);
  return current_;
}

void ReaderMachine::OnReceive(std::span<const std::uint8_t> bytes, std::int64_t nowUs,
                              PeerOutput& out) {
  std::lock_guard lock(mutex_);
  const std::size_t hangUpsBefore = counters_.hangUps;
  for (const std::uint8_t byte : bytes) {
    if (discarding_) {
      discarding_ = byte != '/';
      continue;
    }
    partial_.push_back(static_cast<char>(byte));
    if (byte == '/') {
      const std::string command = std::exchange(partial_, {});
      Handle(command, nowUs, out);
      // The device is gone: whatever else this write carried never arrives.
      if (counters_.hangUps != hangUpsBefore) return;
    } else if (partial_.size() > kLongestCommand) {
      partial_.clear();
      discarding_ = true;
      ++counters_.discarded;
    }
  }
}

void ReaderMachine::Record(const std::string& command) {
  ++counters_.commands;
  record_.push_back(command);
  if (record_.size() > kRecordedCommands) record_.pop_front();
}

void ReaderMachine::Handle(const std::string& command, std::int64_t nowUs, PeerOutput& out) {
  Record(command);
  const CommandFamily family = ClassifyCommand(command);
  // Off line the reader only listens for the hand-shake. It does not even
  // echo: the library writes "Q/" and purges at once, so an echo of it would
  // arrive after the purge and spoil the hand-shake's echo.
  if (!online_ && family != CommandFamily::Online) {
    ++counters_.ignored;
    return;
  }
  const bool hasLengthField = family == CommandFamily::Data && !ExtractNumbers(command).empty();
  const FiredFaults fired = Fire(WithoutLeadingSpaces(command), family, hasLengthField);
  Reply reply;
  if (fired.shape && CutsShort(fired.shape->kind)) {
    reply = CutShortReply(command, *fired.shape);
  } else {
    reply = NormalReply(command, family, fired.shape);
    if (fired.shape) Distort(reply, family, *fired.shape);
  }
  Schedule(reply, nowUs, fired.paceUs.value_or(config_.byteTimeUs), out);
  if (reply.hangUp) {
    // A device plugged in again starts off line, with nothing half received.
    ++counters_.hangUps;
    online_ = false;
    current_.reset();
    partial_.clear();
    discarding_ = false;
  }
}

ReaderMachine::FiredFaults ReaderMachine::Fire(std::string_view body, CommandFamily family,
                                               bool hasLengthField) {
  // The first armed fault of each sort wins: one that shapes the reply, and
  // one that sets its pace, so "slow" combines with any other fault.
  FiredFaults fired;
  for (auto& armed : faults_) {
    if (armed.left == 0 || !body.starts_with(armed.fault.command)) continue;
    if (armed.fault.kind == Kind::SlowBytes) {
      if (fired.paceUs) continue;
      fired.paceUs = PaceFrom(armed.fault.value);
      if (!fired.paceUs) continue;
    } else {
      if (fired.shape || !Applies(armed.fault.kind, family, hasLengthField)) continue;
      fired.shape = armed.fault;
    }
    if (armed.left > 0) --armed.left;
    ++counters_.faultsFired;
  }
  return fired;
}

ReaderMachine::Reply ReaderMachine::CutShortReply(const std::string& command,
                                                  const Fault& fault) const {
  Reply reply;
  switch (fault.kind) {
    case Kind::WrongEcho: {
      std::string echo = command;
      echo.front() = echo.front() == '#' ? '%' : '#';
      reply.Add(Piece::Echo, 0, std::move(echo));
      break;
    }
    case Kind::Status:
      reply.Add(Piece::Echo, 0, command);
      reply.Add(Piece::Answer, config_.answerDelayUs, fault.value);
      break;
    case Kind::NoAnswer:
      reply.Add(Piece::Echo, 0, command);
      break;
    case Kind::PartialEcho:
      reply.Add(Piece::Echo, 0, command.substr(0, command.size() / 2));
      break;
    default:  // Silence
      break;
  }
  return reply;
}

ReaderMachine::Reply ReaderMachine::NormalReply(const std::string& command, CommandFamily family,
                                                const std::optional<Fault>& shape) {
  // A reader that hangs up part-way never finishes what the command asked.
  const bool takesEffect = !shape || shape->kind != Kind::HangUp;
  const std::string done(kDone);
  Reply reply;
  reply.Add(Piece::Echo, 0, command);
  switch (family) {
    case CommandFamily::Online:
      reply.Add(Piece::Answer, config_.answerDelayUs, done);
      // The library's hand-shake reads no final status, but the same command
      // sent as an ordinary command while on line is waited on like any other.
      if (online_ && config_.sendFinalStatus)
        reply.Add(Piece::Final, config_.finalStatusDelayUs, done);
      if (takesEffect) online_ = true;
      break;
    case CommandFamily::Feed: {
      reply.Add(Piece::Answer, config_.answerDelayUs, done);
      if (shape && shape->kind == Kind::FinalStatus) {
        // The fault's status stands for a feed that went wrong: no card moves.
        reply.Add(Piece::Final, config_.cardDelayUs, shape->value);
      } else if (takesEffect) {
        std::optional<Card> card = cards_ ? cards_->Next() : std::nullopt;
        if (card) {
          current_ = std::move(card);
          ++counters_.cardsRead;
        } else {
          ++counters_.noSheet;
        }
        reply.Add(Piece::Final, config_.cardDelayUs, std::string(card ? kDone : kNoSheet));
      }
      break;
    }
    case CommandFamily::Data: {
      reply.Add(Piece::Answer, config_.answerDelayUs, done);
      DataBlock block = BuildDataBlock(command, current_ ? current_->data : std::string_view{});
      if (!block.lengthField.empty()) reply.Add(Piece::Length, 0, std::move(block.lengthField));
      reply.Add(Piece::Data, 0, std::move(block.data));
      reply.Add(Piece::EndMark, 0, done);
      break;
    }
    case CommandFamily::Quit:
      reply.Add(Piece::Answer, config_.answerDelayUs, done);
      if (takesEffect) online_ = false;
      break;
    case CommandFamily::EndCard:
      reply.Add(Piece::Answer, config_.answerDelayUs, done);
      if (takesEffect) current_.reset();
      break;
    // The families whose exchanges are still to be simulated. Each gets its
    // own handler here when it is built.
    case CommandFamily::Format:
    case CommandFamily::Program:
    case CommandFamily::Test:
    case CommandFamily::Waveform:
      reply.Add(Piece::Answer, config_.answerDelayUs, std::string(kParameterError));
      break;
    case CommandFamily::Other:
      reply.Add(Piece::Answer, config_.answerDelayUs, done);
      if (config_.sendFinalStatus) reply.Add(Piece::Final, config_.finalStatusDelayUs, done);
      break;
  }
  return reply;
}

void ReaderMachine::Distort(Reply& reply, CommandFamily family, const Fault& fault) const {
  auto& segments = reply.segments;
  auto dropAfter = [&segments](Piece piece) {
    auto it = std::find_if(segments.begin(), segments.end(),
                           [piece](const Segment& s) { return s.piece == piece; });
    if (it != segments.end()) segments.erase(it + 1, segments.end());
  };
  switch (fault.kind) {
    case Kind::FinalStatus:
      if (Segment* final = reply.Find(Piece::Final)) {
        final->bytes = fault.value;
      } else {
        // Commands that have no final status get one anyway: the fault is
        // there to show what a stray status does to the library.
        reply.Add(Piece::Final, config_.finalStatusDelayUs, fault.value);
      }
      break;
    case Kind::TruncateBlock:
      if (Segment* data = reply.Find(Piece::Data)) {
        const std::size_t keep =
            fault.value.empty()
                ? data->bytes.size() / 2
                : std::min<std::size_t>(std::strtoul(fault.value.c_str(), nullptr, 10),
                                        data->bytes.size());
        data->bytes.resize(keep);
        dropAfter(Piece::Data);
      }
      break;
    case Kind::GarbageLength:
      if (Segment* length = reply.Find(Piece::Length))
        length->bytes = fault.value.empty() ? std::string(kDefaultGarbageLength) : fault.value;
      break;
    case Kind::ExtraBytes:
      reply.Add(Piece::Extra, 0, fault.value);
      break;
    case Kind::HangUp:
      if (Segment* data = family == CommandFamily::Data ? reply.Find(Piece::Data) : nullptr) {
        data->bytes.resize(data->bytes.size() / 2);
        dropAfter(Piece::Data);
      } else {
        dropAfter(Piece::Echo);
      }
      reply.hangUp = true;
      break;
    default:
      break;
  }
}

void ReaderMachine::Schedule(const Reply& reply, std::int64_t nowUs, std::int64_t byteTimeUs,
                             PeerOutput& out) {
  // The line is serial: a reply starts when the one before it has left.
  std::int64_t cursor = std::max(nowUs, out.LineFreeAt());
  for (const auto& segment : reply.segments) {
    const std::int64_t at = cursor + segment.delayUs;
    if (!segment.bytes.empty()) out.Send(at, segment.bytes, byteTimeUs);
    cursor = at + static_cast<std::int64_t>(segment.bytes.size()) * byteTimeUs;
  }
  // Just after the last byte has left, so that it still reaches the library.
  if (reply.hangUp) out.HangUp(cursor + 1);
}

}  // namespace markwire::sim
