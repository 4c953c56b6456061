// Windows only: the system's last error as the C library's errno, so that the
// platform layer reports failures on Windows as it does on POSIX (FileError
// reads errno; callers test ENOENT, EEXIST, ...).
#ifndef RONDEL_PLATFORM_WINDOWS_ERROR_H_
#define RONDEL_PLATFORM_WINDOWS_ERROR_H_

namespace rondel {
namespace platform {

// The errno value for a Windows error code (GetLastError's or Winsock's):
// ENOENT for a missing file or folder, EACCES for a refusal or a sharing
// conflict, EEXIST, ENOSPC, EXDEV, ENOTEMPTY, EINVAL, ENOSYS, ENOMEM; EIO for
// any other.
int ErrnoFromWindowsError(unsigned long error);

// Sets errno from GetLastError() and answers `result`, for one-line failure
// returns: `return FailWithLastError(false);`.
template <typename Result>
Result FailWithLastError(Result result);

// Sets errno from GetLastError(), and remembers (per thread) the code behind
// it for SystemCodeBehind.
void SetErrnoFromLastError();
// Sets errno from `error` as SetErrnoFromLastError does.
void SetErrnoFromWindowsError(unsigned long error);
// The Windows code the calling thread's last SetErrnoFrom... call turned into
// `error_number`; 0 when errno was set otherwise since (it no longer holds
// what that call set).
unsigned long SystemCodeBehind(int error_number);

template <typename Result>
Result FailWithLastError(Result result) {
  SetErrnoFromLastError();
  return result;
}

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_WINDOWS_ERROR_H_
