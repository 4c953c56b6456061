// A scratch directory for one test: created empty under $TMPDIR (or /tmp),
// and removed with everything in it when the object goes. Removal does not
// follow symbolic links: a link inside is removed, never what it points at.
//
//   rondel::testing::ScratchDir dir;
//   WriteFileBytes(dir.File("settings.ini"), "[KTV]\r\n");
//
// When the directory cannot be made the test fails (ADD_FAILURE) and path() is
// empty. Not thread-safe.
#ifndef RONDEL_TESTS_SUPPORT_SCRATCH_DIR_H_
#define RONDEL_TESTS_SUPPORT_SCRATCH_DIR_H_

#include <dirent.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "test_system.h"

namespace rondel {
namespace testing {

class ScratchDir {
 public:
  ScratchDir() : path_(MakeTempDir("rondel-test-")) {
    if (path_.empty()) ADD_FAILURE() << "cannot make a scratch directory";
  }
  ~ScratchDir() {
    if (!path_.empty()) RemoveTree(path_);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // The path of `name` inside the directory.
  std::string File(const std::string& name) const { return path_ + "/" + name; }

  // Number of entries in the directory, "." and ".." not counted.
  size_t EntryCount() const {
    size_t entries = 0;
    if (DIR* dir = opendir(path_.c_str())) {
      while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") ++entries;
      }
      closedir(dir);
    }
    return entries;
  }

 private:
  std::string path_;
};

}  // namespace testing
}  // namespace rondel

#endif  // RONDEL_TESTS_SUPPORT_SCRATCH_DIR_H_
