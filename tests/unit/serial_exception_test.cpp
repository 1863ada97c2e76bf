// The serial layer's exception: its text, and how much of it a caller's
// buffer receives.
#include "transport/serial_exception.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace markwire {
namespace {

TEST(SerialException, GetErrorMessageCopiesTheSystemTextWithinTheBuffer) {
  const CSerialException e(ENOENT);
  const std::string text = std::strerror(ENOENT);
  ASSERT_GT(text.size(), 9u);
  EXPECT_EQ(std::string(e.what()), text);

  char buffer[64];
  unsigned helpContext = 77;
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_TRUE(e.GetErrorMessage(buffer, 10, &helpContext));
  EXPECT_EQ(std::string(buffer), text.substr(0, 9));
  EXPECT_EQ(buffer[10], '#') << "nothing beyond maxChars may be written";
  EXPECT_EQ(helpContext, 0u);

  EXPECT_TRUE(e.GetErrorMessage(buffer, sizeof buffer, nullptr));
  EXPECT_EQ(std::string(buffer), text);

  EXPECT_TRUE(e.GetErrorMessage(buffer, 1, nullptr));
  EXPECT_EQ(buffer[0], '\0');
  buffer[0] = '#';
  EXPECT_FALSE(e.GetErrorMessage(buffer, 0, nullptr));
  EXPECT_EQ(buffer[0], '#');
}

TEST(SerialException, NoErrorHasNoTextAndContextLeadsTheSystemText) {
  const CSerialException none(0);
  char buffer[16] = "stale";
  EXPECT_FALSE(none.GetErrorMessage(buffer, sizeof buffer, nullptr));
  EXPECT_EQ(buffer[0], '\0');

  const CSerialException withContext(ENOTSUP, "mark and space parity");
  EXPECT_EQ(std::string(withContext.what()),
            std::string("mark and space parity: ") + std::strerror(ENOTSUP));
}

TEST(SerialException, ThrowWithZeroTakesTheThreadsLastError) {
  errno = EACCES;
  try {
    ThrowSerialException(0);
  } catch (const CSerialException& e) {
    EXPECT_EQ(e.errorCode, static_cast<unsigned>(EACCES));
    return;
  }
  FAIL() << "ThrowSerialException returned";
}

}  // namespace
}  // namespace markwire
