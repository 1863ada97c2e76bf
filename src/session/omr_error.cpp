#include "session/omr_error.h"

#include <cstring>

namespace markwire {
namespace {

constexpr std::array<std::string_view, 21> kMessages = {
    "Have no error",
    "No format",
    "Data overflow",
    "Double sheet",
    "Format sign error",
    "Detecting dots and line error",
    "Command parameter error",
    "Paperboard or synchronous signal error",
    "Offline",
    "synchronous route's counting number out of range",
    "Communication error",
    "A and B matching error",
    "Data overflow",
    "Format sign error",
    "Barcode error",
    "Detecting dots and line error",
    "No sheet",
    "Paperboard or synchronous signal error",
    "Communication error",
    "synchronous route's counting number out of range",
    "Position of electronic eyes",
};

// The reader's codes are two decimal digits but the table stops at 20; any
// other code gets this text rather than reading past the table.
constexpr std::string_view kUnknownCode = "Unknown error code";

}  // namespace

void OmrError::Reset() {
  code_ = {'0', '0', '\0'};
  pending_ = false;
}

void OmrError::Set(std::string_view code) {
  code_[0] = code.size() > 0 ? code[0] : '0';
  code_[1] = code.size() > 1 ? code[1] : '0';
  code_[2] = '\0';
  pending_ = true;
}

void OmrError::CopyCode(char* buffer) {
  if (buffer != nullptr) std::memcpy(buffer, code_.data(), kCodeBufferSize);
  pending_ = false;
}

void OmrError::CopyText(char* buffer) {
  if (buffer != nullptr) {
    const std::string_view text = MessageFor(Code());
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
  }
  pending_ = false;
}

std::string_view OmrError::MessageFor(std::string_view code) {
  // The code is read as a decimal number, digits only.
  int value = 0;
  for (char c : code) {
    if (c < '0' || c > '9') return kUnknownCode;
    value = value * 10 + (c - '0');
  }
  if (code.empty() || value >= static_cast<int>(kMessages.size())) return kUnknownCode;
  return kMessages[static_cast<std::size_t>(value)];
}

}  // namespace markwire
