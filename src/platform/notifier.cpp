#include "platform/notifier.h"

#include <cstdio>

namespace markwire {

void ConsoleNotifier::Message(std::string_view utf8) {
  std::fprintf(stderr, "markwire: %.*s\n", static_cast<int>(utf8.size()), utf8.data());
}

void ConsoleNotifier::Trace(std::string_view line) {
  std::fprintf(stdout, "%.*s\n", static_cast<int>(line.size()), line.data());
  std::fflush(stdout);
}

}  // namespace markwire
