#include "reader_machine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "barcode_card.h"
#include "data_block.h"
#include "test_values.h"

namespace markwire::sim {

namespace {

using Kind = Fault::Kind;

constexpr std::string_view kDone = "EN";
constexpr std::string_view kNoSheet = "16";
// What the reader answers to test commands whose numbers it cannot use.
constexpr std::string_view kParameterError = "06";
constexpr std::string_view kDefaultGarbageLength = "12x4";
// The raw bytes of the test commands: accepted, and done.
constexpr std::string_view kTestAccepted = "\xFC\xFC";
constexpr std::string_view kTestDone = "\xFF\xFF";
constexpr std::string_view kProgramReady = "RD";
// The reader's confirmation of a program download; the library looks at the
// first two bytes only.
constexpr std::string_view kProgramEnd = "EN/";
// A value block's length field has four digits.
constexpr std::int64_t kLongestValueBlock = 9999;
// What an over-area fault sends beyond both sides of the area.
constexpr std::size_t kOverAreaExtra = 10;

enum TestKind : long {
  kPoint = 0,
  kArea = 1,
  kAreaBothSides = 2,
  kPass = 3,
  kValues = 4,
  kPair = 5,
  kCurve = 6
};

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

std::string LengthField(std::size_t count) {
  char field[24];
  std::snprintf(field, sizeof field, "%04zu", count);
  return field;
}

std::size_t CountFrom(const std::string& value) {
  return static_cast<std::size_t>(std::strtoul(value.c_str(), nullptr, 10));
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

ReaderFormat ReaderMachine::Format() const {
  std::lock_guard lock(mutex_);
  return format_;
}

ProgramImage ReaderMachine::Program() const {
  std::lock_guard lock(mutex_);
  return program_;
}

CalibrationValues ReaderMachine::Calibration() const {
  std::lock_guard lock(mutex_);
  return calibration_;
}

TestSettings ReaderMachine::Tests() const {
  std::lock_guard lock(mutex_);
  return tests_;
}

void ReaderMachine::OnReceive(std::span<const std::uint8_t> bytes, std::int64_t nowUs,
                              PeerOutput& out) {
  std::lock_guard lock(mutex_);
  // A host that was restarted has lost the wake for the end of a download;
  // its first bytes after the quiet time end it instead.
  if (downloading_ && nowUs >= downloading_->quietFromUs) CloseProgram(true, nowUs, out);
  const std::size_t hangUpsBefore = counters_.hangUps;
  // A write reaches the host at once, but on a real line its bytes arrive one
  // after the other: with pacing on, each is taken when its last bit would
  // have come, so that replies wait for the whole command as they would.
  std::int64_t arrival = std::max(nowUs, inboundFreeUs_);
  for (const std::uint8_t byte : bytes) {
    arrival += config_.byteTimeUs;
    inboundFreeUs_ = arrival;
    if (downloading_) {
      TakeProgramByte(byte, arrival, out);
    } else {
      TakeCommandByte(byte, arrival, out);
    }
    // The device is gone: whatever else this write carried never arrives.
    if (counters_.hangUps != hangUpsBefore) return;
  }
}

void ReaderMachine::OnWake(std::int64_t nowUs, PeerOutput& out) {
  std::lock_guard lock(mutex_);
  if (downloading_ && nowUs >= downloading_->quietFromUs) CloseProgram(true, nowUs, out);
}

void ReaderMachine::TakeCommandByte(std::uint8_t byte, std::int64_t nowUs, PeerOutput& out) {
  if (discarding_) {
    discarding_ = byte != '/';
    return;
  }
  partial_.push_back(static_cast<char>(byte));
  if (byte == '/') {
    const std::string command = std::exchange(partial_, {});
    Handle(command, nowUs, out);
  } else if (partial_.size() > kLongestCommand) {
    partial_.clear();
    discarding_ = true;
    ++counters_.discarded;
  }
}

void ReaderMachine::TakeProgramByte(std::uint8_t byte, std::int64_t nowUs, PeerOutput& out) {
  // Every program byte comes as a command of two bytes, the byte and "/". The
  // byte may be "/" itself, so the reader counts bytes rather than looking
  // for the "/" that ends other commands.
  ProgramDownload& download = *downloading_;
  download.pair.push_back(static_cast<char>(byte));
  if (download.pair.size() < 2) return;
  const std::string pair = std::exchange(download.pair, {});
  if (pair[1] != '/') {
    // No program byte: the library gave the download up and talks to the
    // reader again (its hand-shake, most likely). These bytes begin a command.
    CloseProgram(false, nowUs, out);
    for (const char c : pair) TakeCommandByte(static_cast<std::uint8_t>(c), nowUs, out);
    return;
  }
  ++program_.count;
  if (program_.bytes.size() < kProgramKept) program_.bytes.push_back(pair[0]);
  if (!download.echoLimit || program_.count <= *download.echoLimit)
    out.Send(std::max(nowUs, out.LineFreeAt()), pair, download.paceUs);
  download.quietFromUs = out.LineFreeAt() + config_.programIdleEndUs;
  out.WakeAt(download.quietFromUs);
}

void ReaderMachine::OpenProgram(const FiredFaults& fired, std::int64_t nowUs, PeerOutput& out) {
  ProgramDownload download;
  download.paceUs = fired.paceUs.value_or(config_.byteTimeUs);
  if (fired.shape && fired.shape->kind == Kind::StopEcho)
    download.echoLimit = CountFrom(fired.shape->value);
  // An empty program is over once the line stays quiet after "RD".
  download.quietFromUs = std::max(nowUs, out.LineFreeAt()) + config_.programIdleEndUs;
  out.WakeAt(download.quietFromUs);
  downloading_ = std::move(download);
  program_ = ProgramImage{};
  program_.receiving = true;
}

void ReaderMachine::CloseProgram(bool confirm, std::int64_t nowUs, PeerOutput& out) {
  // A reader that stopped echoing is broken: it confirms nothing either.
  const bool silenced = downloading_->echoLimit && program_.count > *downloading_->echoLimit;
  if (confirm && !silenced) {
    out.Send(std::max(nowUs, out.LineFreeAt()), kProgramEnd, downloading_->paceUs);
    program_.confirmed = true;
  }
  program_.receiving = false;
  downloading_.reset();
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
  // During a format download every command but the hand-shake belongs to the
  // format, whatever its first letter.
  const bool inFormat = formatting_ && family != CommandFamily::Online;
  std::optional<TestRequest> test;
  Traits traits;
  if (!inFormat) {
    const std::vector<long> numbers = ExtractNumbers(command);
    if (family == CommandFamily::Test) test = ReadTest(numbers);
    if (test && test->accepted) {
      const bool area = test->kind == kArea || test->kind == kAreaBothSides;
      traits.valueBlock = traits.lengthField =
          area || test->kind == kValues || test->kind == kCurve;
      traits.area = area;
    }
    traits.cardData = family == CommandFamily::Data;
    if (traits.cardData) traits.lengthField = !numbers.empty();
    traits.programStart = family == CommandFamily::Program;
    // The samples of "PR/" are a block with a length field, but no card data:
    // garbage and short-block fit it, truncate does not.
    if (family == CommandFamily::Waveform) traits.lengthField = traits.valueBlock = true;
  }
  const FiredFaults fired = Fire(WithoutLeadingSpaces(command), traits);
  Reply reply;
  if (fired.shape && CutsShort(fired.shape->kind)) {
    reply = CutShortReply(command, *fired.shape);
  } else {
    reply = inFormat ? FormatReply(command, fired.shape)
                     : NormalReply(command, family, test, fired.shape);
    if (fired.shape) Distort(reply, *fired.shape);
  }
  Schedule(reply, nowUs, fired.paceUs.value_or(config_.byteTimeUs), out);
  if (reply.opensProgram) OpenProgram(fired, nowUs, out);
  if (reply.hangUp) {
    // A device plugged in again starts off line, with nothing half received
    // and no download going on.
    ++counters_.hangUps;
    online_ = false;
    current_.reset();
    partial_.clear();
    discarding_ = false;
    formatting_.reset();
    if (downloading_) {
      downloading_.reset();
      program_.receiving = false;
    }
  }
}

std::optional<ReaderMachine::TestRequest> ReaderMachine::ReadTest(
    const std::vector<long>& numbers) {
  if (numbers.empty() || numbers[0] < kPoint || numbers[0] > kCurve) return std::nullopt;
  TestRequest test{numbers[0], {numbers.begin() + 1, numbers.end()}, true};
  const std::size_t given = test.numbers.size();
  switch (test.kind) {
    case kPoint:
    case kPair:
      test.accepted = given >= 2;
      break;
    case kArea:
    case kAreaBothSides: {
      if (given < 4) {
        test.accepted = false;
        break;
      }
      // Both sides' values must fit the four digits of the length field.
      const Area area{test.numbers[0], test.numbers[1], test.numbers[2], test.numbers[3]};
      test.accepted = area.Count() * test.kind <= kLongestValueBlock;
      break;
    }
    case kCurve:
      test.accepted = given >= 1;
      break;
    default:
      break;
  }
  return test;
}

ReaderMachine::FiredFaults ReaderMachine::Fire(std::string_view body, const Traits& traits) {
  const auto applies = [&traits](Kind kind) {
    switch (kind) {
      case Kind::TruncateBlock:
        return traits.cardData;
      case Kind::GarbageLength:
        return traits.lengthField;
      case Kind::ShortBlock:
        return traits.valueBlock;
      case Kind::OverArea:
        return traits.area;
      case Kind::StopEcho:
        return traits.programStart;
      default:
        return true;
    }
  };
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
      if (fired.shape || !applies(armed.fault.kind)) continue;
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

ReaderMachine::Reply ReaderMachine::FormatReply(const std::string& command,
                                                const std::optional<Fault>& shape) {
  // The library reads the echo and two bytes, and then sends the next command
  // at once, without a purge: anything more would be taken as the answer to
  // the next command. "EN/" closes the download with the same two bytes.
  Reply reply;
  reply.Add(Piece::Echo, 0, command);
  reply.Add(Piece::Answer, config_.answerDelayUs, std::string(kDone));
  if (shape && shape->kind == Kind::HangUp) return reply;
  if (WithoutLeadingSpaces(command) != "EN/") {
    formatting_->push_back(command);
    return reply;
  }
  format_ = ReaderFormat{std::move(*formatting_), std::nullopt};
  formatting_.reset();
  for (const auto& line : format_.commands) {
    if (!WithoutLeadingSpaces(line).starts_with('f')) continue;
    const std::vector<long> numbers = ExtractNumbers(line);
    std::array<long, 5> barcode{};
    std::copy_n(numbers.begin(), std::min(numbers.size(), barcode.size()), barcode.begin());
    format_.barcode = barcode;
  }
  return reply;
}

ReaderMachine::Reply ReaderMachine::NormalReply(const std::string& command, CommandFamily family,
                                                const std::optional<TestRequest>& test,
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
      if (takesEffect) {
        online_ = true;
        formatting_.reset();  // a format cut off by the hand-shake is not kept
      }
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
          currentNumber_ = ++counters_.cardsRead;
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
    case CommandFamily::Format:
      // Only the echo and "EN": the library awaits no final status here.
      reply.Add(Piece::Answer, config_.answerDelayUs, done);
      if (takesEffect) formatting_.emplace();
      break;
    case CommandFamily::Program:
      reply.Add(Piece::Answer, config_.answerDelayUs, std::string(kProgramReady));
      reply.opensProgram = takesEffect;
      break;
    case CommandFamily::Waveform: {
      // Two bytes that the library reads and ignores, the count and the
      // samples; no final status, which the library does not wait for.
      reply.Add(Piece::Answer, config_.answerDelayUs, done);
      std::string samples = WaveformBytes();
      reply.Add(Piece::Length, 0, LengthField(samples.size()));
      reply.Add(Piece::Data, 0, std::move(samples));
      break;
    }
    case CommandFamily::Test:
      if (test) {
        AddTestReply(reply, *test, shape);
        break;
      }
      [[fallthrough]];  // an "I" command the reader does not know as a test
    case CommandFamily::Other:
      reply.Add(Piece::Answer, config_.answerDelayUs, done);
      if (config_.sendFinalStatus) reply.Add(Piece::Final, config_.finalStatusDelayUs, done);
      if (takesEffect && family == CommandFamily::Other) TakeCalibration(command, calibration_);
      break;
  }
  return reply;
}

std::string ReaderMachine::WaveformBytes() const {
  if (!format_.barcode || !current_) return {};
  OpticsOptions optics = config_.barcodeOptics;
  optics.seed += currentNumber_;
  const std::vector<std::uint8_t> samples =
      SampleCardBarcode(*format_.barcode, current_->barcode, optics, config_.barcodeWideRatio);
  // The sensor's buffer is sent last sample first. The library keeps the
  // order of arrival only for a barcode line whose second number is the
  // greater, and it rewrites every line it downloads to make the second the
  // smaller, so with a format it sent this is the order that it turns back
  // into reading order. Its decoders try the other direction as well.
  return {samples.rbegin(), samples.rend()};
}

void ReaderMachine::AddTestReply(Reply& reply, const TestRequest& test,
                                 const std::optional<Fault>& shape) {
  if (!test.accepted) {
    reply.Add(Piece::Answer, config_.answerDelayUs, std::string(kParameterError));
    return;
  }
  const bool takesEffect = !shape || shape->kind != Kind::HangUp;
  // Everything after the acknowledgement is raw bytes, not text: "done" is
  // 0xFF 0xFF, and the length fields announce one byte per value.
  reply.Add(Piece::Answer, config_.answerDelayUs, std::string(kTestAccepted));
  const auto& n = test.numbers;
  const auto addBlock = [&reply](std::string values) {
    reply.Add(Piece::Length, 0, LengthField(values.size()));
    reply.Add(Piece::Data, 0, std::move(values));
    reply.Add(Piece::EndMark, 0, std::string(kDone));
  };
  switch (test.kind) {
    case kPoint:
    case kPair:
      reply.Add(Piece::Final, config_.finalStatusDelayUs, std::string(kTestDone));
      if (takesEffect) (test.kind == kPoint ? tests_.point : tests_.pair) = NumberPair{n[0], n[1]};
      break;
    case kPass: {
      if (shape && shape->kind == Kind::FinalStatus) {
        // As for "R/": the fault's status stands for a pass that went wrong.
        reply.Add(Piece::Final, config_.cardDelayUs, shape->value);
        break;
      }
      if (!takesEffect) break;
      // The card goes through and out; it does not become the current card.
      const bool passed = cards_ && cards_->Next();
      ++(passed ? counters_.cardsPassed : counters_.noSheet);
      reply.Add(Piece::Final, config_.cardDelayUs, std::string(passed ? kTestDone : kNoSheet));
      break;
    }
    case kArea:
    case kAreaBothSides: {
      reply.Add(Piece::Final, config_.finalStatusDelayUs, std::string(kTestDone));
      const Area area{n[0], n[1], n[2], n[3]};
      const std::string_view card = current_ ? std::string_view(current_->data) : "";
      std::string values = AreaLevels(area, CardSide::A, card);
      const bool over = shape && shape->kind == Kind::OverArea;
      if (test.kind == kAreaBothSides || over) values += AreaLevels(area, CardSide::B, card);
      if (over) values.append(kOverAreaExtra, static_cast<char>(220));
      addBlock(std::move(values));
      break;
    }
    case kValues:
      addBlock(ChannelLevels());
      break;
    default:  // kCurve
      addBlock(ResponseCurve(n[0]));
      break;
  }
}

void ReaderMachine::Distort(Reply& reply, const Fault& fault) const {
  auto& segments = reply.segments;
  auto dropAfter = [&segments](Piece piece) {
    auto it = std::find_if(segments.begin(), segments.end(),
                           [piece](const Segment& s) { return s.piece == piece; });
    if (it != segments.end()) segments.erase(it + 1, segments.end());
  };
  switch (fault.kind) {
    case Kind::FinalStatus:
      if (Segment* final = reply.Find(Piece::Final)) {
        // A status in place of "done" ends the exchange: an area read sends
        // no block after it.
        final->bytes = fault.value;
        dropAfter(Piece::Final);
      } else {
        // Commands that have no final status get one anyway: the fault is
        // there to show what a stray status does to the library.
        reply.Add(Piece::Final, config_.finalStatusDelayUs, fault.value);
      }
      break;
    case Kind::TruncateBlock:
      if (Segment* data = reply.Find(Piece::Data)) {
        const std::size_t keep = fault.value.empty()
                                     ? data->bytes.size() / 2
                                     : std::min(CountFrom(fault.value), data->bytes.size());
        data->bytes.resize(keep);
        dropAfter(Piece::Data);
      }
      break;
    case Kind::ShortBlock:
      if (Segment* data = reply.Find(Piece::Data))
        data->bytes.resize(std::min(CountFrom(fault.value), data->bytes.size()));
      break;
    case Kind::GarbageLength:
      if (Segment* length = reply.Find(Piece::Length))
        length->bytes = fault.value.empty() ? std::string(kDefaultGarbageLength) : fault.value;
      break;
    case Kind::ExtraBytes:
      reply.Add(Piece::Extra, 0, fault.value);
      break;
    case Kind::HangUp:
      if (Segment* data = reply.Find(Piece::Data)) {
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
