// Files on Windows through the Win32 calls. Every failure sets errno from the
// system's error (windows_error.h), as the POSIX calls would, so FileError and
// the callers' ENOENT/EEXIST tests work unchanged.
//
// Files are opened sharing read, write and delete, so that a file another
// part of the library (or an operator's tool) holds open can still be read,
// renamed over or removed, as on POSIX.

// clang-format off
// Our header before windows.h: its macro RemoveDirectory (for the A/W
// variants) would rename our function of that name. The macro goes after it.
#include "platform/file.h"
#include <windows.h>
#undef RemoveDirectory
// clang-format on

#include <cerrno>
#include <string>
#include <vector>

#include "platform/windows_error.h"

namespace rondel {
namespace platform {

namespace {

constexpr DWORD kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The most one ReadFile or WriteFile is asked to move.
constexpr DWORD kMaxTransfer = 1u << 30;

HANDLE AsHandle(long long handle) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle));
}

long long FromHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE
             ? -1
             : static_cast<long long>(reinterpret_cast<intptr_t>(handle));
}

HANDLE Open(const std::string& path, DWORD access, DWORD disposition) {
  HANDLE handle = CreateFileA(path.c_str(), access, kShareAll, nullptr,
                              disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) SetErrnoFromLastError();
  return handle;
}

// A handle on a file or directory for reading its attributes only.
HANDLE OpenForAttributes(const std::string& path) {
  HANDLE handle =
      CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) SetErrnoFromLastError();
  return handle;
}

// The file's identity and link count; false (errno set) when it cannot be
// examined.
bool Examine(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE handle = OpenForAttributes(path);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool examined = GetFileInformationByHandle(handle, info) != 0;
  if (!examined) SetErrnoFromLastError();
  CloseHandle(handle);
  return examined;
}

// The file position, for the calls that must not move it.
bool Position(HANDLE handle, LARGE_INTEGER* at) {
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  return SetFilePointerEx(handle, zero, at, FILE_CURRENT) != 0;
}

}  // namespace

File::~File() { Close(); }

File::File(File&& other) noexcept
    : handle_(other.handle_), append_(other.append_) {
  other.handle_ = -1;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    append_ = other.append_;
    other.handle_ = -1;
  }
  return *this;
}

bool File::valid() const { return handle_ != -1; }

File File::OpenForRead(const std::string& path) {
  return File(FromHandle(Open(path, GENERIC_READ, OPEN_EXISTING)), false);
}

File File::CreateForWrite(const std::string& path) {
  return File(FromHandle(Open(path, GENERIC_WRITE, CREATE_ALWAYS)), false);
}

File File::CreateNewForWrite(const std::string& path) {
  return File(FromHandle(Open(path, GENERIC_WRITE, CREATE_NEW)), false);
}

File File::OpenExistingForWrite(const std::string& path) {
  return File(FromHandle(Open(path, GENERIC_WRITE, OPEN_EXISTING)), false);
}

File File::OpenForAppend(const std::string& path) {
  // Full write access (not append-only) so that Truncate works; each write
  // goes to the end through its offset instead (see Write).
  return File(FromHandle(Open(path, GENERIC_WRITE, OPEN_ALWAYS)), true);
}

size_t File::Read(void* data, size_t length) {
  if (!valid()) return 0;
  char* at = static_cast<char*>(data);
  size_t done = 0;
  while (done < length) {
    const size_t left = length - done;
    const DWORD wanted =
        left > kMaxTransfer ? kMaxTransfer : static_cast<DWORD>(left);
    DWORD got = 0;
    if (!ReadFile(AsHandle(handle_), at + done, wanted, &got, nullptr)) {
      SetErrnoFromLastError();
      break;
    }
    if (got == 0) {
      errno = 0;  // the end of the file, not an error
      break;
    }
    done += got;
  }
  return done;
}

