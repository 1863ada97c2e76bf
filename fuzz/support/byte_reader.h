// A fuzz input read front to back. Past its end every read gives zeros, so a
// target never has to ask how much is left before it takes a field.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace markwire::fuzz {

class ByteReader {
 public:
  ByteReader() = default;
  explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  bool Empty() const { return pos_ >= bytes_.size(); }
  std::size_t Left() const { return bytes_.size() - std::min(pos_, bytes_.size()); }

  std::uint8_t Byte() { return Empty() ? 0 : bytes_[pos_++]; }
  std::uint16_t U16() {
    const std::uint16_t low = Byte();
    return static_cast<std::uint16_t>(low | (Byte() << 8));
  }
  std::int16_t I16() { return static_cast<std::int16_t>(U16()); }
  std::int32_t I32() {
    const std::uint32_t low = U16();
    return static_cast<std::int32_t>(low | (static_cast<std::uint32_t>(U16()) << 16));
  }
  // Up to n bytes: fewer when the input ends first.
  std::span<const std::uint8_t> Bytes(std::size_t n) {
    n = std::min(n, Left());
    const auto out = bytes_.subspan(pos_, n);
    pos_ += n;
    return out;
  }
  std::string Text(std::size_t n) {
    const auto b = Bytes(n);
    return std::string(b.begin(), b.end());
  }
  // Everything not read yet.
  std::span<const std::uint8_t> Rest() { return Bytes(Left()); }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

// Appends the fields a ByteReader takes, in its byte order: for the seed
// corpus, written by hand or recorded.
class ByteWriter {
 public:
  ByteWriter& Byte(std::uint8_t b) {
    bytes_.push_back(b);
    return *this;
  }
  ByteWriter& U16(std::uint16_t v) {
    return Byte(static_cast<std::uint8_t>(v & 0xFF)).Byte(static_cast<std::uint8_t>(v >> 8));
  }
  ByteWriter& I32(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    return U16(static_cast<std::uint16_t>(u & 0xFFFF)).U16(static_cast<std::uint16_t>(u >> 16));
  }
  ByteWriter& Bytes(std::span<const std::uint8_t> b) {
    bytes_.insert(bytes_.end(), b.begin(), b.end());
    return *this;
  }
  ByteWriter& Text(std::string_view t) {
    bytes_.insert(bytes_.end(), t.begin(), t.end());
    return *this;
  }
  const std::vector<std::uint8_t>& Data() const { return bytes_; }
  std::size_t Size() const { return bytes_.size(); }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace markwire::fuzz
