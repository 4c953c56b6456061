// The fixture of every library test that talks to a database: a fresh venuedb
// (venue_server.h) with the library started and its settings pointing at it,
// the module log captured, the catalogue reset, and helpers to change the
// server's procedures and faults and to read its journal.
//
//   class MyTest : public rondel::testing::DatabaseTest {};
//   TEST_F(MyTest, ...) {
//     DefineProcedure("p", "@a int = 0", "SELECT @a AS n");
//     { Exchange x; ... }
//     EXPECT_EQ(1, log_.Count("..."));
//   }
#ifndef RONDEL_TESTS_SUPPORT_DATABASE_TEST_H_
#define RONDEL_TESTS_SUPPORT_DATABASE_TEST_H_

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "captured_log.h"
#include "catalogue/tables.h"
#include "frame/session.h"
#include "frame/settings.h"
#include "scratch_dir.h"
#include "sql_text.h"
#include "test_system.h"
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

class DatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetEnv("RONDEL_DIAG_TARGET", "127.0.0.1:9");
    ASSERT_NE(venue_.port(), 0);
    ASSERT_TRUE(StartDbLibrary());
    settings_path_ = venue_.WriteSettingsFile("10.9.9.9");
    ReadStartupSettings(settings_path_.c_str());
    ResetCatalogue();
    memset(g_catalogue.local_addresses, 0, sizeof g_catalogue.local_addresses);
    g_catalogue.identity_file_server_id = 0;
    g_catalogue.identity_group_id = 0;
  }

  // Adds (or replaces) a procedure: `params` as declared ("@a int = 0, @s
  // varchar(200) = NULL OUTPUT"), `body` SQLite statements, each statement
  // with columns one result set.
  void DefineProcedure(const std::string& name, const std::string& params,
                       const std::string& body) {
    venue_.Exec("INSERT OR REPLACE INTO vdb_procedures VALUES(" + Sql(name) +
                ", " + Sql(params) + ", " + Sql(body) + ")");
  }
  // Replaces the body of one of venuedb's procedures, keeping its parameters.
  void ReplaceProcedure(const std::string& name, const std::string& body) {
    venue_.Exec("UPDATE vdb_procedures SET body = " + Sql(body) +
                " WHERE name = " + Sql(name));
  }
  // A row of venuedb's fault table (venuedb/README.md, "Faults").
  void AddFault(const std::string& kind, const std::string& target, int value) {
    venue_.Exec("INSERT INTO vdb_faults VALUES(" + Sql(kind) + ", " +
                Sql(target) + ", " + std::to_string(value) + ")");
  }
  // Points the library at a loopback server that takes connections and never
  // answers: every login waits for its time-out.
  void PointAtSilentServer() {
    silent_ =
        std::make_unique<LoopbackSocket>(LoopbackSocket::Kind::kListening);
    ASSERT_TRUE(silent_->ok());
    CurrentSettings().database_server_port = silent_->port();
  }
  // Closes the silent server and points the library at venuedb again.
  void EndSilentServer() {
    silent_.reset();
    CurrentSettings().database_server_port = venue_.port();
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
  // The id of the last journal entry of this kind (0 when none).
  long LastJournalId(const std::string& kind) {
    auto rows = venue_.Query("SELECT max(id) FROM vdb_journal WHERE kind='" +
                             kind + "'");
    return rows.empty() || !rows[0][0] ? 0 : std::stol(*rows[0][0]);
  }
  // Waits until venuedb has recorded the end of every connection (it notices a
  // close asynchronously); false when one stays open.
  bool AllConnectionsClosed() {
    for (int i = 0; i < 500; ++i) {
      auto rows = venue_.Query(
          "SELECT count(*) FROM vdb_connections WHERE closed_us IS NULL");
      if (!rows.empty() && rows[0][0] == std::string("0")) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  VenueServer venue_;
  std::string settings_path_;
  ScratchDir scratch_;
  CapturedLog log_{scratch_.File("module.log")};
  std::unique_ptr<LoopbackSocket> silent_;  // the silent server
};

}  // namespace testing
}  // namespace rondel

#endif  // RONDEL_TESTS_SUPPORT_DATABASE_TEST_H_
