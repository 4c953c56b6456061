// The platform layer's system calls, each through one entry of a table.
//
// Everything the platform layer asks of the kernel about files, directories,
// datagrams and this host's addresses goes through rondel::platform::sys: one
// function per call, with the call's own parameters and its own way of
// reporting failure (-1 and errno; gethostbyname_r answers the error number).
// Each function calls whatever its table entry holds, which is the system's
// own function unless a test has put another there or planned a failure
// (syscall_test_hooks.h): so tests can make the Nth call fail, or watch every
// operation a save makes, without privileges or a special file system.
//
// Left out on purpose: close (Linux releases the descriptor whatever it
// answers, and nothing here acts on its answer), directory listings and path
// resolution (reads that decide nothing a failure could hide), and the module
// log's own writes (they are never reported and keep no state).
#ifndef RONDEL_PLATFORM_SYSCALL_H_
#define RONDEL_PLATFORM_SYSCALL_H_

#include "platform/syscall_list.h"

namespace rondel {
namespace platform {
namespace sys {

#define RONDEL_SYSCALL_DECLARE(name, Function, result, parameters, arguments) \
  result Function parameters;
RONDEL_PLATFORM_SYSCALLS(RONDEL_SYSCALL_DECLARE)
#undef RONDEL_SYSCALL_DECLARE

}  // namespace sys
}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_SYSCALL_H_
