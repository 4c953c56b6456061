// The system-call table: one entry per call of syscall_list.h, the wrappers
// that go through it, and the test hooks that count, fail and replace calls.
//
// Each wrapper first counts its call and fails it when a test planned that
// (errno set, the function never reached), then cuts a write to the write
// budget, then calls the entry's current function.
#include "platform/syscall.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "platform/syscall_test_hooks.h"

namespace rondel {
namespace platform {

namespace {

using SyscallPointer = void (*)();

enum Id : int {
#define RONDEL_SYSCALL_ID(name, Function, result, parameters, arguments) \
  k##Function,
  RONDEL_PLATFORM_SYSCALLS(RONDEL_SYSCALL_ID)
#undef RONDEL_SYSCALL_ID
      kSyscallCount
};

// The system's own functions, with the table's exact types (open is variadic
// and may be a fortified inline: it needs a function of its own).
#define RONDEL_SYSCALL_SYSTEM(name, Function, result, parameters, arguments) \
  result System##Function parameters { return ::name arguments; }
RONDEL_PLATFORM_SYSCALLS(RONDEL_SYSCALL_SYSTEM)
#undef RONDEL_SYSCALL_SYSTEM

struct Syscall {
  const char* name;
  std::atomic<SyscallPointer> current;
  SyscallPointer system;
  std::atomic<long> calls;
};

Syscall g_syscalls[kSyscallCount] = {
#define RONDEL_SYSCALL_ENTRY(name, Function, result, parameters, arguments) \
  {#name,                                                                   \
   {reinterpret_cast<SyscallPointer>(&System##Function)},                   \
   reinterpret_cast<SyscallPointer>(&System##Function),                     \
   {0}},
    RONDEL_PLATFORM_SYSCALLS(RONDEL_SYSCALL_ENTRY)
#undef RONDEL_SYSCALL_ENTRY
};

constexpr int kNoFailure = -2;
constexpr int kAny = -1;

std::atomic<long> g_all_calls{0};
std::atomic<int> g_fail_id{kNoFailure};
std::atomic<long> g_fail_nth{0};
std::atomic<int> g_fail_errno{0};
// Bytes that writes may still deliver; negative means unlimited.
std::atomic<long long> g_write_budget{-1};

// Counts the call; true (errno set) when it is the one planned to fail.
bool FailsNow(Id id) {
  const long own = g_syscalls[id].calls.fetch_add(1) + 1;
  const long all = g_all_calls.fetch_add(1) + 1;
  const int target = g_fail_id.load();
  if (target == kNoFailure) return false;
  const long at = target == kAny ? all : (target == id ? own : 0);
  if (at != g_fail_nth.load()) return false;
  errno = g_fail_errno.load();
  return true;
}

// What a refused call answers: -1 with errno, except for the resolver, which
// answers the error number and no entry.
template <typename... Arguments>
long Refuse(Arguments...) {
  return -1;
}
long Refuse(const char*, hostent*, char*, size_t, hostent** result,
            int* resolver_error) {
  *result = nullptr;
  *resolver_error = NO_RECOVERY;
  return errno;
}

template <typename Function, typename... Arguments>
auto Through(Function function, Arguments... arguments) {
  return function(arguments...);
}

// Takes up to `wanted` bytes from the budget; returns how many may be written.
size_t TakeBudget(size_t wanted) {
  long long budget = g_write_budget.load();
  while (budget >= 0) {
    const long long granted = budget < static_cast<long long>(wanted)
                                  ? budget
                                  : static_cast<long long>(wanted);
    if (g_write_budget.compare_exchange_weak(budget, budget - granted)) {
      return static_cast<size_t>(granted);
    }
  }
  return wanted;
}

void ReturnBudget(size_t unused) {
  long long budget = g_write_budget.load();
  while (budget >= 0 && !g_write_budget.compare_exchange_weak(
                            budget, budget + static_cast<long long>(unused))) {
  }
}

// Writes alone go through the budget: a write is cut to what is left, and
// fails as on a full disk when nothing is.
ssize_t Through(ssize_t (*write_function)(int, const void*, size_t), int fd,
                const void* data, size_t length) {
  const size_t allowed = TakeBudget(length);
  if (allowed == 0 && length > 0) {
    errno = ENOSPC;
    return -1;
  }
  const ssize_t put = write_function(fd, data, allowed);
  ReturnBudget(put < 0 ? allowed : allowed - static_cast<size_t>(put));
  return put;
}

int FindId(const char* name) {
  if (name == nullptr) return kNoFailure;
  if (std::strcmp(name, kAnySyscall) == 0) return kAny;
  for (int id = 0; id < kSyscallCount; ++id) {
    if (std::strcmp(name, g_syscalls[id].name) == 0) return id;
  }
  return kNoFailure;
}

void ZeroCounts() {
  g_all_calls.store(0);
  for (Syscall& call : g_syscalls) call.calls.store(0);
}

}  // namespace

namespace sys {

#define RONDEL_SYSCALL_WRAPPER(name, Function, result, parameters, arguments) \
  result Function parameters {                                                \
    if (FailsNow(k##Function)) {                                              \
      return static_cast<result>(Refuse arguments);                           \
    }                                                                         \
    return Through(reinterpret_cast<result(*) parameters>(                    \
                       g_syscalls[k##Function].current.load()),               \
                   RONDEL_SYSCALL_UNPACK arguments);                          \
  }
#define RONDEL_SYSCALL_UNPACK(...) __VA_ARGS__
RONDEL_PLATFORM_SYSCALLS(RONDEL_SYSCALL_WRAPPER)
#undef RONDEL_SYSCALL_UNPACK
#undef RONDEL_SYSCALL_WRAPPER

}  // namespace sys

std::vector<std::string> SyscallNames() {
  std::vector<std::string> names;
  for (const Syscall& call : g_syscalls) names.push_back(call.name);
  return names;
}

bool FailSyscallAt(const char* name_or_any, long nth, int errno_value) {
  const int id = FindId(name_or_any);
  if (id == kNoFailure) return false;
  g_fail_id.store(kNoFailure);
  ZeroCounts();
  g_fail_nth.store(nth);
  g_fail_errno.store(errno_value);
  g_fail_id.store(id);
  return true;
}

long CountSyscalls(const char* name_or_any) {
  const int id = FindId(name_or_any);
  if (id == kNoFailure) return -1;
  return id == kAny ? g_all_calls.load() : g_syscalls[id].calls.load();
}

void ResetSyscalls() {
  g_fail_id.store(kNoFailure);
  ZeroCounts();
  g_write_budget.store(-1);
  for (Syscall& call : g_syscalls) call.current.store(call.system);
}

void SetWriteBudget(long long bytes) {
  g_write_budget.store(bytes < 0 ? -1 : bytes);
}

SyscallFunctions SystemSyscalls() {
  SyscallFunctions functions;
#define RONDEL_SYSCALL_GET(name, Function, result, parameters, arguments) \
  functions.name = &System##Function;
  RONDEL_PLATFORM_SYSCALLS(RONDEL_SYSCALL_GET)
#undef RONDEL_SYSCALL_GET
  return functions;
}

void ReplaceSyscalls(const SyscallFunctions& functions) {
#define RONDEL_SYSCALL_SET(name, Function, result, parameters, arguments) \
  g_syscalls[k##Function].current.store(                                  \
      functions.name != nullptr                                           \
          ? reinterpret_cast<SyscallPointer>(functions.name)              \
          : g_syscalls[k##Function].system);
  RONDEL_PLATFORM_SYSCALLS(RONDEL_SYSCALL_SET)
#undef RONDEL_SYSCALL_SET
}

}  // namespace platform
}  // namespace rondel
