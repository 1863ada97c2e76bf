// The error record: codes, texts, and when a code counts as pending.
#include <gtest/gtest.h>

#include <cstring>

#include "session/omr_error.h"

namespace markwire {
namespace {

TEST(ErrorRecord, StartsWithoutErrorAndFetchingKeepsTheCode) {
  OmrError e;
  char code[OmrError::kCodeBufferSize];
  char text[OmrError::kTextBufferSize];
  e.CopyCode(code);
  e.CopyText(text);
  EXPECT_STREQ(code, "00");
  EXPECT_STREQ(text, "Have no error");

  e.Set("16");
  EXPECT_TRUE(e.Pending());
  e.CopyCode(code);
  EXPECT_STREQ(code, "16");
  EXPECT_FALSE(e.Pending());
  // The text of the same code is still there after the code was fetched.
  e.CopyText(text);
  EXPECT_STREQ(text, "No sheet");
  e.Reset();
  EXPECT_EQ(e.Code(), "00");
  EXPECT_FALSE(e.Pending());
}

TEST(ErrorRecord, CodesOutsideTheTableGetADefinedText) {
  EXPECT_EQ(OmrError::MessageFor("20"), "Position of electronic eyes");
  EXPECT_EQ(OmrError::MessageFor("21"), "Unknown error code");
  EXPECT_EQ(OmrError::MessageFor("99"), "Unknown error code");
  EXPECT_EQ(OmrError::MessageFor("x1"), "Unknown error code");
}

TEST(ErrorRecord, EveryTextFitsTheDocumentedBuffer) {
  std::size_t longest = 0;
  for (int code = 0; code < 100; ++code) {
    char digits[3] = {static_cast<char>('0' + code / 10), static_cast<char>('0' + code % 10), 0};
    longest = std::max(longest, OmrError::MessageFor(digits).size());
  }
  EXPECT_EQ(longest + 1, OmrError::kTextBufferSize);
}

}  // namespace
}  // namespace markwire
