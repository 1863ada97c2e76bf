// Card format download: the text walker on text alone, then the download's
// exchanges, settings and messages against a scripted reader.
#include <unistd.h>

#include <fstream>

#include "commands/format_download.h"
#include "commands/format_text.h"
#include "support/session_fixture.h"

namespace markwire::test {
namespace {

std::vector<std::string> Walk(std::string_view text) {
  std::vector<std::string> out;
  FormatWalker walker(text);
  while (auto c = walker.Next()) out.push_back(c->text);
  return out;
}

TEST(FormatWalker, SplitsCommandsSkipsLeadInAndComments) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Walk("G 1 ;note\r\n 2/"), V{"G 1 2/"});  // comment and its line break dropped
  EXPECT_EQ(Walk("\"A/\"B/"), (V{"A/", "B/"}));      // quotes before a command skipped
  EXPECT_EQ(Walk(" \r\n\xFF\tX/"), V{"\tX/"});        // a tab starts a command
  EXPECT_EQ(Walk("X 1\r\nY 2/"), V{"X 1\r\nY 2/"});   // a command runs over lines
  EXPECT_EQ(Walk("A/ B C"), V{"A/"});                 // no "/": never a command
  EXPECT_EQ(Walk("A/;final comment without line feed"), V{"A/"});
  EXPECT_EQ(Walk(";only a comment\n"), V{});
  EXPECT_EQ(Walk(""), V{});

  FormatWalker walker("F 1/ rest of line\nG/");
  EXPECT_EQ(walker.Next()->text, "F 1/");
  walker.SkipRestOfLine();
  EXPECT_EQ(walker.Next()->text, "G/");

  const std::string text = std::string(99, 'x') + "/" + std::string(98, 'y') + "/";
  FormatWalker longOne(text);
  EXPECT_TRUE(longOne.Next()->tooLong);
  EXPECT_FALSE(longOne.Next()->tooLong);
}

TEST(FormatWalker, FieldsReadAsAtoiReadsThem) {
  EXPECT_EQ(AtoiField("040"), 40);
  EXPECT_EQ(AtoiField("12/"), 12);
  EXPECT_EQ(AtoiField(" -5x"), -5);
  EXPECT_EQ(AtoiField("ab1"), 0);
  EXPECT_EQ(AtoiField(""), 0);
  EXPECT_EQ(AtoiField("99999999999"), std::numeric_limits<int>::max());
}

TEST(FormatDownload, ArgumentFormIsChosenByTheFourthCharacterFromTheEnd) {
  EXPECT_TRUE(IsFormatText("L 1B 2/"));
  EXPECT_FALSE(IsFormatText("L 1b 2/"));
  EXPECT_FALSE(IsFormatText("card.fmt"));
  EXPECT_FALSE(IsFormatText("B12"));  // too short to have that character: a path
}

