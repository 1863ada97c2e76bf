#include "commands/program_download.h"

#include <vector>

#include "platform/file.h"
#include "platform/timings.h"
#include "session/omr_info.h"

namespace markwire {
namespace {

// Progress is reported when it has moved by at least 1 % and at the end.
class ProgressReporter {
 public:
  ProgressReporter(Notifier& notifier, std::uint64_t total) : notifier_(notifier), total_(total) {}
  void Advance(std::uint64_t done) {
    if (done != total_ && (done - reported_) * 100 < total_) return;
    Report(done);
  }
  // The end is always reported, even for an empty file or one whose size
  // changed while it was sent.
  void Finish(std::uint64_t done) {
    if (reported_ != done || done == 0) Report(done);
  }

 private:
  static unsigned Clamp(std::uint64_t v) {
    return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<unsigned>(v);
  }
  Notifier& notifier_;
  std::uint64_t total_;
  std::uint64_t reported_ = 0;

  void Report(std::uint64_t done) {
    reported_ = done;
    if (done > total_) total_ = done;
    notifier_.Progress(Clamp(done), Clamp(total_));
  }
};

// One file byte: the byte and "/" out, the same two back. The reader's echo
// is compared as text, so after a zero byte only the echoed zero counts.
bool SendByte(OmrInfo& s, std::uint8_t byte) {
  const std::uint8_t out[2] = {byte, '/'};
  s.Port()->Write(out);
  std::uint8_t echo[2] = {};
  const unsigned got = s.Port()->Read(echo, kTimings.replyMs);
  if (got == 0 || echo[0] != byte) return false;
  return byte == 0 || (got == 2 && echo[1] == '/');
}

}  // namespace

std::string ProgramFileName(std::string_view command) {
  std::string name;
  for (char c : command.substr(0, command.find('/')))
    if (c != 'W' && c != ' ' && c != '/') name += c;
  return name;
}

int SendProgramFile(OmrInfo& s, const std::string& path) {
  if (s.PortLost()) return OmrInfo::kNotOpen;
  // Straight to the line: the error record is not touched by a program
  // download, and the reader's echo of this command is not compared.
  s.Write("A a.hex/");
  std::uint8_t echo[8];
  s.Port()->Read(echo, kTimings.replyMs);
  if (s.ReadAnswer(kTimings.replyMs) != "RD") return OmrInfo::kFailed;

  // The file is streamed in pieces rather than read whole: its size is then
  // bounded by the disk, not by memory.
  FileReader file;
  if (!file.Open(path, nullptr)) return OmrInfo::kFailed;
  ProgressReporter progress(s.notifier(), file.Size());
  std::vector<std::uint8_t> piece(64 * 1024);
  std::uint64_t done = 0;
  for (std::size_t n; (n = file.Read(piece)) > 0;) {
    for (std::size_t i = 0; i < n; ++i) {
      if (!SendByte(s, piece[i])) return OmrInfo::kFailed;
      progress.Advance(++done);
    }
  }
  if (file.Failed()) return OmrInfo::kFailed;
  progress.Finish(done);

  std::uint8_t end[3] = {};
  const unsigned got = s.Port()->Read(end, kTimings.programEndMs);
  return got >= 2 && end[0] == 'E' && end[1] == 'N' ? OmrInfo::kDone : OmrInfo::kFailed;
}

}  // namespace markwire
