// A simulated reader behind the in-memory line, on virtual time, with the
// small helpers its tests share.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "memory_link.h"
#include "reader_machine.h"
#include "virtual_clock.h"

namespace markwire::sim::test_support {

class ReaderLineTest : public ::testing::Test {
 protected:
  void Make(ReaderConfig config = {}, std::vector<Card> cards = {}) {
    link_.reset();
    machine_ = std::make_unique<ReaderMachine>(std::move(config),
                                               std::make_unique<ListCards>(std::move(cards)));
    link_ = std::make_unique<MemoryLink>(clock_, *machine_);
    ASSERT_TRUE(link_->Open("sim", kReaderLine));
  }

  void Write(std::string_view text) {
    link_->Write({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
  }

  // Exactly `count` bytes (or what came before the time-out); the clock then
  // stands at the arrival of the last one.
  std::string Read(std::size_t count, unsigned timeoutMs = 5000) {
    std::string bytes(count, '\0');
    const unsigned n =
        link_->Read({reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()}, timeoutMs);
    bytes.resize(n);
    return bytes;
  }

  // Everything the reader will send, however long it takes.
  std::string Drain() {
    std::string all;
    for (;;) {
      std::string chunk = Read(4096, 60'000);
      if (chunk.empty()) return all;
      all += chunk;
    }
  }

  std::string Exchange(std::string_view command) {
    Write(command);
    return Drain();
  }

  void GoOnline() { ASSERT_EQ(Exchange("ONLINE/"), "ONLINE/EN"); }

  VirtualClock clock_;
  std::unique_ptr<ReaderMachine> machine_;
  std::unique_ptr<MemoryLink> link_;
};

}  // namespace markwire::sim::test_support
