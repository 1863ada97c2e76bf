#include "commands/format_download.h"

#include <cstdio>
#include <optional>

#include "commands/format_text.h"
#include "platform/file.h"
#include "platform/timings.h"
#include "session/command_text.h"
#include "session/omr_info.h"

namespace markwire {
namespace {

enum class Form { File, Text };

// The minimum length of an "F" command the reader takes; shorter ones are
// left out of the download with the rest of their line.
constexpr std::size_t kShortestFieldCommand = 21;

// The "F" command's four counts at their fixed positions; none may be 0.
bool FieldCountsValid(std::string_view command) {
  constexpr std::pair<std::size_t, std::size_t> kFields[] = {{2, 3}, {6, 2}, {13, 2}, {16, 2}};
  for (const auto& [at, length] : kFields)
    if (AtoiField(command.substr(at, length)) < 1) return false;
  return true;
}

// The barcode line with its second and third numbers in rising order, at the
// widths the reader expects.
std::string RewrittenBarcodeLine(const std::array<int, 5>& p) {
  char text[80];
  std::snprintf(text, sizeof text, "f %d %03d %03d %02d %02d/", p[0], p[2], p[1], p[3], p[4]);
  return text;
}

// "EN/" closes the download: its echo, then the reader's "EN".
int EndExchange(OmrInfo& s) {
  s.Write("EN/");
  if (!s.ReadEcho("EN/", kTimings.replyMs)) return OmrInfo::kFailed;
  return s.ReadAnswer(kTimings.replyMs) == "EN" ? OmrInfo::kDone : OmrInfo::kFailed;
}

int Download(OmrInfo& s, Form form, std::string_view source) {
  if (s.PortLost()) return OmrInfo::kNotOpen;
  // The card's barcode settings change as the commands that carry them go
  // out; each change is in the session at once, whatever ends the download.
  OmrInfo::CardBarcode card = s.Barcode();
  card.afterFirstByte = false;
  s.SetBarcode(card);
  const int opened = s.ExchangeCommand("S a.txt/");
  if (opened <= 0) return opened;

  std::string fileText;
  std::string_view text = source;
  if (form == Form::File) {
    std::string reason;
    auto read = ReadWholeFile(std::string(source), kMaxFormatFile, &reason);
    if (!read) {
      s.notifier().Message("无法打开格式文件:" + std::string(source));
      return OmrInfo::kFailed;
    }
    fileText = std::move(*read);
    text = fileText;
  }

  FormatWalker walker(text);
  while (auto next = walker.Next()) {
    std::string command = std::move(next->text);
    bool refused = next->tooLong;  // does not fit the reader's command buffer
    if (!refused) {
      switch (command[0]) {
        case 'T':
          card.afterFirstByte = true;
          break;
        case 'L':
          s.SetSyncCount(AtoiField(std::string_view(command).substr(2, 3)));
          break;
        case 'f':
          card.enabled = true;
          // A number too long ends the extraction; the fields after it keep
          // what they held.
          ExtractNumbers(command, card.line, 5);
          if (card.line[1] >= card.line[2]) command = RewrittenBarcodeLine(card.line);
          break;
        case 'F':
          if (form == Form::File) {
            if (command.size() < kShortestFieldCommand) {
              walker.SkipRestOfLine();
              continue;
            }
            if (!FieldCountsValid(command)) {
              s.notifier().Message("命令:\"" + command + "\"错,数据参数不可为0");
              return EndExchange(s);
            }
            break;
          }
          [[fallthrough]];
        default:
          card.enabled = false;
          break;
      }
      s.SetBarcode(card);
      refused = s.ExchangeCommand(command) < 1;
    }
    if (refused) {
      card.enabled = false;
      s.SetBarcode(card);
      s.notifier().Message("格式命令: \"" + command + "\" 定义错误或装载失败!");
      if (s.Port()) s.PurgeLine();
      s.Error().Reset();  // the message is the report; the reader's code is not kept
      if (form == Form::Text) return OmrInfo::kFailed;
      return EndExchange(s);
    }
  }
  return EndExchange(s);
}

// What the download left in the session, for whoever traces it (the CLI
// prints it): the settings are otherwise only visible in how cards read.
int Summarize(OmrInfo& s, int result) {
  if (!s.notifier().WantsWireTrace()) return result;
  const OmrInfo::CardBarcode& card = s.Barcode();
  const auto& p = card.line;
  char line[160];
  std::snprintf(
      line, sizeof line,
      "format: result %d, sync %d, barcode %s, after first byte %s, barcode line %d %d %d "
      "%d %d",
      result, s.SyncCount(), card.enabled ? "on" : "off", card.afterFirstByte ? "yes" : "no", p[0],
      p[1], p[2], p[3], p[4]);
  s.notifier().WireTrace(line);
  return result;
}

}  // namespace

int SendFormatFile(OmrInfo& session, const std::string& path) {
  return Summarize(session, Download(session, Form::File, path));
}

int SendFormatText(OmrInfo& session, std::string_view text) {
  return Summarize(session, Download(session, Form::Text, text));
}

// An argument of fewer than four characters has no fourth character from the
// end; it is taken as a path.
bool IsFormatText(std::string_view argument) {
  return argument.size() >= 4 && argument[argument.size() - 4] == 'B';
}

}  // namespace markwire
