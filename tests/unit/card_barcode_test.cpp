// The barcode read after a card, against a scripted reader: the "PR/"
// exchange, the layout of barcode and data in the application's buffer, and
// what a failed read reports.
#include <algorithm>
#include <cstring>

#include "commands/card_barcode.h"
#include "barcode/symbols/symbol_tables.h"
#include "barcode_encoder.h"
#include "support/session_fixture.h"
#include "waveform_model.h"

namespace markwire::test {
namespace {

// The "PR/" reply carrying the waveform of a symbol's widths, last sample
// first: the library reverses the samples of a barcode line whose second
// number is not the greater.
std::string WaveformReply(const std::vector<double>& widths) {
  auto bytes = sim::RenderWaveform(widths, sim::OpticsOptions{});
  std::reverse(bytes.begin(), bytes.end());
  char count[8];
  std::snprintf(count, sizeof count, "%04zu", bytes.size());
  return "PR/EN" + std::string(count) + std::string(bytes.begin(), bytes.end());
}

std::string WaveformReply(sim::BarcodeKind kind, const std::string& text) {
  return WaveformReply(std::get<std::vector<double>>(sim::EncodeBarcode(kind, text)));
}

// Code 128: Start C, the characters given, the check character, the stop.
std::vector<double> Code128Widths(const std::vector<std::string>& characters) {
  const auto widths = [](std::string_view symbol) {
    for (const auto& row : barcode::SymbolRows(barcode::kCode128))
      if (row.symbol == symbol) return std::string(row.pattern);
    return std::string();
  };
  std::string modules = widths("STARTC");
  int check = 105, weight = 1;
  for (const auto& c : characters) {
    modules += widths(c);
    check += weight++ * std::stoi(c);
  }
  modules += widths(std::to_string(100 + check % 103).substr(1)) + widths("STOP");
  std::vector<double> out;
  for (const char m : modules) out.push_back(m - '0');
  return out;
}

class BarcodeReadTest : public SessionTest {
 protected:
  void Format(int symbology, int length, bool afterFirstByte = false) {
    session->SetBarcode({.enabled = true,
                         .afterFirstByte = afterFirstByte,
                         .line = {symbology, 10, 20, 1, length}});
  }
  // A card "XYZ" read with numbers, then the reader's answer to "PR/".
  int ReadCard(const std::string& prReply) {
    reader.Expect("r A 0000 0100/").Answer("EN").Reply(0, std::string("0003XYZ\0EN", 10));
    reader.Expect("PR/").Reply(0, prReply);
    EXPECT_EQ(session->SendCommand("r A 0000 0100/"), 255);
    buffer[0] = '\0';
    return session->ReceiveBlock(buffer);
  }
  char buffer[4096];
};

TEST_F(BarcodeReadTest, BarcodeGoesInFrontOfTheDataOrAfterItsFirstByte) {
  OpenSession();
  Format(barcode::kCode39, 8);
  EXPECT_EQ(ReadCard(WaveformReply(sim::BarcodeKind::Code39, "12345678")), 11);
  EXPECT_STREQ(buffer, "12345678XYZ");
  Format(barcode::kCode39, 8, true);
  EXPECT_EQ(ReadCard(WaveformReply(sim::BarcodeKind::Code39, "AB-CD 78")), 11);
  EXPECT_STREQ(buffer, "XAB_CD 78YZ");  // the hyphen's pattern reads as "_"
  EXPECT_FALSE(session->Error().Pending());

  // The other symbologies; a Code 128 text is the digits behind FNC1.
  Format(barcode::kInterleaved2of5, 8);
  EXPECT_EQ(ReadCard(WaveformReply(sim::BarcodeKind::Interleaved2of5, "20261205")), 11);
  EXPECT_STREQ(buffer, "20261205XYZ");
  Format(barcode::kCode128, 8);
  EXPECT_EQ(ReadCard(WaveformReply(sim::BarcodeKind::Code128, "31415926")), 11);
  EXPECT_STREQ(buffer, "31415926XYZ");
  EXPECT_FALSE(session->Error().Pending());
  EXPECT_EQ(notifier.traces, (std::vector<std::string>{"successFlag: 1"}));

  // A read command without numbers reads no barcode.
  reader.Expect("r/").Answer("EN").Reply(0, "WXYZEN");
  ASSERT_EQ(session->SendCommand("r/"), 255);
  EXPECT_EQ(session->ReceiveBlock(buffer), 4);
  EXPECT_STREQ(buffer, "WXYZ");
}

TEST_F(BarcodeReadTest, ShortBarcodeAfterTheFirstByteEndsTheTextThere) {
  OpenSession();
  // Digit pairs from the first character on, no FNC1: the text behind the
  // first four characters is one short of an odd length.
  Format(barcode::kCode128, 9, true);
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(ReadCard(WaveformReply(Code128Widths({"31", "41", "59", "26", "53"}))), 12);
  EXPECT_STREQ(buffer, "X59265343");
  EXPECT_STREQ(buffer + 10, "YZ");
}

TEST_F(BarcodeReadTest, FailedReadsHandBackFullStopsAndOnlyCode128ReportsThem) {
  OpenSession();
  // Code 39 that cannot be read: full stops, nothing recorded.
  Format(barcode::kCode39, 6);
  EXPECT_EQ(ReadCard("PR/EN0010" + std::string(10, '\x80')), 9);
  EXPECT_STREQ(buffer, "......XYZ");
  EXPECT_FALSE(session->Error().Pending());
  EXPECT_TRUE(notifier.messages.empty());

  // Code 128 that cannot be read: full stops, "14" pending, the message once,
  // and the decoder's trace line for each direction it tried.
  Format(barcode::kCode128, 8);
  EXPECT_EQ(ReadCard(WaveformReply(sim::BarcodeKind::Code39, "A1B2C3D4")), 11);
  EXPECT_STREQ(buffer, "........XYZ");
  EXPECT_EQ(session->Error().Code(), "14");
  EXPECT_TRUE(session->Error().Pending());
  EXPECT_EQ(notifier.messages, (std::vector<std::string>{"条码数据阅读错误!"}));

  // Any other symbology number takes the Code 128 path with no rows of its own.
  notifier.messages.clear();
  Format(0, 8);
  EXPECT_EQ(ReadCard(WaveformReply(sim::BarcodeKind::Code128, "31415926")), 11);
  EXPECT_STREQ(buffer, "31415926XYZ");  // the Code 128 rows of the last read are still known
}

TEST_F(BarcodeReadTest, BadWaveformRepliesGiveFullStopsWithoutAnError) {
  OpenSession();
  Format(barcode::kCode39, 4);
  const std::string bad[] = {
      "PX/EN0005abcde",  // wrong echo: the line is purged
      "",                // no reply
      "PR/EN0000",       // no samples
      "PR/EN-005",       // a negative count
      "PR/ENabcd",       // not a number
  };
  for (const auto& reply : bad) {
    SCOPED_TRACE(reply);
    EXPECT_EQ(ReadCard(reply), 7);
    EXPECT_STREQ(buffer, "....XYZ");
    EXPECT_FALSE(session->Error().Pending());
    EXPECT_EQ(link->PendingBytes(), 0u);
  }
}

TEST_F(BarcodeReadTest, WaveformCutShortIsNoWaveform) {
  OpenSession();
  Format(barcode::kCode39, 8);
  std::string reply = WaveformReply(sim::BarcodeKind::Code39, "12345678");
  EXPECT_EQ(ReadCard(reply), 11);
  EXPECT_STREQ(buffer, "12345678XYZ");
  reply.replace(5, 4, "9999");  // announces far more than it sends
  EXPECT_EQ(ReadCard(reply), 11);
  EXPECT_STREQ(buffer, "........XYZ");
}

TEST_F(BarcodeReadTest, BarcodeLengthIsHeldToWhatTheReadCanHandBack) {
  OpenSession();
  Format(barcode::kCode39, 500);
  EXPECT_EQ(ReadCard("PR/EN0000"), 123 + 3);
  EXPECT_EQ(std::string(buffer), std::string(123, '.') + "XYZ");
  Format(barcode::kCode39, 0);
  EXPECT_EQ(ReadCard("PR/EN0000"), 3);
  EXPECT_STREQ(buffer, "XYZ");
}

}  // namespace
}  // namespace markwire::test
