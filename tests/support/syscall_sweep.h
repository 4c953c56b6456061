// Fails every system call of an operation in turn (the platform layer's table,
// platform/syscall_test_hooks.h):
//
//   long points = SweepFailures(
//       [&] { /* put the previous state in place */ },
//       [&] { return store.SaveAllTables(); },
//       [&](long nth, bool answer) { /* the state must be intact */ });
//
// For n = 1, 2, ... it prepares, plans the nth call (of any name, or of
// `call`) to fail with `error`, runs the operation, lifts the plan and hands
// the answer to `check`; it stops after the first run that ended without
// reaching its nth call, and returns the number of failure points swept.
#ifndef RONDEL_TESTS_SUPPORT_SYSCALL_SWEEP_H_
#define RONDEL_TESTS_SUPPORT_SYSCALL_SWEEP_H_

#include <errno.h>
#include <gtest/gtest.h>

#include <functional>

#include "platform/syscall_test_hooks.h"

namespace rondel {
namespace testing {

inline long SweepFailures(const std::function<void()>& prepare,
                          const std::function<bool()>& operation,
                          const std::function<void(long, bool)>& check,
                          int error = EIO,
                          const char* call = platform::kAnySyscall) {
  constexpr long kMostPoints = 100000;  // a loop that never ends is a failure
  for (long nth = 1; nth <= kMostPoints; ++nth) {
    prepare();
    if (!platform::FailSyscallAt(call, nth, error)) {
      ADD_FAILURE() << "no system call named " << call;
      return 0;
    }
    const bool answer = operation();
    const bool reached = platform::CountSyscalls(call) >= nth;
    platform::FailSyscallAt(call, 0, 0);  // nothing more fails
    SCOPED_TRACE(::testing::Message() << "call " << nth << " failed");
    check(nth, answer);
    if (!reached) return nth - 1;
  }
  ADD_FAILURE() << "the operation never ended without a failure";
  return kMostPoints;
}

}  // namespace testing
}  // namespace rondel

#endif  // RONDEL_TESTS_SUPPORT_SYSCALL_SWEEP_H_
