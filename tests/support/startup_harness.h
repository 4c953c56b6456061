// Running start-up scenarios: start-up runs once per process, so each one runs
// in a forked child of the test process, with its own copy of the catalogue.
#ifndef RONDEL_TESTS_SUPPORT_STARTUP_HARNESS_H_
#define RONDEL_TESTS_SUPPORT_STARTUP_HARNESS_H_

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>

#include "catalogue/snapshot_format.h"
#include "catalogue/start_catalogue.h"
#include "files.h"
#include "frame/session.h"
#include "frame/settings.h"

namespace rondel {
namespace testing {

// Runs `scenario` in a child process. The child's assertion failures are
// printed by the child and make it exit with status 1; the parent reports a
// failed child.
inline void InChildProcess(const std::function<void()>& scenario) {
  fflush(stdout);
  fflush(stderr);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0) << "fork failed";
  if (pid == 0) {
    scenario();
    fflush(stdout);
    fflush(stderr);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "the start-up process ended abnormally";
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << "the start-up process reported failures (above)";
}

// What InitialDatabase does before and around the catalogue stage (the log
// aside).
inline void RunStartup() {
  StartDbLibrary();
  ReadStartupSettings(SettingsFilePath().c_str());
  StartCatalogue();
}

// The nine snapshot files (those present) by name.
inline std::map<std::string, std::string> ReadSnapshotFiles(
    const std::string& directory) {
  std::map<std::string, std::string> files;
  for (const snapshot::TableFormat& table : snapshot::kTables) {
    const std::string name = table.file_name;
    if (PathExists(directory + name))
      files[name] = ReadFileBytes(directory + name);
  }
  return files;
}

}  // namespace testing
}  // namespace rondel

#endif  // RONDEL_TESTS_SUPPORT_STARTUP_HARNESS_H_
