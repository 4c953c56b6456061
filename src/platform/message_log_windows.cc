#include <windows.h>

#include "platform/message_log_output.h"

namespace rondel {
namespace platform {

namespace {

HANDLE AsHandle(long long handle) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle));
}

// Writes until everything is written or the system takes nothing more.
size_t WriteAll(HANDLE handle, const char* data, size_t length, bool at_end) {
  size_t written = 0;
  while (length > 0) {
    const DWORD chunk =
        length > 0x10000000u ? 0x10000000u : static_cast<DWORD>(length);
    // An offset of all ones writes at the file's end as it is at that
    // moment, also when another process has appended since.
    OVERLAPPED end = {};
    end.Offset = 0xFFFFFFFFu;
    end.OffsetHigh = 0xFFFFFFFFu;
    DWORD put = 0;
    if (!WriteFile(handle, data, chunk, &put, at_end ? &end : nullptr) ||
        put == 0) {
      break;
    }
    data += put;
    length -= put;
    written += put;
  }
  return written;
}

}  // namespace

LogFile::LogFile(const std::string& path) : handle_(-1) {
  // Others may read, append to, rename or remove the log while an entry is
  // written, as they may on POSIX.
  HANDLE handle =
      CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    handle_ = static_cast<long long>(reinterpret_cast<intptr_t>(handle));
  }
}

LogFile::~LogFile() {
  if (handle_ != -1) CloseHandle(AsHandle(handle_));
}

bool LogFile::valid() const { return handle_ != -1; }

long long LogFile::Size() const {
  LARGE_INTEGER size;
  return GetFileSizeEx(AsHandle(handle_), &size) ? size.QuadPart : 0;
}

size_t LogFile::Append(const char* data, size_t length) {
  return WriteAll(AsHandle(handle_), data, length, /*at_end=*/true);
}

bool RenameLogFile(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void WriteToScreen(const char* data, size_t length) {
  HANDLE error_output = GetStdHandle(STD_ERROR_HANDLE);
  if (error_output == nullptr || error_output == INVALID_HANDLE_VALUE) return;
  (void)WriteAll(error_output, data, length, /*at_end=*/false);
}

void LocalTimeNow(std::tm* local, int* milliseconds) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  *local = std::tm();
  local->tm_year = now.wYear - 1900;
  local->tm_mon = now.wMonth - 1;
  local->tm_mday = now.wDay;
  local->tm_hour = now.wHour;
  local->tm_min = now.wMinute;
  local->tm_sec = now.wSecond;
  local->tm_wday = now.wDayOfWeek;
  *milliseconds = now.wMilliseconds;
}

}  // namespace platform
}  // namespace rondel
