// An in-memory serial line with a peer behind it, on virtual time. Reads
// advance the clock exactly as far as a real line would make the caller wait,
// so protocol tests are exact about time and cost none.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <queue>
#include <string>
#include <vector>

#include "peer.h"
#include "transport/port_link.h"
#include "virtual_clock.h"

namespace markwire::sim {

class MemoryLink final : public PortLink, private PeerOutput {
 public:
  enum class EventKind { Open, Write, Read, Purge, Close };
  struct Event {
    EventKind kind;
    std::int64_t atUs;   // when the operation started
    std::string bytes;   // written or read bytes (empty for the others)
    unsigned asked = 0;  // bytes asked for (reads)
    unsigned timeoutMs = 0;
  };

  MemoryLink(VirtualClock& clock, Peer& peer) : clock_(clock), peer_(peer) {}

  // PortLink
  bool Open(const std::string& device, const LineSettings& settings) override;
  bool IsValid() const override;
  unsigned Write(std::span<const std::uint8_t> data) override;
  unsigned Read(std::span<std::uint8_t> data, unsigned timeoutMs) override;
  std::size_t Purge() override;
  void Close() override;
  std::string LastError() const override { return lastError_; }
  bool LineThreadFailed() const override { return lineThreadFailed_; }
  // Plays a port whose line-event thread could not be started.
  void FailLineThread() { lineThreadFailed_ = true; }

  // Test controls and observations.
  void FailNextOpen(std::string reason) { failOpen_ = std::move(reason); }
  // The far end of the line, for a test that sends without a peer's cue.
  PeerOutput& FarEnd() { return *this; }
  const std::vector<Event>& Events() const { return events_; }
  std::string Written() const;              // every byte written since construction, in order
  std::vector<std::string> Writes() const;  // one entry per Write call
  int OpenCount() const { return opens_; }
  bool IsOpen() const { return open_; }
  const LineSettings& Settings() const { return settings_; }
  std::size_t PendingBytes() const { return arriving_.size(); }

 private:
  struct Arrival {
    std::int64_t atUs;
    std::uint8_t byte;
  };
  // PeerOutput
  void Send(std::int64_t atUs, std::span<const std::uint8_t> bytes,
            std::int64_t byteTimeUs) override;
  void HangUp(std::int64_t atUs) override;
  std::int64_t LineFreeAt() const override;
  void WakeAt(std::int64_t atUs) override { wakes_.push(atUs); }
  // Wakes the peer for each time asked for up to upToUs, in order.
  void WakeUpTo(std::int64_t upToUs);
  bool LostBy(std::int64_t us) const { return us >= hangupAtUs_; }

  VirtualClock& clock_;
  Peer& peer_;
  std::deque<Arrival> arriving_;
  // Kept across Close and Open: they belong to the device, not to the port.
  std::priority_queue<std::int64_t, std::vector<std::int64_t>, std::greater<>> wakes_;
  std::int64_t lineFreeAtUs_ = 0;
  std::int64_t hangupAtUs_ = std::numeric_limits<std::int64_t>::max();
  bool open_ = false;
  bool lost_ = false;
  int opens_ = 0;
  std::string failOpen_;
  std::string lastError_;
  bool lineThreadFailed_ = false;
  LineSettings settings_{};
  std::vector<Event> events_;
};

}  // namespace markwire::sim
