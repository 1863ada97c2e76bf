// The reader's test commands "I 0" to "I 6" and the value blocks they leave
// in the session: the test point, area reads, the value block, the test
// pair, the curve, and the read-outs that copy a block into an
// application's array.
//
// A value block is four ASCII digits giving the number of values N, then N
// bytes, one per value. The read-outs write one int per value (0 to 255); a
// block holds at most 9999 values, so that is the most any read-out writes.
#pragma once

#include <array>
#include <string_view>

namespace markwire {

class OmrInfo;

// The exchange every test command starts with: the echo, then an
// acknowledgement of 0xFC 0xFC (255), a two-digit status (0, code pending),
// or anything else (a positive value other than 255).
int SendTestCommand(OmrInfo& session, std::string_view command);

// "I 0 %03d %02d/": then 0xFF 0xFF (255) or a status (0).
int SetTestPoint(OmrInfo& session, int line, int column);
// "I %d %03d %02d %03d %02d/": side A into the session's A block, and side B
// into its B block when the reader sends more than one side's values.
int ReadTestArea(OmrInfo& session, const std::array<int, 5>& args);
// "I 4/": the value block into the A block.
int ReadTestValues(OmrInfo& session);
// "I 6 %d/": the curve into the A block.
int ReadTestCurve(OmrInfo& session, int number);
// "I 5 %02d %02d/": then 0xFF 0xFF (255), a status (0), anything else (0).
int SendTestPair(OmrInfo& session, int first, int second);
// "I 3/" as the pass of one card: the exchange, then a status (0) or not (255)
// within the final-status time.
int PassCard(OmrInfo& session, std::string_view command);

// The read-outs; `selector`'s low byte is "A" or "B". Each returns the
// block's N, or 0 when there is no block (see the functions for details).
int CopyValueHalves(OmrInfo& session, int selector, int* values);
int CopyBlock(OmrInfo& session, int selector, int* values);

}  // namespace markwire
