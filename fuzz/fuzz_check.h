#ifndef VM_FUZZ_FUZZ_CHECK_H_
#define VM_FUZZ_FUZZ_CHECK_H_

#include <cstdio>
#include <cstdlib>

// A failed property in a fuzz target: prints where and aborts, so libFuzzer
// keeps the input as a crash.
#define FUZZ_CHECK(condition)                                               \
  do {                                                                      \
    if (!(condition)) {                                                     \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, \
                   #condition);                                             \
      std::abort();                                                         \
    }                                                                       \
  } while (0)

#endif  // VM_FUZZ_FUZZ_CHECK_H_
