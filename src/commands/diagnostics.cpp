#include "commands/diagnostics.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "platform/timings.h"
#include "session/omr_info.h"

namespace markwire {
namespace {

constexpr std::string_view kAccepted = "\xFC\xFC";
constexpr std::string_view kDoneMark = "\xFF\xFF";
// The largest N a block's four-digit prefix can announce.
constexpr std::size_t kMaxValues = 9999;

bool PortLost(OmrInfo& s) {
  if (s.port && s.port->IsValid()) return false;
  s.isOpen = false;
  return true;
}

// A block of `count` values, all 0, announcing `count`.
std::unique_ptr<std::uint8_t[]> ZeroBlock(std::size_t count) {
  auto block = std::make_unique<std::uint8_t[]>(count + 5);  // zero-filled
  char prefix[8];
  std::snprintf(prefix, sizeof prefix, "%04zu", count);
  std::memcpy(block.get(), prefix, 4);
  return block;
}

int PrefixOf(const std::uint8_t* block) {
  const char text[5] = {static_cast<char>(block[0]), static_cast<char>(block[1]),
                        static_cast<char>(block[2]), static_cast<char>(block[3]), 0};
  return std::atoi(text);
}

std::span<std::uint8_t> ValuesOf(std::uint8_t* block, std::size_t count) {
  return {block + 4, count};
}

// The reader's four-digit count of the values that follow, or nothing when
// the field is not four digits: such a reply cannot be framed, so what is
// left of it is read off the line and "10" is left pending.
std::optional<std::size_t> ReadCount(OmrInfo& s, std::array<char, 4>* digits = nullptr) {
  std::array<std::uint8_t, 4> field{};
  const unsigned got = s.port->Read(field, kTimings.replyMs);
  bool ok = got == field.size();
  std::size_t n = 0;
  for (std::uint8_t b : field) {
    ok = ok && b >= '0' && b <= '9';
    n = n * 10 + static_cast<std::size_t>(b - '0');
  }
  if (!ok) {
    s.SettleLine();
    s.error.Set("10");
    return std::nullopt;
  }
  if (digits) std::copy(field.begin(), field.end(), digits->begin());
  return n;
}

// Reads and throws away `count` bytes (bounded by the time-out).
void Discard(OmrInfo& s, std::size_t count, unsigned timeoutMs) {
  std::uint8_t scratch[256];
  while (count > 0) {
    const unsigned n = s.port->Read(std::span(scratch).first(std::min(count, sizeof scratch)),
                                    timeoutMs);
    if (n == 0) return;
    count -= n;
  }
}

// "I 4" and "I 6": a count, the values (missing ones 0), two trailing bytes.
int ReadValueBlock(OmrInfo& s, const char* command, unsigned valuesTimeoutMs) {
  if (PortLost(s)) return OmrInfo::kNotOpen;
  if (SendTestCommand(s, command) == OmrInfo::kFailed) return OmrInfo::kFailed;
  std::array<char, 4> digits{};
  const auto n = ReadCount(s, &digits);
  if (!n) {
    s.auxBuffer1 = ZeroBlock(0);
    return 0;
  }
  s.auxBuffer1 = ZeroBlock(*n);
  std::memcpy(s.auxBuffer1.get(), digits.data(), 4);
  s.port->Read(ValuesOf(s.auxBuffer1.get(), *n), valuesTimeoutMs);
  s.ReadAnswer(kTimings.replyMs);  // not looked at
  return static_cast<int>(*n);
}

}  // namespace

int SendTestCommand(OmrInfo& s, std::string_view command) {
  if (PortLost(s)) return OmrInfo::kNotOpen;
  s.error.Reset();
  s.Write(command);
  if (!s.ReadEcho(command, kTimings.replyMs)) {
    s.error.Set("10");
    return OmrInfo::kFailed;
  }
  const std::string ack = s.ReadAnswer(kTimings.replyMs);
  if (IsStatusCode(ack)) {
    s.error.Set(ack);
    return OmrInfo::kFailed;
  }
  return ack == kAccepted ? OmrInfo::kDone : OmrInfo::kAccepted;
}

int SetTestPoint(OmrInfo& s, int line, int column) {
  if (PortLost(s)) return OmrInfo::kNotOpen;
  char command[40];
  std::snprintf(command, sizeof command, "I 0 %03d %02d/", line, column);
  const int r = SendTestCommand(s, command);
  if (r == OmrInfo::kFailed) return r;
  const std::string status = s.ReadAnswer(kTimings.slowReplyMs);
  if (IsStatusCode(status)) {
    s.error.Set(status);
    return OmrInfo::kFailed;
  }
  return status == kDoneMark ? OmrInfo::kDone : r;
}

int ReadTestArea(OmrInfo& s, const std::array<int, 5>& a) {
  if (PortLost(s)) return OmrInfo::kNotOpen;
  const long long points =
      std::llabs((static_cast<long long>(a[3]) - a[1] + 1) * (static_cast<long long>(a[4]) - a[2] + 1));
  // A block announces its values in four digits: a larger area cannot be
  // read into one, so it is not asked for.
  if (points > static_cast<long long>(kMaxValues)) return s.Refuse();
  const auto count = static_cast<std::size_t>(points);

  char command[64];
  std::snprintf(command, sizeof command, "I %d %03d %02d %03d %02d/", a[0], a[1], a[2], a[3], a[4]);
  if (SendTestCommand(s, command) == OmrInfo::kFailed) {
    s.auxBuffer1.reset();
    s.auxBuffer2.reset();
    return OmrInfo::kFailed;
  }
  const std::string status = s.ReadAnswer(kTimings.slowReplyMs);
  if (IsStatusCode(status)) {
    s.error.Set(status);
    return OmrInfo::kFailed;
  }
  const auto announced = ReadCount(s);
  const std::size_t n = announced.value_or(0);

  s.auxBuffer1 = ZeroBlock(count);
  unsigned got = s.port->Read(ValuesOf(s.auxBuffer1.get(), std::min(n, count)),
                              kTimings.testValuesMs);
  if (n > count) {
    // The second side. The block has room for one side's values; whatever
    // the reader sends beyond two sides is read and dropped.
    s.auxBuffer2 = ZeroBlock(count);
    const std::size_t side = std::min(n - count, count);
    got = s.port->Read(ValuesOf(s.auxBuffer2.get(), side), kTimings.testValuesMs);
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
  if (PortLost(s)) return OmrInfo::kNotOpen;
  char command[40];
  std::snprintf(command, sizeof command, "I 5 %02d %02d/", first, second);
  SendTestCommand(s, command);
  const std::string status = s.ReadAnswer(kTimings.replyMs);
  if (IsStatusCode(status)) {
    s.error.Set(status);
    return OmrInfo::kFailed;
  }
  return status == kDoneMark ? OmrInfo::kDone : OmrInfo::kFailed;
}

int PassCard(OmrInfo& s, std::string_view command) {
  SendTestCommand(s, command);
  const std::string status = s.ReadAnswer(kTimings.finalStatusMs);
  if (IsStatusCode(status)) {
    s.error.Set(status);
    return OmrInfo::kFailed;
  }
  return OmrInfo::kDone;
}

int CopyValueHalves(OmrInfo& s, int selector, int* values) {
  if (!s.auxBuffer1) return 0;
  const int n = PrefixOf(s.auxBuffer1.get());
  if (n < 1 || values == nullptr) return n;
  const std::uint8_t* v = s.auxBuffer1.get() + 4;
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
  for (int i = from; i < to; ++i) values[i - from] = v[i];
  return n;
}

int CopyBlock(OmrInfo& s, int selector, int* values) {
  const char side = static_cast<char>(selector & 0xFF);
  if (side != 'A' && side != 'B') return 0;
  const auto& block = side == 'A' ? s.auxBuffer1 : s.auxBuffer2;
  if (!block) return 0;
  const int n = PrefixOf(block.get());
  if (n < 1 || values == nullptr) return n;
  for (int i = 0; i < n; ++i) values[i] = block[static_cast<std::size_t>(i) + 4];
  return n;
}

}  // namespace markwire
