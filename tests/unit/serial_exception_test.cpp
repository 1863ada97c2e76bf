// How much of the serial layer's error text a caller's buffer receives.
#include "transport/serial_exception.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace markwire {
namespace {

TEST(SerialException, GetErrorMessageTruncatesWithinTheBuffer) {
  const CSerialException e(ENOENT);
  const std::string text = std::strerror(ENOENT);
  char buffer[64];
  unsigned helpContext = 77;
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_TRUE(e.GetErrorMessage(buffer, 10, &helpContext));
  EXPECT_EQ(std::string(buffer), text.substr(0, 9));
  EXPECT_EQ(buffer[10], '#') << "nothing beyond maxChars may be written";
  EXPECT_EQ(helpContext, 0u);
  EXPECT_TRUE(e.GetErrorMessage(buffer, sizeof buffer));
  EXPECT_EQ(std::string(buffer), text);
  EXPECT_TRUE(e.GetErrorMessage(buffer, 1));
  EXPECT_EQ(buffer[0], '\0');
  buffer[0] = '#';
  EXPECT_FALSE(e.GetErrorMessage(buffer, 0));
  EXPECT_EQ(buffer[0], '#');

  // Code 0 is no error: no text (not "Success") and an empty buffer.
  EXPECT_FALSE(CSerialException(0).GetErrorMessage(buffer, sizeof buffer));
  EXPECT_EQ(buffer[0], '\0');
}

}  // namespace
}  // namespace markwire
