// What every fuzz target of this folder provides, and the check it uses.
//
// Each target is one LLVMFuzzerTestOneInput. The fuzz build links it with
// libFuzzer's main; every other build links it with replay_main.cc, which
// feeds it the checked-in corpus and regression inputs, so a crash once found
// stays a test in every build.
#ifndef RONDEL_FUZZ_FUZZ_TARGET_H_
#define RONDEL_FUZZ_FUZZ_TARGET_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// A property of the code under test that must hold for every input. Stays on
// in release builds (unlike assert): a broken property is a find.
#define FUZZ_CHECK(condition)                                            \
  do {                                                                   \
    if (!(condition)) {                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__,        \
                   __LINE__, #condition);                                \
      std::abort();                                                      \
    }                                                                    \
  } while (0)

#endif  // RONDEL_FUZZ_FUZZ_TARGET_H_
