// Reader handles over pseudo-terminals: several readers in one process, each
// from its own thread, beside the classic session; handles and buffers that
// must be refused.
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "markwire.h"
#include "markwire.hpp"
#include "pty_host.h"
#include "reader_machine.h"
#include "api/app.h"

namespace markwire::test {
namespace {

struct SimulatedReader {
  explicit SimulatedReader(std::vector<sim::Card> cards, sim::ReaderConfig config = {})
      : machine(std::move(config), std::make_unique<sim::ListCards>(std::move(cards))),
        host(machine) {
    EXPECT_TRUE(host.Start()) << host.LastError();
  }
  std::string Path() const { return host.DevicePath(); }
  sim::ReaderMachine machine;
  sim::PtyHost host;
};

std::vector<sim::Card> CardsOf(char reader, int count) {
  std::vector<sim::Card> cards;
  for (int k = 0; k < count; ++k)
    cards.push_back({std::string(8, reader) + std::to_string(1000 + k), ""});
  return cards;
}

std::size_t Entries(const char* directory) {
  std::size_t n = 0;
  if (DIR* d = opendir(directory)) {
    while (readdir(d) != nullptr) ++n;
    closedir(d);
  }
  return n;
}

TEST(ReaderHandles, ThreeReadersFromThreeThreadsReadTheirOwnCardsBesideTheClassicSession) {
  App().ReplaceSession(App().MakeDefaultSession());
  constexpr int kCards = 4;
  SimulatedReader readers[] = {SimulatedReader(CardsOf('A', kCards)),
                               SimulatedReader(CardsOf('B', kCards)),
                               SimulatedReader(CardsOf('C', kCards))};
  SimulatedReader classic(CardsOf('Z', 2));
  // A format file whose path holds blanks and a "W", as only a real path can.
  char dir[] = "/tmp/markwire handles W XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string format = std::string(dir) + "/card format W.fmt";
  std::ofstream(format) << "L 040/\r\n";

  std::vector<std::vector<std::string>> got(3);
  std::vector<std::string> failures(3);
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i) {
    threads.emplace_back([&, i] {
      char why[128] = "x";
      mw_reader* reader = mw_open(readers[i].Path().c_str(), why, sizeof why);
      if (reader == nullptr) {
        failures[static_cast<std::size_t>(i)] = why;
        return;
      }
      if (mw_download_format(reader, format.c_str()) != 255) failures[i] = "format refused";
      char data[MW_BLOCK_SIZE];
      for (int k = 0; k <= kCards; ++k) {
        const int n = mw_read_card(reader, 0, 2000, data, sizeof data);
        if (n > 0) got[static_cast<std::size_t>(i)].push_back(data);
      }
      char code[3];
      mw_error(reader, code);
      if (std::string(code) != "16") failures[i] += " last code " + std::string(code);
      mw_close(reader);
    });
  }
  // The classic session reads its own reader meanwhile.
  ASSERT_EQ(OmrInitDevice(classic.Path().c_str()), 255);
  char data[4096] = {};
  EXPECT_EQ(ReadOneCard(0, 2000, data), 12);
  EXPECT_STREQ(data, "ZZZZZZZZ1000");
  for (std::thread& t : threads) t.join();

