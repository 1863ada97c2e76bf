// The session fed arbitrary reader bytes: the classic calls of a script
// (support/session_script.h) against a reader that answers each write with
// bytes and delays taken from the input (support/reply_peer.h), on virtual
// time.
//
// Input: the script's length (two bytes, little-endian), the script, then
// the reply records.
//
// Barcodes are read in the classic mode until the script asks for another:
// the second decoder searching a waveform of random bytes took 85 % of this
// target's time at sanitizer speed, and the barcode target fuzzes it.
#include <cstddef>
#include <cstdint>

#include "support/reply_peer.h"
#include "support/session_script.h"

using namespace markwire;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::QuietHandlers();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::ByteReader in({data, size});
  fuzz::ByteReader script(in.Bytes(in.U16()));
  fuzz::ByteReader replies(in.Rest());
  sim::VirtualClock clock;
  fuzz::ReplyPeer reader(replies);
  fuzz::InstalledSession session(clock, reader);
  fuzz::ClassicScript(session.Link()).Run(script, 64, 0);
  return 0;
}
