// The simulated reader behind a faulty line: every chunk the reader sends
// passes through edits taken from fuzz input before it reaches the library.
//
// Per chunk, edits follow each other while their op byte has bit 7 set:
//   op & 15  0 none       1 flip bits: position (2 bytes), mask
//            2 drop bytes: position, count     3 insert bytes: position, length, bytes
//            4 delay: an index into kDelaysMs  5 cut off at a position
//            6 send the chunk twice            7 set a byte: position, value
//            8 hang up after the chunk         9 pace the chunk at 38400 baud
//            10 drop the whole chunk           others: none
// Positions are taken modulo the chunk's length plus one. When the input is
// used up, the chunks pass unchanged.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "byte_reader.h"
#include "peer.h"
#include "reply_peer.h"

namespace markwire::fuzz {

class CorruptingPeer final : public sim::Peer, private sim::PeerOutput {
 public:
  CorruptingPeer(sim::Peer& reader, ByteReader& edits) : reader_(reader), edits_(edits) {}

  void OnReceive(std::span<const std::uint8_t> bytes, std::int64_t nowUs,
                 sim::PeerOutput& out) override {
    out_ = &out;
    reader_.OnReceive(bytes, nowUs, *this);
  }
  void OnWake(std::int64_t nowUs, sim::PeerOutput& out) override {
    out_ = &out;
    reader_.OnWake(nowUs, *this);
  }

 private:
  void Send(std::int64_t atUs, std::span<const std::uint8_t> bytes,
            std::int64_t byteTimeUs) override {
    std::vector<std::uint8_t> chunk(bytes.begin(), bytes.end());
    bool twice = false, hangUp = false, dropped = false;
    for (bool more = true; more && !edits_.Empty();) {
      const std::uint8_t op = edits_.Byte();
      more = (op & 0x80) != 0;
      const auto at = [&] { return static_cast<std::size_t>(edits_.U16() % (chunk.size() + 1)); };
      switch (op & 15) {
        case 1: {
          const std::size_t p = at();
          const std::uint8_t mask = edits_.Byte();
          if (p < chunk.size()) chunk[p] ^= mask == 0 ? 1 : mask;
          break;
        }
        case 2: {
          const std::size_t p = at();
          const std::size_t n = std::min<std::size_t>(edits_.Byte(), chunk.size() - p);
          chunk.erase(chunk.begin() + static_cast<std::ptrdiff_t>(p),
                      chunk.begin() + static_cast<std::ptrdiff_t>(p + n));
          break;
        }
        case 3: {
          const std::size_t p = at();
          const auto extra = edits_.Bytes(edits_.Byte());
          chunk.insert(chunk.begin() + static_cast<std::ptrdiff_t>(p), extra.begin(), extra.end());
          break;
        }
        case 4:
          atUs += kDelaysMs[edits_.Byte() % kDelaysMs.size()] * 1000;
          break;
        case 5:
          chunk.resize(at());
          break;
        case 6:
          twice = true;
          break;
        case 7: {
          const std::size_t p = at();
          const std::uint8_t value = edits_.Byte();
          if (p < chunk.size()) chunk[p] = value;
          break;
        }
        case 8:
          hangUp = true;
          break;
        case 9:
          byteTimeUs = kPacedByteUs;
          break;
        case 10:
          dropped = true;
          break;
        default:
          break;
      }
    }
    if (dropped) return;
    out_->Send(atUs, chunk, byteTimeUs);
    if (twice) out_->Send(atUs, chunk, byteTimeUs);
    if (hangUp) out_->HangUp(out_->LineFreeAt());
  }
  void HangUp(std::int64_t atUs) override { out_->HangUp(atUs); }
  std::int64_t LineFreeAt() const override { return out_->LineFreeAt(); }
  void WakeAt(std::int64_t atUs) override { out_->WakeAt(atUs); }

  sim::Peer& reader_;
  ByteReader& edits_;
  sim::PeerOutput* out_ = nullptr;
};

}  // namespace markwire::fuzz
