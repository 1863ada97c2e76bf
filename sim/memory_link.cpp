#include "memory_link.h"

#include <algorithm>
#include <utility>

#include "platform/timings.h"

namespace markwire::sim {

bool MemoryLink::Open(const std::string& device, const LineSettings& settings) {
  Close();
  events_.push_back({EventKind::Open, clock_.NowUs(), device});
  if (!failOpen_.empty()) {
    lastError_ = std::exchange(failOpen_, {});
    return false;
  }
  open_ = true;
  lost_ = false;
  hangupAtUs_ = std::numeric_limits<std::int64_t>::max();
  settings_ = settings;
  ++opens_;
  arriving_.clear();
  return true;
}

bool MemoryLink::IsValid() const {
  return open_ && !lost_ && !LostBy(clock_.NowUs());
}

unsigned MemoryLink::Write(std::span<const std::uint8_t> data) {
  const std::int64_t now = clock_.NowUs();
  if (!open_ || lost_ || LostBy(now)) {
    lost_ = open_;
    return 0;
  }
  events_.push_back({EventKind::Write, now, std::string(data.begin(), data.end())});
  // The clock may have moved on in a sleep; what the peer did meanwhile
  // comes before what it now receives.
  WakeUpTo(now);
  peer_.OnReceive(data, now, *this);
  return static_cast<unsigned>(data.size());
}

unsigned MemoryLink::Read(std::span<std::uint8_t> data, unsigned timeoutMs) {
  const std::int64_t start = clock_.NowUs();
  Event ev{EventKind::Read, start, {}, static_cast<unsigned>(data.size()), timeoutMs};
  if (!open_ || lost_ || data.empty()) {
    events_.push_back(ev);
    return 0;
  }
  const std::int64_t deadline = start + std::int64_t{timeoutMs} * 1000;
  const std::int64_t gap = std::int64_t{kTimings.interByteGapMs} * 1000;
  std::size_t got = 0;
  std::int64_t last = start;
  while (got < data.size()) {
    // The read ends at the deadline when nothing came, or at the gap after
    // the last byte, whichever is first.
    const std::int64_t limit = got == 0 ? deadline : std::min(deadline, last + gap);
    const bool byteInTime = !arriving_.empty() && arriving_.front().atUs <= limit;
    // A wake comes first when it is due before the next byte and before a
    // hang-up; what the peer sends then may still reach this read.
    if (!wakes_.empty()) {
      const std::int64_t wake = wakes_.top();
      if (wake <= limit && (!byteInTime || wake < arriving_.front().atUs) && wake < hangupAtUs_) {
        wakes_.pop();
        clock_.AdvanceTo(wake);
        peer_.OnWake(wake, *this);
        continue;
      }
    }
    if (hangupAtUs_ <= limit && (!byteInTime || hangupAtUs_ <= arriving_.front().atUs)) {
      clock_.AdvanceTo(hangupAtUs_);
      lost_ = true;
      break;
    }
    if (!byteInTime) {
      clock_.AdvanceTo(limit);
      if (got > 0 && limit == last + gap && last + gap <= deadline) break;  // gap
      got = 0;  // time-out: what was taken is dropped
      break;
    }
    last = std::max(arriving_.front().atUs, clock_.NowUs());
    clock_.AdvanceTo(last);
    data[got++] = arriving_.front().byte;
    arriving_.pop_front();
  }
  ev.bytes.assign(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(got));
  events_.push_back(ev);
  return static_cast<unsigned>(got);
}

std::size_t MemoryLink::Purge() {
  const std::int64_t now = clock_.NowUs();
  events_.push_back({EventKind::Purge, now, {}});
  WakeUpTo(now);
  std::size_t dropped = 0;
  for (; !arriving_.empty() && arriving_.front().atUs <= now; ++dropped) arriving_.pop_front();
  return dropped;
}

void MemoryLink::Close() {
  if (!open_) return;
  events_.push_back({EventKind::Close, clock_.NowUs(), {}});
  open_ = false;
  lost_ = false;
  arriving_.clear();
}

std::string MemoryLink::Written() const {
  std::string all;
  for (const auto& e : events_)
    if (e.kind == EventKind::Write) all += e.bytes;
  return all;
}

std::vector<std::string> MemoryLink::Writes() const {
  std::vector<std::string> out;
  for (const auto& e : events_)
    if (e.kind == EventKind::Write) out.push_back(e.bytes);
  return out;
}

void MemoryLink::Send(std::int64_t atUs, std::span<const std::uint8_t> bytes,
                      std::int64_t byteTimeUs) {
  std::int64_t t = std::max(atUs, lineFreeAtUs_);
  for (std::uint8_t b : bytes) {
    t += byteTimeUs;  // a byte arrives when its last bit has come
    arriving_.push_back({t, b});
  }
  lineFreeAtUs_ = t;
}

void MemoryLink::HangUp(std::int64_t atUs) {
  hangupAtUs_ = std::max(atUs, lineFreeAtUs_);
}

void MemoryLink::WakeUpTo(std::int64_t upToUs) {
  while (!wakes_.empty() && wakes_.top() <= upToUs) {
    const std::int64_t wake = wakes_.top();
    wakes_.pop();
    peer_.OnWake(wake, *this);
  }
}

std::int64_t MemoryLink::LineFreeAt() const {
  return std::max(lineFreeAtUs_, clock_.NowUs());
}

}  // namespace markwire::sim
