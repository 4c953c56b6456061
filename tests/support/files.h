// Whole-file helpers for tests: files read and written as exact bytes (no
// text conversion, no terminator added), existence, and directory listings.
// A file that cannot be read reads as empty; a failed write leaves the file as
// the system left it (tests check what they wrote by reading it back).
#ifndef RONDEL_TESTS_SUPPORT_FILES_H_
#define RONDEL_TESTS_SUPPORT_FILES_H_

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace rondel {
namespace testing {

// The bytes of the file at `path`; empty when it cannot be read.
inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Makes the file at `path` hold exactly `bytes`, replacing what it held.
inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// True when something (file, directory, ...) exists at `path`, readable or
// not.
inline bool PathExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

// Names in a directory, sorted, one per line ("." and ".." left out); empty
// when the directory cannot be read.
inline std::string ListDirectory(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  std::string listing;
  for (const std::string& name : names) listing += name + "\n";
  return listing;
}

}  // namespace testing
}  // namespace rondel

#endif  // RONDEL_TESTS_SUPPORT_FILES_H_
