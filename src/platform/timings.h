// The one table of protocol timings. Every wait of the reader protocol reads
// its length here; nothing else in the library sleeps or times out on a
// number of its own.
#pragma once

namespace markwire {

struct ProtocolTimings {
  // Each awaited piece of a reply: an echo, a two-byte answer, a length field,
  // a data block, an end mark.
  unsigned replyMs = 1000;
  // The acknowledgement of some test commands.
  unsigned slowReplyMs = 2000;
  // The final status that most commands may send after their answer.
  unsigned finalStatusMs = 3000;
  // The reader's "EN" at the end of a program download.
  unsigned programEndMs = 6000;
  // The values of a test read-out.
  unsigned testValuesMs = 20000;
  // Nothing may be sent to the reader this long after a good hand-shake.
  unsigned handshakePauseMs = 2500;
  // The pause between the exchange of "R/" and its final status.
  unsigned readPauseMs = 50;
  // A read ends early when this much time passes between two bytes.
  unsigned interByteGapMs = 100;
  // Our own bound, not the reader's: after anything unexpected on the line (a
  // wrong echo, bytes where none were due) the session waits for the line to
  // stay quiet for the inter-byte gap before it purges, so that the rest of a
  // late reply cannot become the next command's answer; a line that never
  // falls quiet is purged after this long.
  unsigned settleMaxMs = 3000;
  // "ONLINE/" is tried this many times.
  unsigned handshakeAttempts = 5;
  // Our own bound, not the reader's: a write that makes no progress for this
  // long (a line held by flow control, a wedged driver) gives up with the
  // bytes written so far instead of hanging the caller.
  unsigned writeStallMs = 5000;
  // Our own bound: how long a close waits for queued output to leave.
  unsigned closeDrainMaxMs = 2000;
  // Our own choice: how often the line-event thread samples the carrier, ring
  // and error counters of drivers that keep them. The kernel offers no wait
  // for them that a stop signal could interrupt, so they are polled.
  unsigned lineStatusPollMs = 200;
};

inline constexpr ProtocolTimings kTimings{};

}  // namespace markwire
