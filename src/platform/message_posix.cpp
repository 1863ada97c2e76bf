#include <cstdio>

#include "platform/notifier.h"

namespace markwire {

void ShowUserMessage(std::string_view utf8) {
  std::fprintf(stderr, "markwire: %.*s\n", static_cast<int>(utf8.size()), utf8.data());
}

}  // namespace markwire
