#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_info.h"

namespace rondel {
namespace platform {

bool GetFileInfo(const std::string& path, FileInfo* info) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return false;
  info->directory = S_ISDIR(status.st_mode);
  info->size = info->directory ? 0 : static_cast<uint64_t>(status.st_size);
  info->written = static_cast<int64_t>(status.st_mtime);
  return true;
}

bool DirectoryWritable(const std::string& path) {
  return access(path.c_str(), W_OK) == 0;
}

}  // namespace platform
}  // namespace rondel
