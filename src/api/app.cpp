#include "api/app.h"

#include <string>

#include "commands/families.h"
#include "transport/com_port.h"
#include "transport/tracing_link.h"

namespace markwire {

void HandlerNotifier::SetMessageHandler(OmrMessageHandler handler, void* user) {
  messageHandler_ = handler;
  messageUser_ = user;
}

void HandlerNotifier::SetTraceHandler(OmrTraceHandler handler, void* user) {
  traceHandler_ = handler;
  traceUser_ = user;
}

void HandlerNotifier::SetProgressHandler(OmrProgressHandler handler, void* user) {
  progressHandler_ = handler;
  progressUser_ = user;
}

void HandlerNotifier::Progress(unsigned done, unsigned total) {
  if (progressHandler_ != nullptr) progressHandler_(done, total, progressUser_);
}

void HandlerNotifier::Message(std::string_view utf8) {
  if (messageHandler_ == nullptr) {
    if (toConsole_) console_.Message(utf8);
    return;
  }
  const std::string text(utf8);
  messageHandler_(text.c_str(), messageUser_);
}

void HandlerNotifier::Trace(std::string_view line) {
  if (traceHandler_ == nullptr) {
    if (toConsole_) console_.Trace(line);
    return;
  }
  const std::string text(line);
  traceHandler_(text.c_str(), traceUser_);
}

void HandlerNotifier::WireTrace(std::string_view line) {
  if (traceHandler_ == nullptr) return;
  const std::string text(line);
  traceHandler_(text.c_str(), traceUser_);
}

CMarkwireApp::CMarkwireApp() : session_(MakeDefaultSession()) {}

CMarkwireApp::~CMarkwireApp() {
  // Unloading calls no application code: its handlers (and the runtime
  // they live in) may be gone already.
  handlers_.SetMessageHandler(nullptr, nullptr);
  handlers_.SetTraceHandler(nullptr, nullptr);
  handlers_.SetProgressHandler(nullptr, nullptr);
  EndSession();
}

std::unique_ptr<OmrInfo> CMarkwireApp::MakeDefaultSession() {
  auto link = std::make_unique<TracingLink>(std::make_unique<CComPort>(), handlers_, RealClock());
  return std::make_unique<OmrInfo>(std::move(link), RealClock(), handlers_, Families());
}

void CMarkwireApp::EndSession() {
  if (!session_) return;
  if (session_->IsOpen()) session_->SendCommand("Q/");
  session_->Close();
  session_.reset();
}

void CMarkwireApp::ReplaceSession(std::unique_ptr<OmrInfo> next) {
  EndSession();
  session_ = std::move(next);
}

// Constructed when the library is loaded, destroyed when it is unloaded.
CMarkwireApp theApp;

CMarkwireApp& App() {
  return theApp;
}

OmrInfo* OpenSession() {
  OmrInfo* s = theApp.Session();
  return s != nullptr && s->IsOpen() ? s : nullptr;
}

}  // namespace markwire
