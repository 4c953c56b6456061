// Test hooks for the system-call table of platform/syscall.h. Only tests
// include this header; the library never calls these functions itself.
//
// Calls are named as in syscall_list.h ("open", "write", "renameat2", ...);
// "any" stands for every call of the table, counted together.
//
//   ResetSyscalls();
//   FailSyscallAt("any", 7, EIO);   // the 7th call from now fails with EIO
//   bool saved = store.SaveAllTables();
//   bool reached = CountSyscalls("any") >= 7;
//
// Not for use while other threads make calls through the table that the test
// does not expect: counts and planned failures are process-wide.
#ifndef RONDEL_PLATFORM_SYSCALL_TEST_HOOKS_H_
#define RONDEL_PLATFORM_SYSCALL_TEST_HOOKS_H_

#include <string>
#include <vector>

#include "platform/syscall_list.h"

namespace rondel {
namespace platform {

constexpr char kAnySyscall[] = "any";

// The names of the table's calls, in table order.
std::vector<std::string> SyscallNames();

// Counts restart from zero, and the `nth` call named `name_or_any` from now
// (1 is the next one) fails with `errno_value` without reaching its function.
// Later calls go through. False (nothing planned) for an unknown name.
bool FailSyscallAt(const char* name_or_any, long nth, int errno_value);

// Calls named `name_or_any` since the last FailSyscallAt or ResetSyscalls,
// failed ones included; -1 for an unknown name.
long CountSyscalls(const char* name_or_any = kAnySyscall);

// Counts to zero, no failure planned, every entry back to the system's own
// function, no write budget.
void ResetSyscalls();

// After SetWriteBudget(n), writes deliver n more bytes in total (a write is
// cut to what is left) and then fail with ENOSPC, as on a full disk; a
// negative budget (the default) turns it off.
void SetWriteBudget(long long bytes);

// One typed function per call of the table.
struct SyscallFunctions {
#define RONDEL_SYSCALL_FIELD(name, Function, result, parameters, arguments) \
  result(*name) parameters = nullptr;
  RONDEL_PLATFORM_SYSCALLS(RONDEL_SYSCALL_FIELD)
#undef RONDEL_SYSCALL_FIELD
};

// The system's own functions, every field set.
SyscallFunctions SystemSyscalls();

// Puts each non-null field of `functions` in its table entry, and the system's
// own function in every entry whose field is null. Planned failures and the
// write budget still apply before a replacement is called.
void ReplaceSyscalls(const SyscallFunctions& functions);

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_SYSCALL_TEST_HOOKS_H_
