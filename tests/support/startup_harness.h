// Running start-up scenarios: start-up runs once per process, so each one runs
// in a forked child of the test process, with its own copy of the catalogue.
// Windows cannot copy a process: there each runs in the test's process, from an
// emptied catalogue.
#ifndef RONDEL_TESTS_SUPPORT_STARTUP_HARNESS_H_
#define RONDEL_TESTS_SUPPORT_STARTUP_HARNESS_H_

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>

#include "catalogue/snapshot_format.h"
#include "catalogue/start_catalogue.h"
#include "catalogue/tables.h"
#include "files.h"
#include "frame/session.h"
#include "frame/settings.h"
#include "test_system.h"

namespace rondel {
namespace testing {

// Runs `scenario` in a child process. The child's assertion failures are
// printed by the child and make it exit with status 1; the parent reports a
// failed child.
inline void InChildProcess(const std::function<void()>& scenario) {
  if (!CanCopyProcess()) {
    ResetCatalogue();
    std::memset(g_catalogue.local_addresses, 0,
                sizeof g_catalogue.local_addresses);
    g_catalogue.identity_file_server_id = 0;
    g_catalogue.identity_group_id = 0;
    scenario();
    return;
  }
  const int status = RunInCopyOfProcess([&] {
    scenario();
    return ::testing::Test::HasFailure() ? 1 : 0;
  });
  ASSERT_NE(status, -1) << "the start-up process ended abnormally";
  EXPECT_EQ(status, 0) << "the start-up process reported failures (above)";
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
