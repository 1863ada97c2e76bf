// What the port wrapper does the same on every platform: starting and
// stopping its line-event thread, closing, and recording the loss of the
// device.
#include <system_error>

#include "transport/com_port.h"

namespace markwire {

CComPort::CComPort() = default;

CComPort::~CComPort() { Close(); }

void CComPort::StartLineEventThread() {
  lineEventThread_ = std::make_unique<CReadComThread>(serial_->Handle(), state_);
  try {
    lineEventThread_->Start();
  } catch (const std::system_error&) {
    // The port is usable without the thread; the failure is reported at
    // Close, where the session has always shown it.
    lineEventThread_.reset();
    threadCreateFailed_ = true;
  }
}

void CComPort::Close() {
  if (serial_ == nullptr) return;
  if (!state_.lost) DrainOutput();
  if (lineEventThread_ != nullptr) {
    lineEventThread_->Stop();
    lineEventThread_.reset();
  } else if (threadCreateFailed_) {
    lastError_ = "CreateThread failed.";
  }
  serial_->Close();
  serial_.reset();
}

std::string CComPort::LastError() const {
  if (!lastError_.empty()) return lastError_;
  // The line-event thread noticed the hang-up; it leaves the wording to us.
  if (state_.hangUp) return device_ + ": device lost (hang-up)";
  return {};
}

void CComPort::MarkLost(std::string_view cause) const {
  state_.lost = true;
  lastError_ = device_ + ": device lost (" + std::string(cause) + ")";
}

}  // namespace markwire
