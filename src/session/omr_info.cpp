#include "session/omr_info.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/timings.h"

namespace markwire {

bool IsStatusCode(std::string_view answer) {
  return answer.size() == 2 && answer[0] >= '0' && answer[0] <= '9' && answer[1] >= '0' &&
         answer[1] <= '9';
}

OmrInfo::OmrInfo(std::unique_ptr<PortLink> link, Clock& clock, Notifier& notifier,
                 CommandFamilies& families)
    : port_(std::move(link)),
      receiveBuffer_(std::make_unique<char[]>(kReceiveBufferSize)),
      clock_(clock),
      notifier_(notifier),
      families_(families) {}

OmrInfo::~OmrInfo() {
  Close();
}

void OmrInfo::Close() {
  ClearValueBlocks();
  ClosePort();
  isOpen_ = false;
  port_.reset();
}

void OmrInfo::ClosePort() {
  if (!port_) return;
  // A port whose line-event thread could not be started is shown so when it
  // is closed, as the reader software always showed it.
  const bool threadFailed = port_->LineThreadFailed();
  port_->Close();
  if (threadFailed) notifier_.Message(kThreadFailedMessage);
}

int OmrInfo::Open(const std::string& device) {
  if (!port_) return kFailed;
  // A port whose device was lost is not on line, whatever the flag says: the
  // hand-shake runs again so that an application can recover by re-opening.
  if (isOpen_ && port_->IsValid()) return kDone;
  isOpen_ = false;
  lineBusy_ = false;  // a line opened again starts afresh
  quietMs_ = kTimings.interByteGapMs;
  lastOpenError_.clear();
  if (!port_->Open(device, kReaderLine)) {
    lastOpenError_ = port_->LastError();
    return kFailed;
  }
  // "Q/" takes a reader that is still on line from an earlier session off
  // line; it does not answer it, and whatever it was still sending goes.
  Write("Q/");
  port_->Purge();
  constexpr std::string_view kOnline = "ONLINE/";
  for (unsigned attempt = 0; attempt < kTimings.handshakeAttempts && port_->IsValid(); ++attempt) {
    Write(kOnline);
    if (!ReadEcho(kOnline, kTimings.replyMs)) continue;
    if (ReadAnswer(kTimings.replyMs) == "EN") {
      isOpen_ = true;
      clock_.SleepMs(kTimings.handshakePauseMs);  // the reader gets ready; nothing is sent
      return kDone;
    }
    break;  // an echo with a status: the reader is there but refuses
  }
  lastOpenError_ =
      port_->IsValid() ? "the reader did not answer the hand-shake" : port_->LastError();
  isOpen_ = false;
  ClosePort();
  return kFailed;
}

void OmrInfo::Write(std::string_view bytes) {
  port_->Write({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

bool OmrInfo::ReadEcho(std::string_view expected, unsigned timeoutMs) {
  std::string got(expected.size(), '\0');
  const unsigned n =
      port_->Read({reinterpret_cast<std::uint8_t*>(got.data()), got.size()}, timeoutMs);
  echoGarbled_ = false;
  if (n == expected.size() && got == expected) {
    quietMs_ = kTimings.interByteGapMs;  // the line speaks the protocol again
    return true;
  }
  if (n == 0) {
    port_->Purge();
    return false;
  }
  echoGarbled_ = true;
  SettleLine();
  return false;
}

bool OmrInfo::SettleLine() {
  const std::int64_t until = clock_.NowUs() + std::int64_t{kTimings.settleMaxMs} * 1000;
  std::array<std::uint8_t, 256> scratch{};
  const auto first = std::span(scratch).first(1);
  const auto rest = std::span(scratch).subspan(1);
  bool quiet = false;
  while (port_->IsValid()) {
    const std::int64_t leftUs = until - clock_.NowUs();
    if (leftUs <= 0) break;
    const auto left = static_cast<unsigned>((leftUs + 999) / 1000);
    // One byte first: a read that ends on its time-out drops what it took,
    // so only a read of one byte tells a quiet line from a slow trickle.
    const unsigned wait = std::min(quietMs_, left);
    if (port_->Read(first, wait) == 0) {
      quiet = wait == quietMs_;
      break;
    }
    // The line is busy: take what follows in pieces. A piece cut short means
    // the line has now been quiet for the inter-byte gap, which is enough
    // unless the line has been seen to trickle slower than that.
    const unsigned n = port_->Read(rest, left);
    if (n > 0 && n < rest.size() && quietMs_ <= kTimings.interByteGapMs) {
      quiet = true;
      break;
    }
  }
  port_->Purge();
  lineBusy_ = !quiet;
  // A line that needs settling again before it has spoken the protocol
  // (a right echo) may be trickling bytes slower than the gap, each pause
  // looking like the end: the next settling waits twice as long for quiet.
  quietMs_ = std::min(quietMs_ * 2, kTimings.replyMs);
  return quiet;
}

bool OmrInfo::PurgeLine() {
  if (port_->Purge() == 0 && !lineBusy_) return true;
  return SettleLine();
}

std::string OmrInfo::ReadAnswer(unsigned timeoutMs) {
  std::uint8_t got[2];
  const unsigned n = port_->Read(got, timeoutMs);
  return std::string(reinterpret_cast<const char*>(got), n);
}

bool OmrInfo::PortLost() {
  if (port_ && port_->IsValid()) return false;
  isOpen_ = false;
  return true;
}

int OmrInfo::Refuse() {
  error_.Set("06");
  return kFailed;
}

}  // namespace markwire