  for (int i = 0; i < 3; ++i) {
    const auto si = static_cast<std::size_t>(i);
    EXPECT_EQ(failures[si], "") << "reader " << i;
    std::vector<std::string> expected;
    for (const sim::Card& card : CardsOf(static_cast<char>('A' + i), kCards))
      expected.push_back(card.data);
    EXPECT_EQ(got[si], expected) << "reader " << i;
    EXPECT_EQ(readers[i].machine.Format().commands, std::vector<std::string>{"L 040/"});
    EXPECT_EQ(readers[i].machine.Commands().back(), "Q/");  // closed with "Q/"
  }
  EXPECT_EQ(ReadOneCard(0, 2000, data), 12);  // the classic session goes on
  EXPECT_STREQ(data, "ZZZZZZZZ1001");
  App().ReplaceSession(App().MakeDefaultSession());
  std::remove(format.c_str());
  rmdir(dir);
}

TEST(ReaderHandles, UnknownHandlesSmallBuffersAndSecondOpensAreRefusedAndNothingIsLeft) {
  char why[128] = "";
  EXPECT_EQ(mw_open("/dev/markwire-no-such-device", why, sizeof why), nullptr);
  EXPECT_STRNE(why, "");
  EXPECT_EQ(mw_open(nullptr, why, sizeof why), nullptr);
  EXPECT_EQ(mw_send(nullptr, "R/"), MW_UNKNOWN_READER);
  EXPECT_EQ(mw_sync(reinterpret_cast<mw_reader*>(0x5eed)), MW_UNKNOWN_READER);
  mw_close(nullptr);

  SimulatedReader simulated(CardsOf('A', 3));
  const std::size_t descriptors = Entries("/proc/self/fd");
  const std::size_t threads = Entries("/proc/self/task");
  {
    mw_reader* reader = mw_open(simulated.Path().c_str(), why, sizeof why);
    ASSERT_NE(reader, nullptr) << why;
    // The same device twice: refused with a reason, the first goes on.
    EXPECT_EQ(mw_open(simulated.Path().c_str(), why, sizeof why), nullptr);
    EXPECT_NE(std::string(why).find("already open"), std::string::npos) << why;
    // A buffer too small for a block: nothing is sent.
    const std::size_t sent = simulated.machine.Commands().size();
    char small[64];
    EXPECT_EQ(mw_read_card(reader, 0, 2000, small, sizeof small), MW_SMALL_BUFFER);
    EXPECT_EQ(simulated.machine.Commands().size(), sent);
    // Values are cut to the count given, the count held is returned.
    EXPECT_EQ(mw_send(reader, "I 4/"), 255);
    int values[4] = {-1, -1, -1, -1};
    EXPECT_EQ(mw_get_values(reader, 'B', values, 2), 96);
    EXPECT_EQ(values[2], -1);
    // No handler runs after close.
    std::atomic<int> traced{0};
    mw_set_trace_handler(
        reader, [](const char*, void* user) { ++*static_cast<std::atomic<int>*>(user); }, &traced);
    mw_close(reader);
    const int atClose = traced.load();
    EXPECT_GT(atClose, 0);
    // A closed handle stays refused, even once another reader is open.
    mw_reader* next = mw_open(simulated.Path().c_str(), why, sizeof why);
    ASSERT_NE(next, nullptr) << why;
    EXPECT_EQ(mw_send(reader, "R/"), MW_UNKNOWN_READER);
    char code[3];
    EXPECT_EQ(mw_error(reader, code), MW_UNKNOWN_READER);
    mw_close(reader);
    mw_close(next);
    EXPECT_EQ(traced.load(), atClose);
  }
  EXPECT_EQ(Entries("/proc/self/fd"), descriptors);
  EXPECT_EQ(Entries("/proc/self/task"), threads);
}

TEST(ReaderHandles, TheCppReaderReadsUntilTheHopperIsEmptyAndThrowsTheReadersCode) {
  EXPECT_THROW(Reader("/dev/markwire-no-such-device"), ReaderError);
  SimulatedReader simulated(CardsOf('Q', 2));
  std::vector<std::string> cards;
  {
    Reader reader(simulated.Path());
    reader.DownloadFormatText("L 040/");
    while (auto card = reader.ReadCard()) cards.push_back(*card);
    EXPECT_EQ(reader.Send("I 4/"), 255);
    EXPECT_EQ(reader.Values('A').size(), 48u);
    try {
      reader.Send("R/");  // the hopper is empty: the reader refuses
      ADD_FAILURE() << "no refusal";
    } catch (const ReaderError& error) {
      EXPECT_EQ(error.Code(), "16");
    }
    Reader moved = std::move(reader);  // one close, by the reader it moved to
  }
  EXPECT_EQ(cards, (std::vector<std::string>{"QQQQQQQQ1000", "QQQQQQQQ1001"}));
  EXPECT_EQ(simulated.machine.Commands().back(), "Q/");

  // A status in place of the card's data (the read command refused once):
  // an error with its code, not a card of two digits; the next card reads.
  sim::ReaderConfig refusing;
  refusing.faults.push_back(std::get<sim::Fault>(sim::ParseFault("status:r=12*1")));
  SimulatedReader once(CardsOf('S', 2), refusing);
  Reader reader(once.Path());
  try {
    reader.ReadCard();
    ADD_FAILURE() << "a status was taken for a card";
  } catch (const ReaderError& error) {
    EXPECT_EQ(error.Code(), "12");
  }
  // The refused card went through the reader unread: the next is the second.
  EXPECT_EQ(reader.ReadCard().value_or(""), "SSSSSSSS1001");
}

TEST(ReaderHandles, TheBarcodeLayoutSaysWhereTheLastFormatPutTheBarcode) {
  SimulatedReader simulated({{"1ANSWERS", "20261206"}, {"2ANSWERS", "31415926"}});
  Reader reader(simulated.Path());
  EXPECT_EQ(reader.BarcodeLayout(), (std::pair<int, int>{0, 0}));  // no format yet
  // A Code 39 line of 8 characters after the first data byte ("T"), then in
  // front of the data.
  reader.DownloadFormatText("L 040/ T/ f 3 010 020 01 08/");
  ASSERT_EQ(reader.BarcodeLayout(), (std::pair<int, int>{1, 8}));
  const std::string after = reader.ReadCard().value_or("");
  EXPECT_EQ(after, "120261206ANSWERS");
  reader.DownloadFormatText("L 040/ f 3 010 020 01 08/");
  ASSERT_EQ(reader.BarcodeLayout(), (std::pair<int, int>{0, 8}));
  EXPECT_EQ(reader.ReadCard().value_or(""), "314159262ANSWERS");
  EXPECT_EQ(mw_barcode_layout(nullptr, nullptr, nullptr), MW_UNKNOWN_READER);
}

TEST(ReaderHandles, CloseRacingCallsOnOtherThreadsEndsThemWithMinusOneAndSaysQLast) {
  SimulatedReader simulated(CardsOf('R', 1));
  char why[128] = "";
  mw_reader* reader = mw_open(simulated.Path().c_str(), why, sizeof why);
  ASSERT_NE(reader, nullptr) << why;
  // Three threads keep calling until the handle is refused; a call already
  // running when the close comes finishes first, the rest are refused.
  std::atomic<bool> go{false};
  std::vector<std::vector<int>> results(3);
  std::vector<std::thread> callers;
  for (std::size_t i = 0; i < 3; ++i) {
    callers.emplace_back([&, i] {
      while (!go) std::this_thread::yield();
      char block[MW_BLOCK_SIZE];
      // Bounded by time, not by a count: a quick call may run many thousand
      // times before the close on a busy machine.
      const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      for (;;) {
        const int result = i == 0   ? mw_send(reader, "MO 1/")
                           : i == 1 ? mw_sync(reader)
                                    : mw_receive(reader, block, sizeof block);
        if (results[i].empty() || result != results[i].back() || result == MW_UNKNOWN_READER)
          results[i].push_back(result);
        if (result == MW_UNKNOWN_READER || std::chrono::steady_clock::now() > giveUp) return;
      }
    });
  }
  go = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  mw_close(reader);
  for (std::thread& t : callers) t.join();
  for (std::size_t i = 0; i < 3; ++i) {
    ASSERT_FALSE(results[i].empty());
    EXPECT_EQ(results[i].back(), MW_UNKNOWN_READER) << "caller " << i;
  }
  // The sends before the close were whole commands: each answered 255 (a
  // result is kept when it differs from the one before).
  for (std::size_t k = 0; k + 1 < results[0].size(); ++k) EXPECT_EQ(results[0][k], 255);
  EXPECT_EQ(simulated.machine.Commands().back(), "Q/") << "nothing was sent after the close";
}

}  // namespace
}  // namespace markwire::test