size_t File::ReadAt(unsigned long long offset, void* data, size_t length) {
  if (!valid()) return 0;
  // A read at an offset moves a synchronous handle's position: put it back.
  LARGE_INTEGER position;
  if (!Position(AsHandle(handle_), &position)) {
    SetErrnoFromLastError();
    return 0;
  }
  char* at = static_cast<char*>(data);
  size_t done = 0;
  DWORD failure = ERROR_SUCCESS;
  while (done < length) {
    const size_t left = length - done;
    const DWORD wanted =
        left > kMaxTransfer ? kMaxTransfer : static_cast<DWORD>(left);
    const unsigned long long from = offset + done;
    OVERLAPPED place = {};
    place.Offset = static_cast<DWORD>(from & 0xFFFFFFFFu);
    place.OffsetHigh = static_cast<DWORD>(from >> 32);
    DWORD got = 0;
    if (!ReadFile(AsHandle(handle_), at + done, wanted, &got, &place)) {
      // Reading at or past the end answers ERROR_HANDLE_EOF.
      failure =
          GetLastError() == ERROR_HANDLE_EOF ? ERROR_SUCCESS : GetLastError();
      break;
    }
    if (got == 0) break;
    done += got;
  }
  (void)SetFilePointerEx(AsHandle(handle_), position, nullptr, FILE_BEGIN);
  SetErrnoFromWindowsError(failure);
  return done;
}

size_t File::Write(const void* data, size_t length) {
  if (!valid()) return 0;
  const char* at = static_cast<const char*>(data);
  size_t done = 0;
  while (done < length) {
    const size_t left = length - done;
    const DWORD wanted =
        left > kMaxTransfer ? kMaxTransfer : static_cast<DWORD>(left);
    // All ones as the offset writes at the file's end as it is then.
    OVERLAPPED end = {};
    end.Offset = 0xFFFFFFFFu;
    end.OffsetHigh = 0xFFFFFFFFu;
    DWORD put = 0;
    if (!WriteFile(AsHandle(handle_), at + done, wanted, &put,
                   append_ ? &end : nullptr)) {
      SetErrnoFromLastError();
      break;
    }
    if (put == 0) {
      errno = ENOSPC;
      break;
    }
    done += put;
  }
  return done;
}

bool File::Sync() {
  if (!valid()) return false;
  return FlushFileBuffers(AsHandle(handle_)) != 0 || FailWithLastError(false);
}

// Windows has no call that starts writing a file's pages without waiting for
// them; the later Sync does all of it.
void File::StartSync() {}

bool File::Truncate(unsigned long long length) {
  if (!valid()) return false;
  HANDLE handle = AsHandle(handle_);
  LARGE_INTEGER position;
  if (!Position(handle, &position)) return FailWithLastError(false);
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(length);
  const bool done = SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) &&
                    SetEndOfFile(handle);
  if (!done) SetErrnoFromLastError();
  // As ftruncate, the position stays where it was.
  (void)SetFilePointerEx(handle, position, nullptr, FILE_BEGIN);
  return done;
}

void File::Close() {
  if (valid()) {
    CloseHandle(AsHandle(handle_));
    handle_ = -1;
  }
}

bool FileReadable(const std::string& path) {
  File file = File::OpenForRead(path);
  if (!file.valid()) return false;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FailWithLastError(false);
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
  // Write-through: the rename is on the disk when the call returns.
  return MoveFileExA(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0 ||
         FailWithLastError(false);
}

bool RemoveFile(const std::string& path) {
  return DeleteFileA(path.c_str()) != 0 || FailWithLastError(false);
}

bool LinkFile(const std::string& existing, const std::string& new_name) {
  return CreateHardLinkA(new_name.c_str(), existing.c_str(), nullptr) != 0 ||
         FailWithLastError(false);
}

bool SyncDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FailWithLastError(false);
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    errno = ENOTDIR;
    return false;
  }
  return true;
}

int ExchangePaths(const std::string&, const std::string&) { return ENOSYS; }

bool ExchangeUnsupported(int error_number) {
  return error_number == EINVAL || error_number == ENOSYS ||
         error_number == EOPNOTSUPP || error_number == ENOTSUP ||
         error_number == EXDEV;
}

