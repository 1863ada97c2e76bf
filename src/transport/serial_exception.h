// The error the serial layer raises when the operating system refuses an
// operation on a port that did open. Only the port wrapper's Open catches it;
// everything above sees a false result and a one-line reason instead.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace markwire {

class CSerialException : public std::exception {
 public:
  // `context` names what was being attempted ("mark and space parity"), for
  // the cases where the bare system text would not tell a user what is wrong.
  explicit CSerialException(unsigned errorCode, std::string_view context = {});

  const char* what() const noexcept override;

  // The system's error code: errno on POSIX, the Win32 error code on Windows.
  unsigned errorCode = 0;

 private:
  std::string message_;
};

// The operating system's last error for this thread (errno, or GetLastError).
unsigned LastSystemError();

// Throws a CSerialException. An errorCode of 0 stands for the thread's last
// system error, which is read before anything else can overwrite it.
[[noreturn]] void ThrowSerialException(unsigned errorCode = 0, std::string_view context = {});

}  // namespace markwire
