#include "fault.h"

#include <array>
#include <charconv>
#include <cstdlib>
#include <optional>

namespace markwire::sim {

namespace {

using Kind = Fault::Kind;

struct KindInfo {
  Kind kind;
  std::string_view name;
  enum class Value { None, Required, Optional } value;
};

constexpr std::array<KindInfo, 14> kKinds{{
    {Kind::WrongEcho, "wrong-echo", KindInfo::Value::None},
    {Kind::Status, "status", KindInfo::Value::Required},
    {Kind::FinalStatus, "final", KindInfo::Value::Required},
    {Kind::Silence, "silence", KindInfo::Value::None},
    {Kind::NoAnswer, "no-answer", KindInfo::Value::None},
    {Kind::SlowBytes, "slow", KindInfo::Value::Required},
    {Kind::TruncateBlock, "truncate", KindInfo::Value::Optional},
    {Kind::GarbageLength, "garbage", KindInfo::Value::Optional},
    {Kind::ExtraBytes, "extra", KindInfo::Value::Required},
    {Kind::PartialEcho, "partial-echo", KindInfo::Value::None},
    {Kind::HangUp, "hangup", KindInfo::Value::None},
    {Kind::ShortBlock, "short-block", KindInfo::Value::Required},
    {Kind::OverArea, "over-area", KindInfo::Value::None},
    {Kind::StopEcho, "stop-echo", KindInfo::Value::Required},
}};

// "no-answer", "No_Answer" and "noanswer" all name the same kind.
std::string Squeezed(std::string_view name) {
  std::string out;
  for (char c : name)
    if (c != '-' && c != '_')
      out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  return out;
}

const KindInfo* FindKind(std::string_view name) {
  const std::string wanted = Squeezed(name);
  for (const auto& info : kKinds)
    if (Squeezed(info.name) == wanted) return &info;
  return nullptr;
}

const KindInfo& InfoOf(Kind kind) {
  for (const auto& info : kKinds)
    if (info.kind == kind) return info;
  return kKinds[0];
}

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

std::string KindList() {
  std::string list;
  for (const auto& info : kKinds) {
    if (!list.empty()) list += ", ";
    list += info.name;
  }
  return list;
}

// Checks the value against what the kind needs; an empty result means good.
std::string CheckValue(const KindInfo& info, const std::optional<std::string_view>& value) {
  const std::string name(info.name);
  if (!value) {
    return info.value == KindInfo::Value::Required ? "fault '" + name + "' needs '=value'" : "";
  }
  if (info.value == KindInfo::Value::None) return "fault '" + name + "' takes no value";
  if (value->empty()) return "fault '" + name + "' has an empty value";
  switch (info.kind) {
    case Kind::Status:
    case Kind::FinalStatus:
      if (value->size() != 2) return "fault '" + name + "' needs a two-character answer";
      return "";
    case Kind::SlowBytes: {
      const std::string text(*value);
      char* end = nullptr;
      const double ms = std::strtod(text.c_str(), &end);
      if (end != text.c_str() + text.size() || !(ms > 0) || ms > 10000)
        return "fault 'slow' needs milliseconds per byte, above 0 and at most 10000";
      return "";
    }
    case Kind::TruncateBlock:
    case Kind::ShortBlock:
    case Kind::StopEcho:
      if (!AllDigits(*value) || value->size() > 6)
        return "fault '" + name + "' needs a count (at most six digits)";
      return "";
    default:
      return "";
  }
}

}  // namespace

std::string_view FaultKindName(Kind kind) {
  return InfoOf(kind).name;
}

FaultOrError ParseFault(std::string_view text) {
  Fault fault;
  const auto star = text.rfind('*');
  if (star != std::string_view::npos && AllDigits(text.substr(star + 1))) {
    const std::string_view digits = text.substr(star + 1);
    int times = 0;
    const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), times);
    if (ec != std::errc{} || ptr != digits.data() + digits.size() || times < 1)
      return std::string("fault repeat count '*") + std::string(digits) +
             "' must be a whole number from 1";
    fault.times = times;
    text = text.substr(0, star);
  }
  const auto kindEnd = text.find_first_of(":=");
  const std::string_view name = text.substr(0, kindEnd);
  const KindInfo* info = FindKind(name);
  if (info == nullptr) {
    return "unknown fault '" + std::string(name) + "' (known: " + KindList() + ")";
  }
  fault.kind = info->kind;
  std::optional<std::string_view> value;
  if (kindEnd != std::string_view::npos) {
    std::string_view rest = text.substr(kindEnd);
    if (rest.front() == ':') {
      const auto eq = rest.find('=');
      fault.command = std::string(rest.substr(1, eq == std::string_view::npos ? eq : eq - 1));
      rest = eq == std::string_view::npos ? std::string_view{} : rest.substr(eq);
      // A command is matched without its leading spaces, so a fault text with them
      // would never fire.
      const auto first = fault.command.find_first_not_of(' ');
      fault.command.erase(0, first == std::string::npos ? fault.command.size() : first);
    }
    if (!rest.empty()) value = rest.substr(1);
  }
  if (std::string problem = CheckValue(*info, value); !problem.empty()) return problem;
  if (value) fault.value = std::string(*value);
  return fault;
}

std::string FormatFault(const Fault& fault) {
  // Each piece is appended to the one string in turn: no temporaries built
  // by prefixing a literal to another string.
  std::string text(FaultKindName(fault.kind));
  if (!fault.command.empty()) text.append(1, ':').append(fault.command);
  if (!fault.value.empty()) text.append(1, '=').append(fault.value);
  if (fault.times >= 0) text.append(1, '*').append(std::to_string(fault.times));
  return text;
}

}  // namespace markwire::sim
