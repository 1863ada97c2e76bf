// A script of classic calls, read from fuzz input and made on the library's
// process-wide session exactly as an application makes them: through the C
// interface, one at a time, with every buffer on the heap at the size the
// interface documents, so that AddressSanitizer sees a write one byte past
// it. After each call the script checks the promises the interface makes
// about its results.
//
// A script is a sequence of operations, each an op byte (taken modulo
// Op::kCount) and its fields. Numbers are one byte below 0xE0, one of
// kSpecialNumbers for 0xE0 to 0xEF, and a four-byte int after 0xF0 to 0xFF.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "byte_reader.h"
#include "memory_link.h"
#include "peer.h"
#include "virtual_clock.h"

namespace markwire::fuzz {

enum class Op : std::uint8_t {
  kInit,          // OmrInitDevice: the hand-shake (again)
  kSend,          // OmrS: a Command and its numbers
  kReceive,       // OmrG
  kReadOneCard,   // option, limit
  kPassOneCard,   // line, column
  kSetTest,       // OmrSetTest: line, column
  kGetValue,      // OmrGetValue: selector
  kGetOriOrGray,  // OmrGetOriOrGray: selector
  kGetCurve,      // OmrGetCurve: selector
  kFormat,        // DownLoadFormatFile on a format of FormatLines
  kFormatText,    // DownLoadFormatFile on a format of raw text: length byte, bytes
  kAdjust,        // which (Gray, Card, Mota, Fore, Behind), two numbers
  kBarcodeMode,   // OmrSetBarcodeMode: a number
  kError,         // OmrGetError and OmrGetErrorStr, OmrGetSync
  kCount
};

// The commands kSend sends; "%d" fields take one number each.
enum class Command : std::uint8_t {
  kFeed,         // "R/"
  kRelease,      // "-/"
  kRead,         // "r A %04d %04d/"
  kReadFixed,    // "r/"
  kReadOne,      // "r %d/"
  kDigitRead,    // "%d %04d/"
  kArea,         // "I %d %03d %02d %03d %02d/"
  kValues,       // "I 4/"
  kCurve,        // "I 6 %d/"
  kPair,         // "I 5 %02d %02d/"
  kPass,         // "I 3/"
  kPoint,        // "I 0 %03d %02d/"
  kTest,         // "I %d/"
  kMotor,        // "MO %d/"
  kGray,         // "J %02d %02d/"
  kQuit,         // "Q/"
  kWaveform,     // "PR/"
  kEnd,          // "EN/"
  kOnline,       // "ONLINE/"
  kFormatFile,   // "S missing.fmt/" (no such file)
  kProgramFile,  // "W missing.hex/" (no such file)
  kRaw,          // length byte, then the bytes (they need not hold a "/")
  kCount
};

// The lines of a kFormat format, one command each.
enum class FormatLine : std::uint8_t {
  kSync,            // "L %03d/"
  kAfterFirstByte,  // "T/"
  kField,           // "F %03d %02d %03d %02d %02d 1 ID/"
  kOther,           // "G %d/"
  kBarcode,         // "f %d %03d %03d %02d %02d/"
  kTooLong,         // a command of 123 characters
  kCount
};

inline constexpr std::array<int, 16> kSpecialNumbers = {
    123, 124, 999, 1000, 2000, 2047, 2048, 2049, 9999, 10000, 99999, 100000, -1, -123,
    2147483647, -2147483647 - 1};

int ReadNumber(ByteReader& in);

// The library's session on an in-memory line to `peer`, put in the place the
// C interface uses, for as long as this object lives. The clock and the
// peer must outlive it.
class InstalledSession {
 public:
  InstalledSession(sim::VirtualClock& clock, sim::Peer& peer);
  ~InstalledSession();
  InstalledSession(const InstalledSession&) = delete;
  InstalledSession& operator=(const InstalledSession&) = delete;
  sim::MemoryLink& Link() { return *link_; }

 private:
  sim::MemoryLink* link_;
};

// Message and trace handlers that drop everything: a fuzz run prints only
// what goes wrong.
void QuietHandlers();

class ClassicScript {
 public:
  explicit ClassicScript(sim::MemoryLink& link) : link_(link) {}
  // Sets the barcode mode when one is given (else the library's default
  // stays), hand-shakes, then runs operations until the script ends or
  // maxOps have run.
  void Run(ByteReader& script, unsigned maxOps, int barcodeMode = -1);

 private:
  void Step(ByteReader& in);
  int Send(const std::string& command);
  void SendCommand(ByteReader& in);
  void Receive();
  void ReadOneCardOp(ByteReader& in);
  void Format(ByteReader& in);
  void FormatText(ByteReader& in);
  void ErrorRecord();
  void CheckWrites();
  // What an application must hand OmrG: the documented bound, given what
  // it knows from the calls it made.
  std::size_t BlockBufferSize() const;

  sim::MemoryLink& link_;
  std::size_t writesChecked_ = 0;
  // The application's knowledge: the characters a barcode may put in front
  // of card data (the length of the downloaded barcode line, at most 123),
  // and the limit of the last read command whose block it has not taken.
  int barcodeReserve_ = 0;
  int readLimit_ = -1;  // -1: none known
};

// Writes scripts (for seeds).
class ScriptWriter {
 public:
  ScriptWriter& Number(int v);
  ScriptWriter& Op(fuzz::Op op) { return Byte(static_cast<std::uint8_t>(op)); }
  ScriptWriter& Send(Command command, std::initializer_list<int> numbers = {});
  ScriptWriter& SendRaw(std::string_view text);
  ScriptWriter& Receive() { return Op(Op::kReceive); }
  ScriptWriter& ReadOneCard(int option, int limit) {
    return Op(Op::kReadOneCard).Number(option).Number(limit);
  }
  ScriptWriter& PassOneCard(int line, int column) {
    return Op(Op::kPassOneCard).Number(line).Number(column);
  }
  ScriptWriter& SetTest(int line, int column) { return Op(Op::kSetTest).Number(line).Number(column); }
  ScriptWriter& ReadOut(fuzz::Op op, int selector) { return Op(op).Number(selector); }
  struct Line {
    FormatLine kind;
    std::array<int, 5> numbers{};
  };
  ScriptWriter& Format(const std::vector<Line>& lines);
  ScriptWriter& FormatText(std::string_view text);
  ScriptWriter& Adjust(int which, int a, int b) { return Op(Op::kAdjust).Byte(static_cast<std::uint8_t>(which)).Number(a).Number(b); }
  ScriptWriter& BarcodeMode(int mode) { return Op(Op::kBarcodeMode).Number(mode); }
  ScriptWriter& Error() { return Op(Op::kError); }
  ScriptWriter& Byte(std::uint8_t b) {
    out_.Byte(b);
    return *this;
  }
  const std::vector<std::uint8_t>& Data() const { return out_.Data(); }

 private:
  ByteWriter out_;
};

// How many numbers a format line takes.
int NumbersOf(FormatLine kind);

}  // namespace markwire::fuzz