class FormatTest : public SessionTest {
 protected:
  void Accept(const std::string& command) { reader.Expect(command).Answer("EN"); }
  void End() { reader.Expect("EN/").Reply(0, "EN/EN"); }
  std::string WriteFile(const std::string& text) {
    // One file per test and process: ctest runs tests side by side.
    const std::string path = ::testing::TempDir() + "markwire_" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                             "_" + std::to_string(getpid()) + ".fmt";
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
};

TEST_F(FormatTest, TextFormSendsCommandsAndRecordsTheBarcodeSettings) {
  OpenSession();
  session->SetSyncCount(7);
  Accept("S a.txt/");
  Accept("T/");
  Accept("L 1234/");
  Accept("f 1 010 020 03 08/");  // rewritten: the smaller number first
  End();
  EXPECT_EQ(SendFormatText(*session, "T/\r\nL 1234/ ; sync lines\r\nf 1 020 010 03 08/\r\n"), 255);
  EXPECT_TRUE(session->Barcode().afterFirstByte);
  EXPECT_TRUE(session->Barcode().enabled);
  EXPECT_EQ(session->SyncCount(), 123);
  EXPECT_EQ(session->Barcode().line, (std::array<int, 5>{1, 20, 10, 3, 8}));  // as written

  // Equal numbers are rewritten too; any later command but T and L switches
  // barcode reading off, and a new download clears the "T" setting.
  Accept("S a.txt/");
  Accept("f 1 010 010 03 08/");
  Accept("G 2/");
  End();
  EXPECT_EQ(SendFormatText(*session, "f 1 10 10 3 8/ G 2/"), 255);
  EXPECT_FALSE(session->Barcode().enabled);
  EXPECT_FALSE(session->Barcode().afterFirstByte);
  EXPECT_TRUE(notifier.messages.empty());
}

TEST_F(FormatTest, FileFormDropsShortFieldCommandsAndStopsAtZeroFields) {
  OpenSession();
  const std::string path = WriteFile(
      "F 001 01/ not sent either\r\n"
      "F 001 01 000 01 01 1/\r\n"  // the field at 9..11 is not checked
      "F 001 00 000 01 01 1/\r\n"
      "G 1/\r\n");
  Accept("S a.txt/");
  Accept("F 001 01 000 01 01 1/");
  End();
  EXPECT_EQ(SendFormatFile(*session, path), 255);
  ASSERT_EQ(notifier.messages.size(), 1u);
  EXPECT_EQ(notifier.messages[0], "命令:\"F 001 00 000 01 01 1/\"错,数据参数不可为0");
  EXPECT_EQ(reader.StepsLeft(), 0u);  // "G 1/" was never sent

  Accept("S a.txt/");  // a field that is no number counts as 0
  End();
  EXPECT_EQ(SendFormatFile(*session, WriteFile("F abc 01 000 01 01 1/ G 1/")), 255);
  EXPECT_EQ(notifier.messages.back(), "命令:\"F abc 01 000 01 01 1/\"错,数据参数不可为0");
}

TEST_F(FormatTest, RefusedCommandEndsTheDownloadWithAMessageAndNoCode) {
  OpenSession();
  const std::string path = WriteFile("G 1/ H 2/");
  Accept("S a.txt/");
  reader.Expect("G 1/").Answer("04");
  End();  // the file form still closes the download
  EXPECT_EQ(SendFormatFile(*session, path), 255);
  EXPECT_EQ(notifier.messages.back(), "格式命令: \"G 1/\" 定义错误或装载失败!");
  EXPECT_EQ(session->Error().Code(), "00");

  // The text form gives up without "EN/"; so does a command too long for the
  // reader's buffer, which is never sent.
  Accept("S a.txt/");
  reader.Expect("G 1/").Answer("04");
  EXPECT_EQ(SendFormatText(*session, "G 1/ H 2/"), 0);
  const std::string tooLong = "G " + std::string(98, '1') + "/";
  Accept("S a.txt/");
  EXPECT_EQ(SendFormatText(*session, tooLong), 0);
  EXPECT_EQ(notifier.messages.back(), "格式命令: \"" + tooLong + "\" 定义错误或装载失败!");
  EXPECT_EQ(reader.StepsLeft(), 0u);
  EXPECT_TRUE(reader.Unexpected().empty());
}

TEST_F(FormatTest, EmptyMissingOrRefusedDownloads) {
  OpenSession();
  Accept("S a.txt/");
  End();
  EXPECT_EQ(SendFormatFile(*session, WriteFile("")), 255);

  Accept("S a.txt/");  // then the file cannot be read: no "EN/"
  EXPECT_EQ(SendFormatFile(*session, "/nonexistent/card.fmt"), 0);
  EXPECT_EQ(notifier.messages.back(), "无法打开格式文件:/nonexistent/card.fmt");
  Accept("S a.txt/");  // a directory is no format file either
  EXPECT_EQ(SendFormatFile(*session, ::testing::TempDir()), 0);
  EXPECT_EQ(notifier.messages.back(), "无法打开格式文件:" + ::testing::TempDir());

  reader.Expect("S a.txt/").Answer("01");  // the reader refuses to start
  EXPECT_EQ(SendFormatText(*session, "G 1/"), 0);

  Accept("S a.txt/");
  reader.Expect("EN/").Reply(0, "EN/0");
  EXPECT_EQ(SendFormatText(*session, ""), 0);  // no "EN" at the end
  EXPECT_EQ(reader.StepsLeft(), 0u);
}

TEST_F(FormatTest, SCommandTakesItsPathFromTheThirdCharacterToTheSlash) {
  OpenSession();
  Accept("S a.txt/");
  EXPECT_EQ(session->SendCommand("S dir/card.fmt/"), 0);  // a "/" cuts the path
  EXPECT_EQ(notifier.messages.back(), "无法打开格式文件:dir");
  const std::string path = WriteFile("G 5/");
  Accept("S a.txt/");
  Accept("G 5/");
  End();
  // The path may hold no "/", so the file is named relative to its directory.
  const auto slash = path.rfind('/');
  ASSERT_EQ(chdir(path.substr(0, slash).c_str()), 0);
  EXPECT_EQ(session->SendCommand(("S " + path.substr(slash + 1) + "/").c_str()), 255);
}

}  // namespace
}  // namespace markwire::test
