// What a fuzz target asserts beyond the sanitizers: a broken promise of the
// library is reported with its place and ends the run, so libFuzzer keeps the
// input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace markwire::fuzz {

[[noreturn]] inline void Broken(const char* what, const std::string& detail, const char* file,
                                int line) {
  std::fprintf(stderr, "\n%s:%d: broken promise: %s%s%s\n", file, line, what,
               detail.empty() ? "" : "\n  ", detail.c_str());
  std::abort();
}

}  // namespace markwire::fuzz

#define FUZZ_CHECK(cond, detail)                                                  \
  do {                                                                            \
    if (!(cond)) ::markwire::fuzz::Broken(#cond, (detail), __FILE__, __LINE__);   \
  } while (false)
