// Private-profile settings on Windows: the system's own calls read and write
// the file, so a venue's settings mean exactly what they mean to its other
// programs (a relative path is looked up in the Windows directory, as those
// calls do). What the POSIX implementation says of symbolic links, owners,
// the write beside the file and the 4 MiB limit does not apply here.

// clang-format off
// Our header before windows.h: its macro WriteProfileString (for the A/W
// variants) would rename our function of that name. The macro goes after it.
#include "platform/settings_file.h"
#include <windows.h>
#undef WriteProfileString
// clang-format on

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "platform/file.h"
#include "platform/windows_error.h"

namespace rondel {
namespace platform {

namespace {

// The private-profile calls take at most a DWORD's worth of buffer.
DWORD BufferSize(size_t size) {
  return size > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(size);
}

}  // namespace

size_t ReadProfileString(const char* path, const char* section, const char* key,
                         const char* default_value, char* out,
                         size_t out_size) {
  if (out == nullptr || out_size == 0) return 0;
  const char* fallback = default_value != nullptr ? default_value : "";
  // A null section or key would make the call list names instead.
  if (path == nullptr || section == nullptr || key == nullptr) {
    size_t length = std::strlen(fallback);
    if (length > out_size - 1) length = out_size - 1;
    std::memcpy(out, fallback, length);
    out[length] = '\0';
    return length;
  }
  const DWORD stored = GetPrivateProfileStringA(section, key, fallback, out,
                                                BufferSize(out_size), path);
  out[out_size - 1] = '\0';
  return stored;
}

int ReadProfileInt(const char* path, const char* section, const char* key,
                   int default_value) {
  if (path == nullptr || section == nullptr || key == nullptr) {
    return default_value;
  }
  return static_cast<int>(
      GetPrivateProfileIntA(section, key, default_value, path));
}

FileError ProbeProfile(const char* path) {
  if (path == nullptr || path[0] == '\0')
    return FileError::Of("open", "", ENOENT);
  File file = File::OpenForRead(path);
  if (!file.valid()) return FileError::Now("open", path);
  char chunk[16384];
  for (;;) {
    errno = 0;
    if (file.Read(chunk, sizeof(chunk)) < sizeof(chunk)) {
      return errno == 0 ? FileError() : FileError::Now("read", path);
    }
  }
}

FileError WriteProfileString(const char* path, const char* section,
                             const char* key, const char* value) {
  FileError refused = RefuseUnwritableEntry(path, section, key, value);
  if (!refused.ok()) return refused;
  if (!::WritePrivateProfileStringA(section, key, value, path)) {
    SetErrnoFromLastError();
    return FileError::Now("write", path);
  }
  return FileError();
}

}  // namespace platform
}  // namespace rondel
