// How a card's barcode and data share the application's buffer.
#include <gtest/gtest.h>

#include <cstring>

#include "commands/card_layout.h"

namespace markwire::test {
namespace {

TEST(CardLayout, BarcodeInFrontAppendsToTheTextTheBufferHolds) {
  char buffer[64];
  std::memset(buffer, '#', sizeof buffer);
  buffer[0] = '\0';
  EXPECT_EQ(LayOutCard(buffer, "12345678", "XYZ", 8, false), 11);
  EXPECT_STREQ(buffer, "12345678XYZ");
  // Text left in the buffer stays in front, cut at the barcode length: the
  // buffer then needs room for twice the barcode.
  std::strcpy(buffer, "ABCDEFGHIJKL");
  EXPECT_EQ(LayOutCard(buffer, "12345678", "XYZ", 8, false), 11);
  EXPECT_STREQ(buffer, "ABCDEFGH12345678XYZ");
}

TEST(CardLayout, ShortBarcodeAfterTheFirstByteEndsTheTextThere) {
  for (const char* code : {"", "1", "123456", "1234567"}) {
    SCOPED_TRACE(code);
    char buffer[64];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(LayOutCard(buffer, code, "XYZ", 8, true), 11);
    EXPECT_EQ(std::string(buffer), std::string("X").append(code));
    EXPECT_STREQ(buffer + 9, "YZ");  // the data's rest keeps its place
  }
  char buffer[64];
  EXPECT_EQ(LayOutCard(buffer, "12345678", "XYZ", 8, true), 11);
  EXPECT_STREQ(buffer, "X12345678YZ");
  // Without data the first byte is the text's end, and the count says one.
  EXPECT_EQ(LayOutCard(buffer, "12345678", "", 8, true), 9);
  EXPECT_STREQ(buffer, "");
}

}  // namespace
}  // namespace markwire::test
