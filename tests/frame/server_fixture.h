// A fixture for frame tests against venuedb: a fresh server, the library
// started and pointed at it, the module log captured, and helpers to define
// procedures and to read the server's journal.
#ifndef RONDEL_TESTS_FRAME_SERVER_FIXTURE_H_
#define RONDEL_TESTS_FRAME_SERVER_FIXTURE_H_

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "frame/session.h"
#include "frame/settings.h"
#include "frame_test_support.h"
#include "scratch_dir.h"
#include "sql_text.h"
#include "venue_server.h"

namespace rondel {
namespace testing {

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GT(server_.port(), 0);
    ASSERT_TRUE(StartDbLibrary());
    ReadStartupSettings(server_.WriteSettingsFile().c_str());
  }

  // Adds a procedure to the server: `params` as declared ("@a int = 0, @s
  // varchar(200) = NULL OUTPUT"), `body` SQLite statements.
  void DefineProcedure(const std::string& name, const std::string& params,
                       const std::string& body) {
    server_.Exec("INSERT OR REPLACE INTO vdb_procedures VALUES(" + Sql(name) +
                 ", " + Sql(params) + ", " + Sql(body) + ")");
  }

  // The id of the last journal entry of this kind (0 when none).
  long LastJournalId(const std::string& kind) {
    auto rows = server_.Query("SELECT max(id) FROM vdb_journal WHERE kind='" +
                              kind + "'");
    return rows.empty() || !rows[0][0] ? 0 : std::stol(*rows[0][0]);
  }

  // Waits until venuedb has recorded the end of every connection (it notices a
  // close asynchronously); false when one stays open.
  bool AllConnectionsClosed() {
    for (int i = 0; i < 500; ++i) {
      auto rows = server_.Query(
          "SELECT count(*) FROM vdb_connections WHERE closed_us IS NULL");
      if (!rows.empty() && rows[0][0] == std::string("0")) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  VenueServer server_;
  ScratchDir scratch_;
  CapturedLog log_{scratch_.File("frame.log")};
};

}  // namespace testing
}  // namespace rondel

#endif  // RONDEL_TESTS_FRAME_SERVER_FIXTURE_H_
