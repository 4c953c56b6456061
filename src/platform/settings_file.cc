// What both platforms' settings files share: the entries WriteProfileString
// refuses before touching anything.
#include "platform/settings_file.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace rondel {
namespace platform {

namespace {

bool HasLineBreak(const char* text) {
  return std::strchr(text, '\n') != nullptr ||
         std::strchr(text, '\r') != nullptr;
}

}  // namespace

FileError RefuseUnwritableEntry(const char* path, const char* section,
                                const char* key, const char* value) {
  const std::string named = path != nullptr ? path : "";
  if (named.empty() || section == nullptr || key == nullptr ||
      value == nullptr || HasLineBreak(section) || HasLineBreak(key) ||
      HasLineBreak(value) || std::strchr(section, ']') != nullptr ||
      std::strchr(key, '=') != nullptr) {
    return FileError::Of("write", named, EINVAL);
  }
  return FileError();
}

}  // namespace platform
}  // namespace rondel
