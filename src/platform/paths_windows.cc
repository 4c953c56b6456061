#include <windows.h>

#include <cerrno>
#include <string>

#include "platform/paths.h"
#include "platform/windows_error.h"

namespace rondel {
namespace platform {

// The longest host path read: the venue's interface reads up to 1,023
// characters, far past MAX_PATH, which a deep install or a service's long path
// exceeds.
constexpr DWORD kModulePathBytes = 1024;

std::string ExecutableDirectory() {
  char path[kModulePathBytes];
  // The host's own file (a null module), not this DLL's.
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
  // A full buffer is a cut-off path: treat it as unknown.
  if (length == 0 || length >= sizeof(path)) return std::string();
  return DirectoryOf(std::string(path, length));
}

std::string DirectoryOf(const std::string& path, unsigned code_page) {
  const UINT page = code_page != 0 ? code_page : GetACP();
  size_t end = 0;  // just past the last separator seen
  for (size_t i = 0; i < path.size(); ++i) {
    const char byte = path[i];
    if (byte == '\\' || byte == '/') {
      end = i + 1;
    } else if (i + 1 < path.size() &&
               IsDBCSLeadByteEx(page, static_cast<BYTE>(byte))) {
      ++i;  // its trail byte is part of the character, whatever its value
    }
  }
  return path.substr(0, end);
}

bool MakeDirectory(const std::string& path) {
  if (CreateDirectoryA(path.c_str(), nullptr)) return true;
  if (GetLastError() != ERROR_ALREADY_EXISTS) {
    return FailWithLastError(false);
  }
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FailWithLastError(false);
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    errno = EEXIST;
    return false;
  }
  return true;
}

const char* DefaultSettingsPath() { return "C:\\Korvane\\Korvane.ini"; }

}  // namespace platform
}  // namespace rondel
