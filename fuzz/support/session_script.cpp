#include "session_script.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "api/app.h"
#include "check.h"
#include "commands/families.h"
#include "markwire.h"
#include "session/omr_info.h"

namespace markwire::fuzz {
namespace {

constexpr std::size_t kErrorCodeBuffer = 3;   // OmrGetError
constexpr std::size_t kErrorTextBuffer = 49;  // OmrGetErrorStr
constexpr std::size_t kBlockChars = 2049;     // OmrG: a block and the byte past its length
constexpr std::size_t kMaxValues = 9999;      // the read-outs
constexpr int kMaxBarcode = 123;
constexpr std::size_t kLongestCommand = 99;

// A buffer of exactly n bytes on the heap, its first byte NUL (an empty
// text, as OmrG wants it when a barcode may come) and the rest not.
std::unique_ptr<char[]> TextBuffer(std::size_t n) {
  std::unique_ptr<char[]> buffer(new char[n]);
  std::memset(buffer.get(), 'X', n);
  buffer[0] = '\0';
  return buffer;
}

std::unique_ptr<int[]> ValueBuffer() {
  std::unique_ptr<int[]> values(new int[kMaxValues]);
  std::fill_n(values.get(), kMaxValues, -7);
  return values;
}

std::string Printf(const char* format, auto... args) {
  char text[256];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

bool InFiveDigits(int v) { return v >= 0 && v <= 99'999; }

// The command as OmrS takes it: up to its first "/" within 99 characters,
// or nothing.
std::optional<std::string> UpToSlash(const std::string& command) {
  const std::size_t end = std::min({command.find('/'), command.find('\0'), kLongestCommand});
  if (end >= command.size() || command[end] != '/' || end >= kLongestCommand) return std::nullopt;
  return command.substr(0, end + 1);
}

// Whether OmrS must refuse the command before it reaches the line: no "/"
// within 99 characters, or a number of more than five digits in a read ("r"
// or a digit first) or "I" command.
bool MustBeRefused(const std::string& command) {
  const auto copy = UpToSlash(command);
  if (!copy) return true;
  const std::size_t first = copy->find_first_not_of(' ');
  const char key = (*copy)[first];
  if (key != 'r' && key != 'I' && (key < '0' || key > '9')) return false;
  std::size_t run = 0;
  for (char c : *copy) {
    run = c >= '0' && c <= '9' ? run + 1 : 0;
    if (run > 5) return true;
  }
  return false;
}

// The read limit an application can count on after sending this read
// command: its second number when it has two plain ones, else none.
int ReadLimitOf(int first, int second) {
  return InFiveDigits(first) && InFiveDigits(second) ? std::min(second, 2048) : -1;
}

// MARKWIRE_FUZZ_TRACE=1 prints every call and its result: for reading what
// a crashing input does.
bool Tracing() {
  static const bool on = std::getenv("MARKWIRE_FUZZ_TRACE") != nullptr;
  return on;
}

void Note(const std::string& call, int result) {
  if (Tracing()) std::fprintf(stderr, "  %s -> %d\n", call.c_str(), result);
}

std::string Shown(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace

int ReadNumber(ByteReader& in) {
  const std::uint8_t b = in.Byte();
  if (b < 0xE0) return b;
  if (b < 0xF0) return kSpecialNumbers[b - 0xE0];
  return in.I32();
}

int NumbersOf(FormatLine kind) {
  switch (kind) {
    case FormatLine::kSync:
    case FormatLine::kOther:
      return 1;
    case FormatLine::kField:
    case FormatLine::kBarcode:
      return 5;
    default:
      return 0;
  }
}

InstalledSession::InstalledSession(sim::VirtualClock& clock, sim::Peer& peer) {
  auto owned = std::make_unique<sim::MemoryLink>(clock, peer);
  link_ = owned.get();
  App().ReplaceSession(std::make_unique<OmrInfo>(std::move(owned), clock, App().Handlers(), Families()));
}

InstalledSession::~InstalledSession() { App().ReplaceSession(nullptr); }

void QuietHandlers() {
  OmrSetMessageHandler([](const char*, void*) {}, nullptr);
  OmrSetTraceHandler([](const char*, void*) {}, nullptr);
}

void ClassicScript::Run(ByteReader& script, unsigned maxOps, int barcodeMode) {
  if (barcodeMode >= 0) OmrSetBarcodeMode(barcodeMode);
  const int opened = OmrInitDevice("mem");
  Note("OmrInitDevice", opened);
  FUZZ_CHECK(opened == 255 || opened == 0, std::to_string(opened));
  CheckWrites();
  for (unsigned i = 0; i < maxOps && !script.Empty(); ++i) {
    Step(script);
    CheckWrites();
  }
}

std::size_t ClassicScript::BlockBufferSize() const {
  // At most 2049 characters and a NUL, or the limit and one more; room for
  // a pending two-digit code in any case; then the barcode.
  const std::size_t chars = readLimit_ >= 0 ? static_cast<std::size_t>(readLimit_) + 1 : kBlockChars;
  return std::max(chars + 1, kErrorCodeBuffer) + static_cast<std::size_t>(barcodeReserve_);
}

void ClassicScript::Step(ByteReader& in) {
  const auto op = static_cast<Op>(in.Byte() % static_cast<unsigned>(Op::kCount));
  switch (op) {
    case Op::kInit: {
      const int r = OmrInitDevice("mem");
      Note("OmrInitDevice", r);
      FUZZ_CHECK(r == 255 || r == 0, std::to_string(r));
      break;
    }
    case Op::kSend:
      SendCommand(in);
      break;
    case Op::kReceive:
      Receive();
      break;
    case Op::kReadOneCard:
      ReadOneCardOp(in);
      break;
    case Op::kPassOneCard: {
      const int line = ReadNumber(in), column = ReadNumber(in);
      const std::size_t size = BlockBufferSize();
      auto data = TextBuffer(size);
      const int r = PassOneCard(line, column, data.get());
      Note(Printf("PassOneCard(%d, %d) [%zu bytes] \"%s\"", line, column, size,
                  Shown(data.get()).c_str()), r);
      FUZZ_CHECK(r >= -1, std::to_string(r));
      FUZZ_CHECK(strnlen(data.get(), size) < size, "no NUL in PassOneCard's data");
      // Whatever it took, the application knows no limit now.
      readLimit_ = -1;
      break;
    }
    case Op::kSetTest: {
      const int line = ReadNumber(in), column = ReadNumber(in);
      const int r = OmrSetTest(line, column);
      Note(Printf("OmrSetTest(%d, %d)", line, column), r);
      FUZZ_CHECK(r >= -1, "OmrSetTest");
      break;
    }
    case Op::kGetValue:
    case Op::kGetOriOrGray:
    case Op::kGetCurve: {
      const int selector = ReadNumber(in);
      auto values = ValueBuffer();
      const int n = op == Op::kGetValue        ? OmrGetValue(selector, values.get())
                    : op == Op::kGetOriOrGray ? OmrGetOriOrGray(selector, values.get())
                                              : OmrGetCurve(selector, values.get());
      Note(Printf("read-out %d (%d)", static_cast<int>(op), selector), n);
      FUZZ_CHECK(n >= -1 && n <= static_cast<int>(kMaxValues), std::to_string(n));
      for (std::size_t i = 0; i < kMaxValues; ++i)
        FUZZ_CHECK(values[i] == -7 || (values[i] >= 0 && values[i] <= 255),
                   "value " + std::to_string(values[i]) + " at " + std::to_string(i));
      break;
    }
    case Op::kFormat:
      Format(in);
      break;
    case Op::kFormatText:
      FormatText(in);
      break;
    case Op::kAdjust: {
      const int which = in.Byte() % 5;
      const int a = ReadNumber(in), b = ReadNumber(in);
      const int r = which == 0   ? AdjustGrayInfo(a, b)
                    : which == 1 ? AdjustCardInfo(a, b)
                    : which == 2 ? AdjustMota(a)
                    : which == 3 ? AdjustForeTime(a)
                                 : AdjustBehindTime(a);
      Note(Printf("Adjust %d (%d, %d)", which, a, b), r);
      FUZZ_CHECK(r >= -1, std::to_string(r));
      break;
    }
    case Op::kBarcodeMode: {
      const int mode = ReadNumber(in);
      const int r = OmrSetBarcodeMode(mode);
      Note(Printf("OmrSetBarcodeMode(%d)", mode), r);
      FUZZ_CHECK(r == (mode >= 0 && mode <= 2 ? 255 : 0), std::to_string(mode));
      break;
    }
    case Op::kError:
      ErrorRecord();
      break;
    case Op::kCount:
      break;
  }
}

int ClassicScript::Send(const std::string& command) {
  const std::size_t writesBefore = link_.Writes().size();
  const int r = OmrS(command.c_str());
  Note("OmrS(\"" + Shown(command) + "\")", r);
  FUZZ_CHECK(r >= -1, std::to_string(r));
  if (MustBeRefused(command) && r != -1) {
    OmrInfo* s = App().Session();
    FUZZ_CHECK(r == 0 && s->Error().Code() == "06" && link_.Writes().size() == writesBefore,
               "\"" + command + "\" went out or was not refused with 06: result " +
                   std::to_string(r) + ", code " + std::string(s->Error().Code()));
  }
  return r;
}

void ClassicScript::SendCommand(ByteReader& in) {
  const auto which = static_cast<Command>(in.Byte() % static_cast<unsigned>(Command::kCount));
  switch (which) {
    case Command::kFeed:
      Send("R/");
      break;
    case Command::kRelease:
      Send("-/");
      break;
    case Command::kRead: {
      const int a = ReadNumber(in), b = ReadNumber(in);
      Send(Printf("r A %04d %04d/", a, b));
      readLimit_ = ReadLimitOf(a, b);
      break;
    }
    case Command::kReadFixed:
      Send("r/");
      readLimit_ = -1;
      break;
    case Command::kReadOne:
      Send(Printf("r %d/", ReadNumber(in)));
      readLimit_ = -1;
      break;
    case Command::kDigitRead: {
      const int a = ReadNumber(in), b = ReadNumber(in);
      Send(Printf("%d %04d/", a, b));
      readLimit_ = ReadLimitOf(a, b);
      break;
    }
    case Command::kArea: {
      int n[5];
      for (int& v : n) v = ReadNumber(in);
      Send(Printf("I %d %03d %02d %03d %02d/", n[0], n[1], n[2], n[3], n[4]));
      // An area test sets a limit of its own for the next block: only the
      // whole block's size is known to the application then.
      readLimit_ = -1;
      break;
    }
    case Command::kValues:
      Send("I 4/");
      break;
    case Command::kCurve:
      Send(Printf("I 6 %d/", ReadNumber(in)));
      break;
    case Command::kPair: {
      const int a = ReadNumber(in), b = ReadNumber(in);
      Send(Printf("I 5 %02d %02d/", a, b));
      break;
    }
    case Command::kPass:
      Send("I 3/");
      break;
    case Command::kPoint: {
      const int a = ReadNumber(in), b = ReadNumber(in);
      Send(Printf("I 0 %03d %02d/", a, b));
      break;
    }
    case Command::kTest:
      Send(Printf("I %d/", ReadNumber(in)));
      break;
    case Command::kMotor:
      Send(Printf("MO %d/", ReadNumber(in)));
      break;
    case Command::kGray: {
      const int a = ReadNumber(in), b = ReadNumber(in);
      Send(Printf("J %02d %02d/", a, b));
      break;
    }
    case Command::kQuit:
      Send("Q/");
      break;
    case Command::kWaveform:
      Send("PR/");
      break;
    case Command::kEnd:
      Send("EN/");
      break;
    case Command::kOnline:
      Send("ONLINE/");
      break;
    case Command::kFormatFile:
      Send("S missing.fmt/");
      break;
    case Command::kProgramFile:
      Send("W missing.hex/");
      break;
    case Command::kRaw:
    case Command::kCount: {
      // Any bytes: a NUL ends the text there, as it would in C.
      Send(in.Text(in.Byte()));
      readLimit_ = -1;  // it may have been a read command
      break;
    }
  }
}

void ClassicScript::Receive() {
  const std::size_t size = BlockBufferSize();
  auto buffer = TextBuffer(size);
  const int r = OmrG(buffer.get());
  Note(Printf("OmrG [%zu bytes] \"%s\"", size, Shown(buffer.get()).c_str()), r);
  FUZZ_CHECK(r >= -1, std::to_string(r));
  FUZZ_CHECK(strnlen(buffer.get(), size) < size, "no NUL in OmrG's buffer");
  readLimit_ = -1;
}

void ClassicScript::ReadOneCardOp(ByteReader& in) {
  const int option = ReadNumber(in), limit = ReadNumber(in);
  readLimit_ = ReadLimitOf(option, limit);
  const std::size_t size = BlockBufferSize();
  auto data = TextBuffer(size);
  const int r = ReadOneCard(option, limit, data.get());
  Note(Printf("ReadOneCard(%d, %d) [%zu bytes] \"%s\"", option, limit, size,
              Shown(data.get()).c_str()), r);
  FUZZ_CHECK(r >= -1, std::to_string(r));
  FUZZ_CHECK(strnlen(data.get(), size) < size, "no NUL in ReadOneCard's data");
  readLimit_ = -1;
}

// A format of generated lines. The application knows what it downloads: the
// barcode length its barcode line gives when that line is the last command
// but "T" and "L", none when another command follows it, and the barcode of
// the format before when it has neither (a format of "L" and "T" only keeps
// it). A download that fails may have left either the old settings or some
// of the new ones.
void ClassicScript::Format(ByteReader& in) {
  const unsigned lines = in.Byte() % 9;
  std::string text;
  int barcode = barcodeReserve_;
  for (unsigned i = 0; i < lines; ++i) {
    const auto kind = static_cast<FormatLine>(in.Byte() % static_cast<unsigned>(FormatLine::kCount));
    std::array<int, 5> n{};
    for (int k = 0; k < NumbersOf(kind); ++k) n[static_cast<std::size_t>(k)] = ReadNumber(in);
    switch (kind) {
      case FormatLine::kSync:
        text += Printf("L %03d/", n[0]);
        break;
      case FormatLine::kAfterFirstByte:
        text += "T/";
        break;
      case FormatLine::kField:
        text += Printf("F %03d %02d %03d %02d %02d 1 ID/", n[0], n[1], n[2], n[3], n[4]);
        barcode = 0;
        break;
      case FormatLine::kOther:
        text += Printf("G %d/", n[0]);
        barcode = 0;
        break;
      case FormatLine::kBarcode:
        text += Printf("f %d %03d %03d %02d %02d/", n[0], n[1], n[2], n[3], n[4]);
        barcode = std::all_of(n.begin(), n.end(), InFiveDigits) ? std::min(n[4], kMaxBarcode)
                                                                : kMaxBarcode;
        break;
      case FormatLine::kTooLong:
      case FormatLine::kCount:
        text += "K " + std::string(120, 'x') + "/";
        barcode = 0;
        break;
    }
    text += "\n";
  }
  text += ";B   ";  // makes the argument a format text
  const int r = DownLoadFormatFile(text.c_str());
  Note("DownLoadFormatFile(\"" + Shown(text) + "\")", r);
  FUZZ_CHECK(r == 255 || r == 0 || r == -1, std::to_string(r));
  barcodeReserve_ = r == 255 ? barcode : std::max(barcodeReserve_, barcode);
}

void ClassicScript::FormatText(ByteReader& in) {
  std::string text = in.Text(in.Byte());
  text += "\n;B   ";
  const int r = DownLoadFormatFile(text.c_str());
  Note("DownLoadFormatFile(\"" + Shown(text) + "\")", r);
  FUZZ_CHECK(r == 255 || r == 0 || r == -1, std::to_string(r));
  // Whatever barcode line it holds, it is at most this long.
  barcodeReserve_ = kMaxBarcode;
}

void ClassicScript::ErrorRecord() {
  std::unique_ptr<char[]> code(new char[kErrorCodeBuffer]);
  std::memset(code.get(), 'X', kErrorCodeBuffer);
  FUZZ_CHECK(OmrGetError(code.get()) == 255, "OmrGetError");
  FUZZ_CHECK(code[0] >= '0' && code[0] <= '9' && code[1] >= '0' && code[1] <= '9' && code[2] == '\0',
             std::string(code.get(), kErrorCodeBuffer));
  std::unique_ptr<char[]> text(new char[kErrorTextBuffer]);
  std::memset(text.get(), 'X', kErrorTextBuffer);
  FUZZ_CHECK(OmrGetErrorStr(text.get()) == 255, "OmrGetErrorStr");
  Note("OmrGetError \"" + std::string(code.get(), 2) + "\", OmrGetErrorStr \"" + text.get() + "\"", 255);
  FUZZ_CHECK(strnlen(text.get(), kErrorTextBuffer) < kErrorTextBuffer, "no NUL in the error text");
  OmrGetSync();
}

// Everything the library writes is a command of at most 99 characters that
// ends with its "/" (a program byte goes as the byte and "/").
void ClassicScript::CheckWrites() {
  const auto writes = link_.Writes();
  for (; writesChecked_ < writes.size(); ++writesChecked_) {
    const std::string& w = writes[writesChecked_];
    FUZZ_CHECK(!w.empty() && w.size() <= kLongestCommand && w.back() == '/', "wrote \"" + w + "\"");
  }
}

ScriptWriter& ScriptWriter::Number(int v) {
  if (v >= 0 && v < 0xE0) return Byte(static_cast<std::uint8_t>(v));
  const auto* special = std::find(kSpecialNumbers.begin(), kSpecialNumbers.end(), v);
  if (special != kSpecialNumbers.end())
    return Byte(static_cast<std::uint8_t>(0xE0 + (special - kSpecialNumbers.begin())));
  Byte(0xF0);
  out_.I32(v);
  return *this;
}

ScriptWriter& ScriptWriter::Send(Command command, std::initializer_list<int> numbers) {
  Op(Op::kSend).Byte(static_cast<std::uint8_t>(command));
  for (int n : numbers) Number(n);
  return *this;
}

ScriptWriter& ScriptWriter::SendRaw(std::string_view text) {
  Op(Op::kSend).Byte(static_cast<std::uint8_t>(Command::kRaw));
  Byte(static_cast<std::uint8_t>(text.size()));
  out_.Text(text);
  return *this;
}

ScriptWriter& ScriptWriter::Format(const std::vector<Line>& lines) {
  Op(Op::kFormat).Byte(static_cast<std::uint8_t>(lines.size()));
  for (const auto& line : lines) {
    Byte(static_cast<std::uint8_t>(line.kind));
    for (int k = 0; k < NumbersOf(line.kind); ++k) Number(line.numbers[static_cast<std::size_t>(k)]);
  }
  return *this;
}

ScriptWriter& ScriptWriter::FormatText(std::string_view text) {
  Op(Op::kFormatText).Byte(static_cast<std::uint8_t>(text.size()));
  out_.Text(text);
  return *this;
}

}  // namespace markwire::fuzz
