// A session on an in-memory line with a scripted reader, on virtual time.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "commands/families.h"
#include "memory_link.h"
#include "session/omr_info.h"
#include "support/scripted_reader.h"
#include "virtual_clock.h"

namespace markwire::test {

class RecordingNotifier final : public Notifier {
 public:
  void Message(std::string_view utf8) override { messages.emplace_back(utf8); }
  void Trace(std::string_view line) override { traces.emplace_back(line); }
  bool WantsWireTrace() const override { return false; }
  void WireTrace(std::string_view) override {}
  void Progress(unsigned done, unsigned total) override { progress.emplace_back(done, total); }
  std::vector<std::string> messages;
  std::vector<std::pair<unsigned, unsigned>> progress;
  std::vector<std::string> traces;
};

class SessionTest : public ::testing::Test {
 protected:
  SessionTest() {
    auto owned = std::make_unique<sim::MemoryLink>(clock, reader);
    link = owned.get();
    session = std::make_unique<OmrInfo>(std::move(owned), clock, notifier, Families());
  }

  // Scripts a good hand-shake and runs it; the clock is then back at zero.
  void OpenSession() {
    reader.Expect("Q/");
    reader.Expect("ONLINE/").Answer("EN");
    ASSERT_EQ(session->Open("mem"), 255);
    ASSERT_TRUE(reader.Mismatches().empty());
    clock0 = clock.NowUs();
  }

  // Milliseconds of virtual time since OpenSession.
  double ElapsedMs() const { return static_cast<double>(clock.NowUs() - clock0) / 1000.0; }

  // Writes after OpenSession (the hand-shake's excluded).
  std::vector<std::string> WritesSinceOpen() const {
    auto all = link->Writes();
    return {all.begin() + 2, all.end()};
  }

  void TearDown() override {
    EXPECT_TRUE(reader.Mismatches().empty()) << reader.Mismatches().front();
  }

  sim::VirtualClock clock;
  ScriptedReader reader;
  RecordingNotifier notifier;
  sim::MemoryLink* link = nullptr;
  std::unique_ptr<OmrInfo> session;
  std::int64_t clock0 = 0;
};

}  // namespace markwire::test
