// The library's frame: the one process-wide session of the classic
// interface, created when the library is loaded and destroyed when it is
// unloaded, and the handlers the extensions install. Everything below this
// layer is plain objects; only here is there process-wide state.
#pragma once

#include <memory>

#include "markwire.h"
#include "platform/notifier.h"
#include "session/omr_info.h"

namespace markwire {

// Dispatches messages and trace lines to the handlers an application set,
// with the console as the default.
class HandlerNotifier final : public Notifier {
 public:
  // `console`: without a handler, messages and trace lines go to the
  // console (the classic session); else nowhere (a reader handle).
  explicit HandlerNotifier(bool console = true) : toConsole_(console) {}
  void SetMessageHandler(OmrMessageHandler handler, void* user);
  void SetTraceHandler(OmrTraceHandler handler, void* user);
  void SetProgressHandler(OmrProgressHandler handler, void* user);

  void Message(std::string_view utf8) override;
  void Trace(std::string_view line) override;
  bool WantsWireTrace() const override { return traceHandler_ != nullptr; }
  void WireTrace(std::string_view line) override;
  void Progress(unsigned done, unsigned total) override;

 private:
  ConsoleNotifier console_;
  bool toConsole_;
  OmrMessageHandler messageHandler_ = nullptr;
  void* messageUser_ = nullptr;
  OmrTraceHandler traceHandler_ = nullptr;
  void* traceUser_ = nullptr;
  OmrProgressHandler progressHandler_ = nullptr;
  void* progressUser_ = nullptr;
};

class CMarkwireApp {
 public:
  CMarkwireApp();   // loading: the session exists, closed
  ~CMarkwireApp();  // unloading: "Q/" to an open reader, then close

  CMarkwireApp(const CMarkwireApp&) = delete;
  CMarkwireApp& operator=(const CMarkwireApp&) = delete;

  OmrInfo* Session() { return session_.get(); }
  HandlerNotifier& Handlers() { return handlers_; }

  // Ends the current session as an unload would and starts `next` (closed).
  // The library itself only starts the default session; tests put a session
  // on an in-memory reader here.
  void ReplaceSession(std::unique_ptr<OmrInfo> next);
  // A session on the platform's serial ports, closed.
  std::unique_ptr<OmrInfo> MakeDefaultSession();

 private:
  void EndSession();

  HandlerNotifier handlers_;
  std::unique_ptr<OmrInfo> session_;
};

CMarkwireApp& App();

// The guard of every export that talks to the reader: the session, when it
// exists and is open.
OmrInfo* OpenSession();

}  // namespace markwire
