// Faults the simulated reader plays on demand, so that tests and operators
// can see how the library copes with a misbehaving reader.
//
// Text syntax (ParseFault, used by the CLI):
//
//   kind[:command][=value][*times]
//
//   kind     one of the names below (case, "-" and "_" do not matter)
//   command  the fault fires on commands whose text, leading spaces removed,
//            starts with this (case-sensitive; "r" and "R" differ). Omitted:
//            every command. It cannot contain "=".
//   value    the kind's parameter, see below
//   times    how often the fault fires; omitted: every time
//
//   name          effect on a matching command                       value
//   wrong-echo    the echo with one byte changed, then nothing       -
//   status        the echo, then `value` instead of "EN"; no data    two characters, required
//                 block and no final status
//   final         the echo and "EN", then `value` as final status    two characters, required
//                 (added to commands that have none); for "I 0",
//                 "I 1", "I 2", "I 3" and "I 5" the acknowledgement,
//                 then `value` in place of 0xFF 0xFF and nothing more
//   silence       nothing at all, not even the echo                  -
//   no-answer     the echo only                                      -
//   slow          the whole reply paced at `value` ms per byte       milliseconds > 0, required
//   truncate      the data block stops after `value` data bytes,     byte count (default: half)
//                 without "EN" (read commands only)
//   garbage       the length field replaced by `value` (read         text (default "12x4")
//                 commands with a length field, the value blocks
//                 of "I 1", "I 2", "I 4" and "I 6", and "PR/")
//   short-block   a value block ("I 1", "I 2", "I 4", "I 6") keeps   value count, required
//                 its length field but sends only the first
//                 `value` values, then its two closing bytes; the
//                 samples of "PR/" likewise, with nothing after them
//   over-area     an area read ("I 1", "I 2") announces and sends    -
//                 both sides and ten values more: 2 x count + 10
//   stop-echo     a program download ("A" command) echoes the first  byte count, required
//                 `value` bytes, then nothing more: no echo and no
//                 confirmation at its end
//   extra         `value` sent after the end of the reply            text, required
//   partial-echo  only the first half of the echo                    -
//   hangup        the device hangs up after the echo; after a read   -
//                 command, in a value block or in the samples of
//                 "PR/", half-way through the data
//
//   A "*times" at the very end is always the count, so a value cannot end
//   in "*" and digits.
//
// Faults apply to the hand-shake too, and to nothing else while the reader
// is off line. During a format download they match the format's commands and
// its closing "EN/" like any other command. The bytes of a program download
// are no commands: faults match its opening "A" command only, and a "slow"
// fault that fires there paces the echoes of the whole download. Of the
// faults that match a command, the first "slow" sets the pace and the first
// of any other kind that fits the command shapes the reply; only those two
// fire and count down. A reply cut short (wrong-echo, status, silence,
// no-answer, partial-echo) leaves the reader's state as it was: no card is
// fed, the reader does not go on or off line, no download starts and a
// format leaves the refused command out. A "final" fault on "R/" or "I 3/"
// moves no card either. After a hang-up the reader starts off line with no
// card and no download, like a device plugged in again.
//
// Examples: "status:R=16", "silence:ONLINE*2" (the first two hand-shake
// attempts go unanswered), "hangup:r", "slow:r=20", "extra=XY",
// "status:L=06" (the format command "L ..." is refused), "short-block:I 4=10",
// "stop-echo=100".
#pragma once

#include <string>
#include <string_view>
#include <variant>

namespace markwire::sim {

struct Fault {
  enum class Kind {
    WrongEcho,
    Status,
    FinalStatus,
    Silence,
    NoAnswer,
    SlowBytes,
    TruncateBlock,
    GarbageLength,
    ExtraBytes,
    PartialEcho,
    HangUp,
    ShortBlock,
    OverArea,
    StopEcho,
  };
  Kind kind = Kind::Silence;
  std::string command;  // prefix of the command text without leading spaces; empty: all
  std::string value;
  int times = -1;  // how many times it fires; -1: always
};

// A fault, or the one-line reason why the text is not one.
using FaultOrError = std::variant<Fault, std::string>;

FaultOrError ParseFault(std::string_view text);

// The text ParseFault reads back into the same fault.
std::string FormatFault(const Fault& fault);

// The kind's name in the text syntax.
std::string_view FaultKindName(Fault::Kind kind);

}  // namespace markwire::sim
