// What a directory tree takes on disk, to show that a failed operation left
// nothing behind and gave back what it took:
//
//   const auto before = TreeSizes(dir.path());
//   EXPECT_FALSE(store.SaveAllTables());
//   EXPECT_EQ(NewOrGrown(before, TreeSizes(dir.path())), "");
#ifndef RONDEL_TESTS_SUPPORT_DISK_USAGE_H_
#define RONDEL_TESTS_SUPPORT_DISK_USAGE_H_

#include <dirent.h>
#include <sys/stat.h>

#include <map>
#include <string>

namespace rondel {
namespace testing {

// Every name under `path` (links not followed) by its path relative to
// `path`, with its size; a directory's name ends in '/' and counts 0.
inline std::map<std::string, long long> TreeSizes(
    const std::string& path, const std::string& prefix = "") {
  std::map<std::string, long long> sizes;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return sizes;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat info;
    if (lstat((path + "/" + name).c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      sizes[prefix + name + "/"] = 0;
      for (const auto& inner :
           TreeSizes(path + "/" + name, prefix + name + "/"))
        sizes.insert(inner);
    } else {
      sizes[prefix + name] = info.st_size;
    }
  }
  closedir(dir);
  return sizes;
}

// The names in `after` that `before` did not hold, or that grew, one per line
// with their sizes ("VideoServertable/Medias.tbl.prev 37758"); empty when
// `after` takes no more room than `before` anywhere.
inline std::string NewOrGrown(const std::map<std::string, long long>& before,
                              const std::map<std::string, long long>& after) {
  std::string more;
  for (const auto& entry : after) {
    const auto was = before.find(entry.first);
    if (was == before.end() || entry.second > was->second) {
      more += entry.first + " " + std::to_string(entry.second) + "\n";
    }
  }
  return more;
}

}  // namespace testing
}  // namespace rondel

#endif  // RONDEL_TESTS_SUPPORT_DISK_USAGE_H_
