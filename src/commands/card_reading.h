// One card with one call, on a session: what ReadOneCard and PassOneCard
// do, for the default session and for every reader handle alike.
#pragma once

namespace markwire {

class OmrInfo;

// Feeds a card, reads its block (with the barcode when the format has one)
// into `data` and closes the card with "-/": the block's count, 0 when the
// read failed (its code pending), -1 when the session is not open.
int ReadCard(OmrInfo& session, int option, int limit, char* data);
// Passes a card through the test read-out at the test point.
int PassCardAt(OmrInfo& session, int line, int column, char* data);

// The reader's adjustments: each one command.
int AdjustGray(OmrInfo& session, int first, int second);
int AdjustCard(OmrInfo& session, int first, int second);
int AdjustMotor(OmrInfo& session, int value);
int AdjustFore(OmrInfo& session, int value);
int AdjustBehind(OmrInfo& session, int value);

}  // namespace markwire
