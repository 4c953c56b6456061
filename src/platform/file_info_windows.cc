// The C library's stat refuses a directory named with a trailing separator and
// its access() only reads the read-only attribute, which a directory's
// permissions do not set: both questions go to the Win32 calls instead.
#include <windows.h>

#include "platform/file_info.h"
#include "platform/windows_error.h"

namespace rondel {
namespace platform {

namespace {

// FILETIME counts 100 ns steps since 1601-01-01 UTC.
constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kSecondsFrom1601To1970 = 11644473600;

int64_t UnixSeconds(const FILETIME& time) {
  const uint64_t ticks =
      (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return static_cast<int64_t>(ticks) / kTicksPerSecond - kSecondsFrom1601To1970;
}

}  // namespace

bool GetFileInfo(const std::string& path, FileInfo* info) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
    SetErrnoFromLastError();
    return false;
  }
  info->directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info->size = info->directory
                   ? 0
                   : (static_cast<uint64_t>(data.nFileSizeHigh) << 32) |
                         data.nFileSizeLow;
  info->written = UnixSeconds(data.ftLastWriteTime);
  return true;
}

bool DirectoryWritable(const std::string& path) {
  // A directory opens only with backup semantics; FILE_ADD_FILE is the right
  // a new file in it needs.
  const HANDLE directory =
      CreateFileA(path.c_str(), FILE_ADD_FILE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (directory == INVALID_HANDLE_VALUE) return false;
  CloseHandle(directory);
  return true;
}

}  // namespace platform
}  // namespace rondel
