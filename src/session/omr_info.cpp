#include "session/omr_info.h"

#include <cstring>

#include "platform/timings.h"

namespace markwire {

bool IsStatusCode(std::string_view answer) {
  return answer.size() == 2 && answer[0] >= '0' && answer[0] <= '9' && answer[1] >= '0' &&
         answer[1] <= '9';
}

OmrInfo::OmrInfo(std::unique_ptr<PortLink> link, Clock& clock, Notifier& notifier)
    : port(std::move(link)),
      receiveBuffer(std::make_unique<char[]>(kReceiveBufferSize)),
      clock_(clock),
      notifier_(notifier) {}

OmrInfo::~OmrInfo() {
  Close();
}

void OmrInfo::Close() {
  auxBuffer1.reset();
  auxBuffer2.reset();
  ClosePort();
  isOpen = false;
  port.reset();
}

void OmrInfo::ClosePort() {
  if (!port) return;
  port->Close();
  // A port whose line-event thread could not be started says so when it is
  // closed; the user sees it as the reader software always showed it.
  if (port->LastError() == kThreadFailedMessage) notifier_.Message(kThreadFailedMessage);
}

int OmrInfo::Open(const std::string& device) {
  if (!port) return kFailed;
  // A port whose device was lost is not on line, whatever the flag says: the
  // hand-shake runs again so that an application can recover by re-opening.
  if (isOpen && port->IsValid()) return kDone;
  isOpen = false;
  lastOpenError_.clear();
  if (!port->Open(device, kReaderLine)) {
    lastOpenError_ = port->LastError();
    return kFailed;
  }
  // "Q/" takes a reader that is still on line from an earlier session off
  // line; it does not answer it, and whatever it was still sending goes.
  Write("Q/");
  port->Purge();
  constexpr std::string_view kOnline = "ONLINE/";
  for (unsigned attempt = 0; attempt < kTimings.handshakeAttempts && port->IsValid(); ++attempt) {
    Write(kOnline);
    if (!ReadExpected(kOnline, kTimings.replyMs)) {
      port->Purge();
      continue;
    }
    if (ReadAnswer(kTimings.replyMs) == "EN") {
      isOpen = true;
      clock_.SleepMs(kTimings.handshakePauseMs);  // the reader gets ready; nothing is sent
      return kDone;
    }
    break;  // an echo with a status: the reader is there but refuses
  }
  lastOpenError_ = port->IsValid() ? "the reader did not answer the hand-shake" : port->LastError();
  isOpen = false;
  ClosePort();
  return kFailed;
}

void OmrInfo::Write(std::string_view bytes) {
  port->Write({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

bool OmrInfo::ReadExpected(std::string_view expected, unsigned timeoutMs) {
  std::vector<std::uint8_t> got(expected.size());
  const unsigned n = port->Read(got, timeoutMs);
  return n == expected.size() && std::memcmp(got.data(), expected.data(), n) == 0;
}

std::string OmrInfo::ReadAnswer(unsigned timeoutMs) {
  std::uint8_t got[2];
  const unsigned n = port->Read(got, timeoutMs);
  return std::string(reinterpret_cast<const char*>(got), n);
}

int OmrInfo::Refuse() {
  error.Set("06");
  return kFailed;
}

}  // namespace markwire
