// Shared pieces of the loader and start-up tests: a venuedb server with the
// library's settings pointing at it, and record readers. The SQL literals for
// building venue data (Sql, SqlBytes) come from tests/support/sql_text.h.
#ifndef RONDEL_TESTS_STARTUP_VENUE_FIXTURE_H_
#define RONDEL_TESTS_STARTUP_VENUE_FIXTURE_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "catalogue/tables.h"
#include "frame/session.h"
#include "frame/settings.h"
#include "sql_text.h"
#include "venue_server.h"

namespace rondel {
namespace testing {

// The paths of a FileList, walked as readers walk it: text by text up to the
// empty one.
inline std::vector<std::string> FileListPaths(const MediaRecord& record) {
  std::vector<std::string> paths;
  size_t at = 0;
  while (at < sizeof record.FileList && record.FileList[at] != '\0') {
    const size_t length =
        strnlen(record.FileList + at, sizeof record.FileList - at);
    paths.emplace_back(record.FileList + at, length);
    at += length + 1;
  }
  return paths;
}

inline std::string FieldText(const char* field, size_t size) {
  return std::string(field, strnlen(field, size));
}

// A test with its own venuedb and the library's settings pointing at it; the
// catalogue is reset before each test (LocalAddressList and ServerIdentity
// cleared too).
class VenueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("RONDEL_DIAG_TARGET", "127.0.0.1:9", 1);
    ASSERT_NE(venue_.port(), 0);
    ASSERT_TRUE(StartDbLibrary());
    settings_path_ = venue_.WriteSettingsFile("10.9.9.9");
    ReadStartupSettings(settings_path_.c_str());
    ResetCatalogue();
    memset(g_catalogue.local_addresses, 0, sizeof g_catalogue.local_addresses);
    g_catalogue.identity_file_server_id = 0;
    g_catalogue.identity_group_id = 0;
  }

  // Replaces the body of one of venuedb's procedures with SQLite statements;
  // each statement with columns becomes one result set.
  void ReplaceProcedure(const std::string& name, const std::string& body) {
    venue_.Exec("UPDATE vdb_procedures SET body = " + Sql(body) +
                " WHERE name = " + Sql(name));
  }
  void FailProcedure(const std::string& name) {
    venue_.Exec("INSERT INTO vdb_faults VALUES('fail_procedure', " + Sql(name) +
                ", 0)");
  }
  // Points the library at a port where nothing listens.
  void PointAtNothing() {
    strcpy(CurrentSettings().database_server_ip, "127.0.0.1:1");
  }
  // The rows of the journal for one request kind and text, in arrival order.
  std::vector<Row> Requests(const std::string& kind, const std::string& text) {
    return venue_.Query(
        "SELECT id, ok FROM vdb_journal WHERE kind = " + Sql(kind) +
        " AND CAST(text AS TEXT) = " + Sql(text) + " ORDER BY id");
  }

  VenueServer venue_;
  std::string settings_path_;
};

}  // namespace testing
}  // namespace rondel

#endif  // RONDEL_TESTS_STARTUP_VENUE_FIXTURE_H_
