// A reader made of fuzz input: each write of the library is answered with
// the next reply record, whatever was written.
//
// A record is a chunk count (one byte) and that many chunks. A chunk is a
// head byte and its payload:
//
//   head bits 0-1  0 raw bytes: a length byte and the bytes
//                  1 one byte repeated: a count (two bytes) and the byte
//                  2 the echo: the bytes just written, sent back
//                  3 the device hangs up
//   head bits 2-5  the delay before the chunk, counted from the end of the
//                  chunk before it (or from the write): an index into kDelaysMs
//   head bit 6     the chunk's bytes paced at 38400 baud instead of at once
//
// The delays sit on both sides of the library's waits (the 100 ms gap
// between bytes, the 1 s reply time, the 3 s final status). When the input
// is used up, the reader stays silent.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "byte_reader.h"
#include "peer.h"

namespace markwire::fuzz {

inline constexpr std::array<std::int64_t, 16> kDelaysMs = {0,    1,    20,   99,   100,  101,
                                                            150,  500,  999,  1000, 1001, 1999,
                                                            2000, 2999, 3001, 6001};
inline constexpr std::int64_t kPacedByteUs = 286;

enum class ChunkKind : std::uint8_t { kRaw = 0, kRepeat = 1, kEcho = 2, kHangUp = 3 };

inline std::uint8_t ChunkHead(ChunkKind kind, unsigned delayClass = 0, bool paced = false) {
  return static_cast<std::uint8_t>(static_cast<unsigned>(kind) | ((delayClass & 15u) << 2) |
                                   (paced ? 0x40u : 0u));
}

class ReplyPeer final : public sim::Peer {
 public:
  explicit ReplyPeer(ByteReader& replies) : replies_(replies) {}

  void OnReceive(std::span<const std::uint8_t> written, std::int64_t nowUs,
                 sim::PeerOutput& out) override {
    const unsigned chunks = replies_.Byte();
    for (unsigned i = 0; i < chunks && !replies_.Empty(); ++i) {
      const std::uint8_t head = replies_.Byte();
      const std::int64_t at =
          std::max(nowUs, out.LineFreeAt()) + kDelaysMs[(head >> 2) & 15u] * 1000;
      const std::int64_t byteUs = (head & 0x40) != 0 ? kPacedByteUs : 0;
      switch (static_cast<ChunkKind>(head & 3u)) {
        case ChunkKind::kRaw:
          out.Send(at, replies_.Bytes(replies_.Byte()), byteUs);
          break;
        case ChunkKind::kRepeat: {
          const std::size_t count = replies_.U16();
          out.Send(at, std::vector<std::uint8_t>(count, replies_.Byte()), byteUs);
          break;
        }
        case ChunkKind::kEcho:
          out.Send(at, written, byteUs);
          break;
        case ChunkKind::kHangUp:
          out.HangUp(at);
          break;
      }
    }
  }

 private:
  ByteReader& replies_;
};

// Writes one reply record (for seeds).
class ReplyRecord {
 public:
  ReplyRecord& Raw(std::span<const std::uint8_t> bytes, unsigned delayClass = 0) {
    // Long replies go as several chunks; only the first one waits.
    do {
      const std::size_t n = std::min<std::size_t>(bytes.size(), 255);
      chunks_.Byte(ChunkHead(ChunkKind::kRaw, delayClass)).Byte(static_cast<std::uint8_t>(n));
      chunks_.Bytes(bytes.first(n));
      bytes = bytes.subspan(n);
      delayClass = 0;
      ++count_;
    } while (!bytes.empty());
    return *this;
  }
  ReplyRecord& Raw(std::string_view text, unsigned delayClass = 0) {
    return Raw({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, delayClass);
  }
  ReplyRecord& Echo(unsigned delayClass = 0) {
    chunks_.Byte(ChunkHead(ChunkKind::kEcho, delayClass));
    ++count_;
    return *this;
  }
  ReplyRecord& HangUp(unsigned delayClass = 0) {
    chunks_.Byte(ChunkHead(ChunkKind::kHangUp, delayClass));
    ++count_;
    return *this;
  }
  // The record, chunk count first. False when it has more chunks than a
  // record can hold (255).
  bool AppendTo(ByteWriter& out) const {
    if (count_ > 255) return false;
    out.Byte(static_cast<std::uint8_t>(count_)).Bytes(chunks_.Data());
    return true;
  }

 private:
  ByteWriter chunks_;
  unsigned count_ = 0;
};

}  // namespace markwire::fuzz
