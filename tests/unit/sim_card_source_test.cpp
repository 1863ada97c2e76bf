// Where the simulated reader's cards come from.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>

#include "card_source.h"

namespace markwire::sim {
namespace {

class TempFile {
 public:
  explicit TempFile(const std::string& content) {
    char name[] = "/tmp/markwire_cards_XXXXXX";
    const int fd = ::mkstemp(name);
    EXPECT_GE(fd, 0);
    ::close(fd);
    path_ = name;
    std::ofstream(path_, std::ios::binary) << content;
  }
  ~TempFile() { std::remove(path_.c_str()); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

TEST(SimCardSource, FileGivesOneCardPerNonEmptyLine) {
  TempFile file("12345678ABCD\n\nABC\tbar-1\r\n\r\n  spaced  \nlast without newline\ta\tb");
  FileCards cards(file.Path());
  auto next = [&] { return cards.Next(); };
  auto card = next();
  ASSERT_TRUE(card);
  EXPECT_EQ(card->data, "12345678ABCD");
  EXPECT_EQ(card->barcode, "");
  card = next();
  ASSERT_TRUE(card);
  EXPECT_EQ(card->data, "ABC");
  EXPECT_EQ(card->barcode, "bar-1");
  card = next();
  ASSERT_TRUE(card);
  EXPECT_EQ(card->data, "  spaced  ");  // spaces are unmarked answers, not padding
  card = next();
  ASSERT_TRUE(card);
  EXPECT_EQ(card->data, "last without newline");
  EXPECT_EQ(card->barcode, "a\tb");  // only the first TAB splits
  EXPECT_FALSE(next());
  EXPECT_FALSE(next());
}

TEST(SimCardSource, UnusableFilesAreRefusedWithTheirName) {
  const std::string missing = "/tmp/markwire_no_such_cards_file.txt";
  try {
    FileCards cards(missing);
    FAIL() << "a missing file was accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("No such file"), std::string::npos) << e.what();
  }
  TempFile withNul(std::string("good\nba\0d\n", 10));
  try {
    FileCards cards(withNul.Path());
    FAIL() << "a NUL byte was accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("line 2"), std::string::npos) << e.what();
  }
}

TEST(SimCardSource, GeneratedCardsArePlausibleAnswerSheets) {
  GeneratedCards cards(7, 200);
  std::set<char> marks;
  std::size_t count = 0;
  while (auto card = cards.Next()) {
    ++count;
    const std::string& d = card->data;
    ASSERT_GE(d.size(), 40u);
    ASSERT_LE(d.size(), 100u);
    for (std::size_t i = 0; i < 8; ++i) ASSERT_TRUE(d[i] >= '0' && d[i] <= '9') << d;
    EXPECT_EQ(card->barcode, d.substr(0, 8));
    for (std::size_t i = 8; i < d.size(); ++i) {
      ASSERT_NE(std::string("ABCD *").find(d[i]), std::string::npos) << d;
      marks.insert(d[i]);
    }
  }
  EXPECT_EQ(count, 200u);
  EXPECT_EQ(marks.size(), 6u);  // every kind of mark turns up in 200 sheets
}

TEST(SimCardSource, GeneratedCardsDependOnlyOnTheSeed) {
  GeneratedCards a(42), b(42), c(43);
  bool differs = false;
  for (int i = 0; i < 50; ++i) {
    const auto ca = a.Next(), cb = b.Next(), cc = c.Next();
    ASSERT_TRUE(ca && cb && cc);  // unlimited by default
    EXPECT_EQ(ca->data, cb->data);
    differs = differs || ca->data != cc->data;
  }
  EXPECT_TRUE(differs);
  GeneratedCards one(1, 1);
  EXPECT_TRUE(one.Next());
  EXPECT_FALSE(one.Next());
  GeneratedCards none(1, 0);
  EXPECT_FALSE(none.Next());
}

}  // namespace
}  // namespace markwire::sim
