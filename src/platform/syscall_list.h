// The system calls of the platform layer, listed once. syscall.cc builds the
// table, its wrappers and their hooks from this list; syscall_test_hooks.h
// builds the typed set of replacements tests may install.
//
// X(name, Function, result, parameters, arguments)
//   name        how tests name the call ("open"); also the libc function
//   Function    the wrapper's name in rondel::platform::sys
//   result      what the call answers
//   parameters  its parameter list, arguments its argument list
//
// Every call here reports failure as -1 with errno set, except
// gethostbyname_r, which answers the error number itself (syscall.cc).
#ifndef RONDEL_PLATFORM_SYSCALL_LIST_H_
#define RONDEL_PLATFORM_SYSCALL_LIST_H_

#include <ifaddrs.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>

#define RONDEL_PLATFORM_SYSCALLS(X)                                           \
  X(open, Open, int, (const char* path, int flags, mode_t mode),              \
    (path, flags, mode))                                                      \
  X(read, Read, ssize_t, (int fd, void* data, size_t length),                 \
    (fd, data, length))                                                       \
  X(pread, PRead, ssize_t, (int fd, void* data, size_t length, off_t offset), \
    (fd, data, length, offset))                                               \
  X(write, Write, ssize_t, (int fd, const void* data, size_t length),         \
    (fd, data, length))                                                       \
  X(fsync, Fsync, int, (int fd), (fd))                                        \
  X(sync_file_range, SyncFileRange, int,                                      \
    (int fd, off_t offset, off_t length, unsigned int flags),                 \
    (fd, offset, length, flags))                                              \
  X(ftruncate, Ftruncate, int, (int fd, off_t length), (fd, length))          \
  X(fchown, Fchown, int, (int fd, uid_t owner, gid_t group),                  \
    (fd, owner, group))                                                       \
  X(fchmod, Fchmod, int, (int fd, mode_t mode), (fd, mode))                   \
  X(stat, Stat, int, (const char* path, struct stat* info), (path, info))     \
  X(lstat, Lstat, int, (const char* path, struct stat* info), (path, info))   \
  X(rename, Rename, int, (const char* from, const char* to), (from, to))      \
  X(renameat2, Renameat2, int,                                                \
    (int from_dir, const char* from, int to_dir, const char* to,              \
     unsigned int flags),                                                     \
    (from_dir, from, to_dir, to, flags))                                      \
  X(link, Link, int, (const char* existing, const char* new_name),            \
    (existing, new_name))                                                     \
  X(unlink, Unlink, int, (const char* path), (path))                          \
  X(mkdir, Mkdir, int, (const char* path, mode_t mode), (path, mode))         \
  X(rmdir, Rmdir, int, (const char* path), (path))                            \
  X(socket, Socket, int, (int domain, int type, int protocol),                \
    (domain, type, protocol))                                                 \
  X(sendto, SendTo, ssize_t,                                                  \
    (int fd, const void* data, size_t length, int flags,                      \
     const struct sockaddr* to, socklen_t to_length),                         \
    (fd, data, length, flags, to, to_length))                                 \
  X(getifaddrs, GetIfAddrs, int, (struct ifaddrs * *first), (first))          \
  X(gethostbyname_r, GetHostByNameR, int,                                     \
    (const char* name, struct hostent* entry, char* scratch,                  \
     size_t scratch_size, struct hostent** result, int* resolver_error),      \
    (name, entry, scratch, scratch_size, result, resolver_error))

#endif  // RONDEL_PLATFORM_SYSCALL_LIST_H_
