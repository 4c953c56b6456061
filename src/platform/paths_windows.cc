#include <windows.h>

#include <cerrno>
#include <string>

#include "platform/paths.h"
#include "platform/windows_error.h"

namespace rondel {
namespace platform {

std::string ExecutableDirectory() {
  char path[MAX_PATH + 1];
  // The host's own file (a null module), not this DLL's.
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
  // A full buffer is a cut-off path: treat it as unknown.
  if (length == 0 || length >= sizeof(path)) return std::string();
  const std::string executable(path, length);
  const size_t separator = executable.find_last_of("\\/");
  if (separator == std::string::npos) return std::string();
  return executable.substr(0, separator + 1);
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
