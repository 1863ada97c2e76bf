// The fault syntax the CLI hands to the simulated reader.
#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "fault.h"

namespace markwire::sim {
namespace {

using Kind = Fault::Kind;

Fault Parsed(std::string_view text) {
  FaultOrError result = ParseFault(text);
  if (auto* error = std::get_if<std::string>(&result)) {
    ADD_FAILURE() << "'" << text << "' refused: " << *error;
    return {};
  }
  return std::get<Fault>(result);
}

std::string Refusal(std::string_view text) {
  FaultOrError result = ParseFault(text);
  if (std::holds_alternative<Fault>(result)) {
    ADD_FAILURE() << "'" << text << "' accepted as " << FormatFault(std::get<Fault>(result));
    return {};
  }
  return std::get<std::string>(result);
}

TEST(SimFaultSyntax, ReadsKindCommandValueAndTimes) {
  struct Case {
    const char* text;
    Kind kind;
    const char* command;
    const char* value;
    int times;
  };
  const Case cases[] = {
      {"status:R=16", Kind::Status, "R", "16", -1},
      {"silence:ONLINE*2", Kind::Silence, "ONLINE", "", 2},
      {"hangup:r", Kind::HangUp, "r", "", -1},
      {"slow:r=20", Kind::SlowBytes, "r", "20", -1},
      {"slow=0.5", Kind::SlowBytes, "", "0.5", -1},
      {"final:R=03*1", Kind::FinalStatus, "R", "03", 1},
      {"wrong-echo", Kind::WrongEcho, "", "", -1},
      {"WrongEcho:X", Kind::WrongEcho, "X", "", -1},  // any case
      {"no_answer:r A 0001", Kind::NoAnswer, "r A 0001", "", -1},
      {"noanswer:  Q", Kind::NoAnswer, "Q", "", -1},  // leading spaces never match
      {"truncate:r=7*3", Kind::TruncateBlock, "r", "7", 3},
      {"garbage:r=00x1", Kind::GarbageLength, "r", "00x1", -1},
      {"extra=EN*1", Kind::ExtraBytes, "", "EN", 1},
      {"extra:-=a*b", Kind::ExtraBytes, "-", "a*b", -1},
      {"partial-echo:ONLINE", Kind::PartialEcho, "ONLINE", "", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const Fault fault = Parsed(c.text);
    EXPECT_EQ(fault.kind, c.kind);
    EXPECT_EQ(fault.command, c.command);
    EXPECT_EQ(fault.value, c.value);
    EXPECT_EQ(fault.times, c.times);
    // What FormatFault writes reads back as the same fault.
    const Fault again = Parsed(FormatFault(fault));
    EXPECT_EQ(again.kind, fault.kind);
    EXPECT_EQ(again.command, fault.command);
    EXPECT_EQ(again.value, fault.value);
    EXPECT_EQ(again.times, fault.times);
  }
}

TEST(SimFaultSyntax, RefusesWithAReason) {
  EXPECT_NE(Refusal("").find("unknown fault"), std::string::npos);
  EXPECT_NE(Refusal("explode:R").find("known: wrong-echo"), std::string::npos);
  EXPECT_NE(Refusal("status:R").find("needs '=value'"), std::string::npos);
  EXPECT_NE(Refusal("status:R=1").find("two-character"), std::string::npos);
  EXPECT_NE(Refusal("final=123").find("two-character"), std::string::npos);
  EXPECT_NE(Refusal("silence=3").find("takes no value"), std::string::npos);
  EXPECT_NE(Refusal("hangup:r=").find("takes no value"), std::string::npos);
  EXPECT_NE(Refusal("extra:r=").find("empty value"), std::string::npos);
  EXPECT_NE(Refusal("slow:r=0").find("milliseconds"), std::string::npos);
  EXPECT_NE(Refusal("slow:r=fast").find("milliseconds"), std::string::npos);
  EXPECT_NE(Refusal("slow:r=-3").find("milliseconds"), std::string::npos);
  EXPECT_NE(Refusal("truncate:r=x").find("byte count"), std::string::npos);
  EXPECT_NE(Refusal("silence*0").find("from 1"), std::string::npos);
  EXPECT_NE(Refusal("silence*99999999999").find("from 1"), std::string::npos);
}

}  // namespace
}  // namespace markwire::sim
