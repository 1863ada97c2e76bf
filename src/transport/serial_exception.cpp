#include "transport/serial_exception.h"

#include <cerrno>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

namespace markwire {

namespace {

std::string SystemText(unsigned errorCode) {
  // Code 0 means "no error"; a text such as "Success" would only mislead.
  if (errorCode == 0) return {};
#ifdef _WIN32
  // The system's own text, in the neutral language with the system's
  // default sub-language, from a buffer the system allocates.
  char* text = nullptr;
  const DWORD n = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, errorCode, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message(text != nullptr ? text : "", n);
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
    message.pop_back();
  return message;
#else
  return std::system_category().message(static_cast<int>(errorCode));
#endif
}

}  // namespace

CSerialException::CSerialException(unsigned code, std::string_view context)
    : errorCode(code), message_(SystemText(code)) {
  if (!context.empty()) {
    message_ = message_.empty() ? std::string(context) : std::string(context) + ": " + message_;
  }
}

const char* CSerialException::what() const noexcept {
  return message_.empty() ? "serial port error" : message_.c_str();
}

unsigned LastSystemError() {
#ifdef _WIN32
  return static_cast<unsigned>(::GetLastError());
#else
  return static_cast<unsigned>(errno);
#endif
}

void ThrowSerialException(unsigned errorCode, std::string_view context) {
  if (errorCode == 0) errorCode = LastSystemError();
  throw CSerialException(errorCode, context);
}

}  // namespace markwire
