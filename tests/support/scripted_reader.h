// A reader whose every answer the test writes down: each command it receives
// (bytes up to "/") takes the next step of the script, which says what comes
// back and when. Steps whose command does not match are recorded as
// mismatches for the test to assert on.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "peer.h"

namespace markwire::test {

class ScriptedReader final : public sim::Peer {
 public:
  struct Reply {
    std::int64_t afterMs;  // after the command arrived
    std::string bytes;
    bool hangUp = false;
  };
  class Step {
   public:
    // `bytes` arrive afterMs after the command (after the previous reply when
    // the line is still busy).
    Step& Reply(std::int64_t afterMs, std::string bytes) {
      replies.push_back({afterMs, std::move(bytes)});
      return *this;
    }
    // The echo and the answer at once.
    Step& Answer(const std::string& answer) { return Reply(0, command + answer); }
    Step& HangUp(std::int64_t afterMs) {
      replies.push_back({afterMs, {}, true});
      return *this;
    }
    std::string command;
    std::vector<ScriptedReader::Reply> replies;
  };

  // The next command must be `command`; returns its step to add replies.
  Step& Expect(std::string command) {
    steps_.push_back(Step{});
    steps_.back().command = std::move(command);
    return steps_.back();
  }

  void OnReceive(std::span<const std::uint8_t> bytes, std::int64_t nowUs,
                 sim::PeerOutput& out) override {
    for (std::uint8_t b : bytes) {
      partial_ += static_cast<char>(b);
      if (b != '/') continue;
      received_.push_back(partial_);
      if (steps_.empty()) {
        unexpected_.push_back(partial_);
      } else {
        Step step = std::move(steps_.front());
        steps_.pop_front();
        if (step.command != partial_) mismatches_.push_back(step.command + " != " + partial_);
        for (const auto& r : step.replies) {
          if (r.hangUp) {
            out.HangUp(nowUs + r.afterMs * 1000);
          } else {
            out.Send(nowUs + r.afterMs * 1000, r.bytes);
          }
        }
      }
      partial_.clear();
    }
  }

  const std::vector<std::string>& Received() const { return received_; }
  const std::vector<std::string>& Mismatches() const { return mismatches_; }
  const std::vector<std::string>& Unexpected() const { return unexpected_; }
  std::size_t StepsLeft() const { return steps_.size(); }

 private:
  std::deque<Step> steps_;
  std::string partial_;
  std::vector<std::string> received_;
  std::vector<std::string> mismatches_;
  std::vector<std::string> unexpected_;
};

}  // namespace markwire::test
