#include "commands/diagnostics.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "platform/timings.h"
#include "session/omr_info.h"

namespace markwire {
namespace {

constexpr std::string_view kAccepted = "\xFC\xFC";
constexpr std::string_view kDoneMark = "\xFF\xFF";
// The largest N a block's four-digit prefix can announce.
constexpr std::size_t kMaxValues = 9999;

// Reads up to `count` values into the start of `into` (bytes, one value
// each): how many came.
unsigned ReadValues(OmrInfo& s, std::vector<int>& into, std::size_t count, unsigned timeoutMs) {
  std::vector<std::uint8_t> bytes(std::min(count, into.size()));
  const unsigned got = s.Port()->Read(bytes, timeoutMs);
  for (unsigned i = 0; i < got; ++i) into[i] = bytes[i];
  return got;
}

// The reader's four-digit count of the values that follow, or nothing when
// the field is not four digits: such a reply cannot be framed, so what is
// left of it is read off the line and "10" is left pending.
std::optional<std::size_t> ReadCount(OmrInfo& s) {
  std::array<std::uint8_t, 4> field{};
  const unsigned got = s.Port()->Read(field, kTimings.replyMs);
  bool ok = got == field.size();
  std::size_t n = 0;
  for (std::uint8_t b : field) {
    ok = ok && b >= '0' && b <= '9';
    n = n * 10 + static_cast<std::size_t>(b - '0');
  }
  if (!ok) {
    s.SettleLine();
    s.Error().Set("10");
    return std::nullopt;
  }
  return n;
}

// Reads and throws away `count` bytes (bounded by the time-out).
void Discard(OmrInfo& s, std::size_t count, unsigned timeoutMs) {
  std::uint8_t scratch[256];
  while (count > 0) {
    const unsigned n =
        s.Port()->Read(std::span(scratch).first(std::min(count, sizeof scratch)), timeoutMs);
    if (n == 0) return;
    count -= n;
  }
}

// "I 4" and "I 6": a count, the values (missing ones 0), two trailing bytes.
int ReadValueBlock(OmrInfo& s, const char* command, unsigned valuesTimeoutMs) {
  if (s.PortLost()) return OmrInfo::kNotOpen;
  if (SendTestCommand(s, command) == OmrInfo::kFailed) return OmrInfo::kFailed;
  const auto n = ReadCount(s);
  if (!n) {
    s.NewValueBlock(OmrInfo::ValueSide::kA, 0);
    return 0;
  }
  ReadValues(s, s.NewValueBlock(OmrInfo::ValueSide::kA, *n), *n, valuesTimeoutMs);
  s.ReadAnswer(kTimings.replyMs);  // not looked at
  return static_cast<int>(*n);
}

}  // namespace

int SendTestCommand(OmrInfo& s, std::string_view command) {
  if (s.PortLost()) return OmrInfo::kNotOpen;
  s.Error().Reset();
  s.Write(command);
  if (!s.ReadEcho(command, kTimings.replyMs)) {
    s.Error().Set("10");
    return OmrInfo::kFailed;
  }
  const std::string ack = s.ReadAnswer(kTimings.replyMs);
  if (IsStatusCode(ack)) {
    s.Error().Set(ack);
    return OmrInfo::kFailed;
  }
  return ack == kAccepted ? OmrInfo::kDone : OmrInfo::kAccepted;
}

int SetTestPoint(OmrInfo& s, int line, int column) {
  if (s.PortLost()) return OmrInfo::kNotOpen;
  char command[40];
  std::snprintf(command, sizeof command, "I 0 %03d %02d/", line, column);
  const int r = SendTestCommand(s, command);
  if (r == OmrInfo::kFailed) return r;
  const std::string status = s.ReadAnswer(kTimings.slowReplyMs);
  if (IsStatusCode(status)) {
    s.Error().Set(status);
    return OmrInfo::kFailed;
  }
  return status == kDoneMark ? OmrInfo::kDone : r;
}

int ReadTestArea(OmrInfo& s, const std::array<int, 5>& a) {
  if (s.PortLost()) return OmrInfo::kNotOpen;
  const long long points =
      std::llabs((static_cast<long long>(a[3]) - a[1] + 1) * (static_cast<long long>(a[4]) - a[2] + 1));
  // A block announces its values in four digits: a larger area cannot be
  // read into one, so it is not asked for.
  if (points > static_cast<long long>(kMaxValues)) return s.Refuse();
  const auto count = static_cast<std::size_t>(points);

  char command[64];
  std::snprintf(command, sizeof command, "I %d %03d %02d %03d %02d/", a[0], a[1], a[2], a[3], a[4]);
  if (SendTestCommand(s, command) == OmrInfo::kFailed) {
    s.ClearValueBlocks();
    return OmrInfo::kFailed;
  }
  const std::string status = s.ReadAnswer(kTimings.slowReplyMs);
  if (IsStatusCode(status)) {
    s.Error().Set(status);
    return OmrInfo::kFailed;
  }
  const auto announced = ReadCount(s);
  const std::size_t n = announced.value_or(0);

  unsigned got = ReadValues(s, s.NewValueBlock(OmrInfo::ValueSide::kA, count), std::min(n, count),
                            kTimings.testValuesMs);
  if (n > count) {
    // The second side. The block has room for one side's values; whatever
    // the reader sends beyond two sides is read and dropped.
    const std::size_t side = std::min(n - count, count);
    got =
        ReadValues(s, s.NewValueBlock(OmrInfo::ValueSide::kB, count), side, kTimings.testValuesMs);
    if (n - count > side) Discard(s, n - count - side, kTimings.testValuesMs);
  }
  if (announced) s.ReadAnswer(kTimings.replyMs);  // not looked at
  return static_cast<int>(got);
}

int ReadTestValues(OmrInfo& s) { return ReadValueBlock(s, "I 4/", kTimings.replyMs); }

int ReadTestCurve(OmrInfo& s, int number) {
  char command[32];
  std::snprintf(command, sizeof command, "I 6 %d/", number);
  return ReadValueBlock(s, command, kTimings.testValuesMs);
}

int SendTestPair(OmrInfo& s, int first, int second) {
  if (s.PortLost()) return OmrInfo::kNotOpen;
  char command[40];
  std::snprintf(command, sizeof command, "I 5 %02d %02d/", first, second);
  SendTestCommand(s, command);
  const std::string status = s.ReadAnswer(kTimings.replyMs);
  if (IsStatusCode(status)) {
    s.Error().Set(status);
    return OmrInfo::kFailed;
  }
  return status == kDoneMark ? OmrInfo::kDone : OmrInfo::kFailed;
}

int PassCard(OmrInfo& s, std::string_view command) {
  SendTestCommand(s, command);
  const std::string status = s.ReadAnswer(kTimings.finalStatusMs);
  if (IsStatusCode(status)) {
    s.Error().Set(status);
    return OmrInfo::kFailed;
  }
  return OmrInfo::kDone;
}

int CopyValueHalves(OmrInfo& s, int selector, int* values) {
  const auto& block = s.ValueBlock(OmrInfo::ValueSide::kA);
  if (!block) return 0;
  const std::vector<int>& v = *block;
  const int n = static_cast<int>(v.size());
  if (n < 1 || values == nullptr) return n;
  int from = 0, to = 0;
  switch (selector & 0xFF) {
    case 'A':
      to = n >= 96 ? n / 2 : n;
      break;
    case 'B':
      from = n / 2;
      to = n;
      break;
    default:
      return n;
  }
  std::copy(v.begin() + from, v.begin() + to, values);
  return n;
}

int CopyBlock(OmrInfo& s, int selector, int* values) {
  const char side = static_cast<char>(selector & 0xFF);
  if (side != 'A' && side != 'B') return 0;
  const auto& block = s.ValueBlock(side == 'A' ? OmrInfo::ValueSide::kA : OmrInfo::ValueSide::kB);
  if (!block) return 0;
  const int n = static_cast<int>(block->size());
  if (n < 1 || values == nullptr) return n;
  std::copy(block->begin(), block->end(), values);
  return n;
}

}  // namespace markwire
