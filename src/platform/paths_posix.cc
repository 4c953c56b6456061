#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/paths.h"
#include "platform/syscall.h"

namespace rondel {
namespace platform {

std::string ExecutableDirectory() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof(path));
  // A full buffer may be a cut-off path: treat it as unknown.
  if (length <= 0 || static_cast<size_t>(length) >= sizeof(path))
    return std::string();
  return DirectoryOf(std::string(path, static_cast<size_t>(length)));
}

std::string DirectoryOf(const std::string& path, unsigned /*code_page*/) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return path.substr(0, slash + 1);
}

const char* DefaultSettingsPath() { return "/etc/korvane/Korvane.ini"; }

bool MakeDirectory(const std::string& path) {
  if (sys::Mkdir(path.c_str(), 0755) == 0) return true;
  if (errno != EEXIST) return false;
  struct stat info;
  return sys::Stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace platform
}  // namespace rondel
