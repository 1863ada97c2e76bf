#include "transport/read_com_thread.h"

namespace markwire {

LineStatus LineState::Snapshot() const {
  LineStatus s;
  s.carrierChanges = carrierChanges.load();
  s.rings = rings.load();
  s.frameErrors = frameErrors.load();
  s.parityErrors = parityErrors.load();
  s.overrunErrors = overrunErrors.load();
  s.breaks = breaks.load();
  s.hangUp = hangUp.load();
  return s;
}

void LineState::Reset() {
  lost = false;
  carrierChanges = 0;
  rings = 0;
  frameErrors = 0;
  parityErrors = 0;
  overrunErrors = 0;
  breaks = 0;
  hangUp = false;
}

}  // namespace markwire