bool RemoveDirectory(const std::string& path) {
  return ::RemoveDirectoryA(path.c_str()) != 0 || FailWithLastError(false);
}

bool ListDirectory(const std::string& path,
                   std::vector<DirectoryEntry>* entries) {
  entries->clear();
  std::string pattern = path;
  if (pattern.empty() || (pattern.back() != '/' && pattern.back() != '\\')) {
    pattern += '\\';
  }
  pattern += '*';
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return FailWithLastError(false);
  bool listed = true;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    // A link (reparse point) is not followed, as lstat would not.
    const bool regular =
        (found.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    entries->push_back({name, regular});
  } while (FindNextFileA(search, &found));
  if (GetLastError() != ERROR_NO_MORE_FILES) {
    listed = FailWithLastError(false);
  }
  FindClose(search);
  return listed;
}

bool SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION info_a, info_b;
  return Examine(a, &info_a) && Examine(b, &info_b) &&
         info_a.dwVolumeSerialNumber == info_b.dwVolumeSerialNumber &&
         info_a.nFileIndexHigh == info_b.nFileIndexHigh &&
         info_a.nFileIndexLow == info_b.nFileIndexLow;
}

bool SameDevice(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION info_a, info_b;
  return Examine(a, &info_a) && Examine(b, &info_b) &&
         info_a.dwVolumeSerialNumber == info_b.dwVolumeSerialNumber;
}

unsigned long LinkCount(const std::string& path) {
  BY_HANDLE_FILE_INFORMATION info;
  return Examine(path, &info) ? info.nNumberOfLinks : 0;
}

namespace {

// GetFinalPathNameByHandleA's flags: the normalised name with a drive letter.
constexpr DWORD kFinalPathFlags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;

using FinalPathFunction = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);

// GetFinalPathNameByHandleA, which Windows has from Vista on; null on older
// systems, where the DLL must still load (it is looked up, not imported).
FinalPathFunction FinalPathByHandle() {
  static const FinalPathFunction function = [] {
    const FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                         "GetFinalPathNameByHandleA");
    return reinterpret_cast<FinalPathFunction>(
        reinterpret_cast<void (*)()>(found));
  }();
  return function;
}

// The path as the system names it: links resolved where the system can say
// (Vista and later), else the full path.
DWORD FinalPath(HANDLE handle, const std::string& path,
                std::vector<char>* resolved) {
  const FinalPathFunction final_path = FinalPathByHandle();
  if (final_path != nullptr) {
    return final_path(handle, resolved->data(),
                      static_cast<DWORD>(resolved->size()), kFinalPathFlags);
  }
  return GetFullPathNameA(path.c_str(), static_cast<DWORD>(resolved->size()),
                          resolved->data(), nullptr);
}

}  // namespace

std::string ResolvedPath(const std::string& path) {
  HANDLE handle = OpenForAttributes(path);
  if (handle == INVALID_HANDLE_VALUE) return std::string();
  std::vector<char> resolved(MAX_PATH + 1);
  DWORD length = FinalPath(handle, path, &resolved);
  if (length >= resolved.size()) {
    resolved.resize(length + 1);
    length = FinalPath(handle, path, &resolved);
  }
  if (length == 0 || length >= resolved.size()) SetErrnoFromLastError();
  CloseHandle(handle);
  if (length == 0 || length >= resolved.size()) return std::string();
  std::string text(resolved.data(), length);
  // "\\?\C:\dir" -> "C:\dir"; "\\?\UNC\server\share" -> "\\server\share".
  static const char kPrefix[] = "\\\\?\\";
  static const char kUncPrefix[] = "\\\\?\\UNC\\";
  if (text.compare(0, sizeof(kUncPrefix) - 1, kUncPrefix) == 0) {
    return "\\\\" + text.substr(sizeof(kUncPrefix) - 1);
  }
  if (text.compare(0, sizeof(kPrefix) - 1, kPrefix) == 0) {
    return text.substr(sizeof(kPrefix) - 1);
  }
  return text;
}

}  // namespace platform
}  // namespace rondel
