// The error record: the outcome of the last exchange with the reader as a
// two-digit code (the same codes the reader sends as its status answer), a
// pending mark, and an English text for each code.
#pragma once

#include <array>
#include <string_view>

namespace markwire {

class OmrError {
 public:
  // Longest text and its NUL: what OmrGetErrorStr may write.
  static constexpr std::size_t kTextBufferSize = 49;
  // Two digits and a NUL: what OmrGetError may write.
  static constexpr std::size_t kCodeBufferSize = 3;

  OmrError() { Reset(); }
  virtual ~OmrError() = default;

  void Reset();
  // Takes the first two characters of `code` (expected to be two digits).
  void Set(std::string_view code);
  // Keeps the code but no longer reports it as pending.
  void ClearPending() { pending_ = false; }
  // Copies the code and its NUL (3 bytes) and clears the pending mark.
  void CopyCode(char* buffer);
  // Copies the code's text and its NUL (at most 49 bytes), clears pending.
  void CopyText(char* buffer);

  std::string_view Code() const { return {code_.data(), 2}; }
  bool Pending() const { return pending_; }
  static std::string_view MessageFor(std::string_view code);

 private:
  std::array<char, kCodeBufferSize> code_{};
  bool pending_ = false;
};

}  // namespace markwire
