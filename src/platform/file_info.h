// What a tool that only looks at the venue's files asks of them, without
// opening or changing anything: whether a name is there, its kind, size and
// last change, and whether a directory would take a new file. One file per
// platform (file_info_posix.cc, file_info_windows.cc); a directory's path may
// end in a separator on both.
#ifndef RONDEL_PLATFORM_FILE_INFO_H_
#define RONDEL_PLATFORM_FILE_INFO_H_

#include <cstdint>
#include <string>

namespace rondel {
namespace platform {

struct FileInfo {
  bool directory = false;
  uint64_t size = 0;    // bytes; 0 for a directory
  int64_t written = 0;  // last change, seconds since 1970 UTC
};

// False when `path` does not exist or cannot be examined (errno says why:
// ENOENT when it is absent).
bool GetFileInfo(const std::string& path, FileInfo* info);

// True when this process may create files in the directory `path`. Asks the
// system's permission check only: nothing is created (POSIX: access W_OK;
// Windows: a directory handle opened for adding a file, then closed).
bool DirectoryWritable(const std::string& path);

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_FILE_INFO_H_
