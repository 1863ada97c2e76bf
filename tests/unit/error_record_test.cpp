// The error record's texts: the table applications show, and a defined text for
// any other code.
#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

#include "session/omr_error.h"

namespace markwire {
namespace {

TEST(ErrorRecord, EveryCodeHasTheTextApplicationsShowAndOthersADefinedOne) {
  // The interface's table, code 00 first.
  const std::string_view texts[] = {
      "Have no error", "No format", "Data overflow", "Double sheet", "Format sign error",
      "Detecting dots and line error", "Command parameter error",
      "Paperboard or synchronous signal error", "Offline",
      "synchronous route's counting number out of range", "Communication error",
      "A and B matching error", "Data overflow", "Format sign error", "Barcode error",
      "Detecting dots and line error", "No sheet", "Paperboard or synchronous signal error",
      "Communication error", "synchronous route's counting number out of range",
      "Position of electronic eyes"};
  std::size_t longest = 0;
  for (int code = 0; code < 100; ++code) {
    const char digits[3] = {static_cast<char>('0' + code / 10), static_cast<char>('0' + code % 10), 0};
    const std::string_view text = OmrError::MessageFor(digits);
    EXPECT_EQ(text, code < 21 ? texts[code] : "Unknown error code") << digits;
    longest = std::max(longest, text.size());
  }
  EXPECT_EQ(OmrError::MessageFor("x1"), "Unknown error code");
  EXPECT_EQ(longest + 1, OmrError::kTextBufferSize);  // what OmrGetErrorStr may write
}

}  // namespace
}  // namespace markwire
