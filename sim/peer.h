// The reader's side of the line, as a machine that consumes the bytes the
// library writes and answers with bytes at chosen times. The same machine runs
// behind the in-memory link (virtual time) and on a pseudo-terminal (real
// time).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace markwire::sim {

// Where a peer puts its answers. Times are in microseconds on the clock of
// the host that runs the peer. The line is serial: a chunk starts no earlier
// than the end of the one before it.
class PeerOutput {
 public:
  virtual ~PeerOutput() = default;
  // Sends bytes whose transmission starts at atUs: each takes byteTimeUs on
  // the line and arrives when its last bit has come.
  virtual void Send(std::int64_t atUs, std::span<const std::uint8_t> bytes,
                    std::int64_t byteTimeUs = 0) = 0;
  void Send(std::int64_t atUs, std::string_view text, std::int64_t byteTimeUs = 0) {
    Send(atUs, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, byteTimeUs);
  }
  // The device goes away at atUs: the library's next read or write after that
  // time finds it lost.
  virtual void HangUp(std::int64_t atUs) = 0;
  // When the last byte sent so far leaves the line (or now, if earlier).
  virtual std::int64_t LineFreeAt() const = 0;
  // Asks for Peer::OnWake at atUs, for a peer that must act on silence: the
  // end of a program download shows only as a line that stays quiet. Every
  // request is kept; a peer that no longer needs one just ignores the call.
  virtual void WakeAt(std::int64_t atUs) = 0;
};

class Peer {
 public:
  virtual ~Peer() = default;
  // The library wrote `bytes`; they reached the peer at nowUs.
  virtual void OnReceive(std::span<const std::uint8_t> bytes, std::int64_t nowUs,
                         PeerOutput& out) = 0;
  // A time asked for with WakeAt has come. nowUs is that time on a host with
  // virtual time, and the moment of the call on a real one.
  virtual void OnWake(std::int64_t /*nowUs*/, PeerOutput& /*out*/) {}
};

}  // namespace markwire::sim
