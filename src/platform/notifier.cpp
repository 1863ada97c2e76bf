#include "platform/notifier.h"

#include <cstdio>

namespace markwire {

void ConsoleNotifier::Message(std::string_view utf8) { ShowUserMessage(utf8); }

void ConsoleNotifier::Trace(std::string_view line) {
  std::fprintf(stdout, "%.*s\n", static_cast<int>(line.size()), line.data());
  std::fflush(stdout);
}

}  // namespace markwire
