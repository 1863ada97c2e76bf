// Where the session sends what a user should see (the modal messages of the
// reader software) and what a developer may want to see (trace lines).
#pragma once

#include <string_view>

namespace markwire {

class Notifier {
 public:
  virtual ~Notifier() = default;
  // A message the user must see; texts are UTF-8.
  virtual void Message(std::string_view utf8) = 0;
  // A decoder trace line; without a trace handler it goes to standard output.
  virtual void Trace(std::string_view line) = 0;
  // True while someone listens for wire transfers.
  virtual bool WantsWireTrace() const = 0;
  // One wire transfer line; only called while WantsWireTrace() is true.
  virtual void WireTrace(std::string_view line) = 0;
  // How far a long transfer has got (a program download): `done` of `total`.
  virtual void Progress(unsigned /*done*/, unsigned /*total*/) {}
};

// Shows a message the way the platform shows one: a line on standard error
// on POSIX (the call goes on), a message box on Windows (it waits for OK).
void ShowUserMessage(std::string_view utf8);

// Messages shown by the platform, trace lines to standard output, no wire
// trace.
class ConsoleNotifier final : public Notifier {
 public:
  void Message(std::string_view utf8) override;
  void Trace(std::string_view line) override;
  bool WantsWireTrace() const override { return false; }
  void WireTrace(std::string_view) override {}
};

}  // namespace markwire
