#include <windows.h>

#include <string>

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

// The existing file, shared with every other program as the log is.
HANDLE OpenShared(const std::string& path, DWORD access) {
  return CreateFileA(path.c_str(), access,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Puts the system's message for GetLastError() in *reason, without its
// closing period and line end; answers false.
bool Refused(std::string* reason) {
  const DWORD code = GetLastError();
  char text[512] = {0};
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                        text[length - 1] == ' ' || text[length - 1] == '.')) {
    --length;
  }
  *reason = length > 0 ? std::string(text, length)
                       : "Windows error " + std::to_string(code);
  return false;
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

bool RenameLogFile(const std::string& from, const std::string& to,
                   std::string* reason) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) !=
             0 ||
         Refused(reason);
}

bool ReadLogTail(const std::string& path, size_t length, std::string* tail,
                 std::string* reason) {
  HANDLE file = OpenShared(path, GENERIC_READ);
  if (file == INVALID_HANDLE_VALUE) return Refused(reason);
  LARGE_INTEGER size;
  bool read_whole = GetFileSizeEx(file, &size) != 0;
  if (read_whole) {
    const unsigned long long whole =
        static_cast<unsigned long long>(size.QuadPart);
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(whole > length ? whole - length : 0);
    tail->assign(static_cast<size_t>(
                     whole - static_cast<unsigned long long>(at.QuadPart)),
                 '\0');
    size_t got = 0;
    read_whole = SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != 0;
    while (read_whole && got < tail->size()) {
      DWORD put = 0;
      read_whole =
          ReadFile(file, &(*tail)[got], static_cast<DWORD>(tail->size() - got),
                   &put, nullptr) != 0;
      // A file cut short meanwhile ends the tail there.
      if (put == 0) break;
      got += put;
    }
    tail->resize(got);
  }
  if (!read_whole) Refused(reason);
  CloseHandle(file);
  return read_whole;
}

bool RewriteLogFile(const std::string& path, const std::string& content,
                    std::string* reason) {
  HANDLE file = OpenShared(path, GENERIC_WRITE);
  if (file == INVALID_HANDLE_VALUE) return Refused(reason);
  bool rewritten =
      SetEndOfFile(file) != 0 && WriteAll(file, content.data(), content.size(),
                                          /*at_end=*/false) == content.size();
  if (!rewritten) Refused(reason);
  CloseHandle(file);
  return rewritten;
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

unsigned long ProcessId() { return GetCurrentProcessId(); }

bool FileWrittenTime(const std::string& path, std::tm* local) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  FILETIME written;
  SYSTEMTIME when;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
      !FileTimeToLocalFileTime(&data.ftLastWriteTime, &written) ||
      !FileTimeToSystemTime(&written, &when)) {
    return false;
  }
  *local = std::tm();
  local->tm_year = when.wYear - 1900;
  local->tm_mon = when.wMonth - 1;
  local->tm_mday = when.wDay;
  local->tm_hour = when.wHour;
  local->tm_min = when.wMinute;
  local->tm_sec = when.wSecond;
  return true;
}

}  // namespace platform
}  // namespace rondel
