// GetSongTotal asks venuedb, through real FreeTDS, how many media rows the
// database holds and compares that count with the number it was given.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "frame/session.h"
#include "frame/settings.h"
#include "rondel.h"
#include "udp_receiver.h"
#include "venue_server.h"

namespace rondel {
namespace {

class SongTotalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(diag_.ready());
    ASSERT_NE(server_.port(), 0);
    ASSERT_TRUE(StartDbLibrary());
    server_.Exec("INSERT OR IGNORE INTO languages VALUES (0, 'none')");
    server_.Exec("DELETE FROM medias");
    server_.Exec(
        "INSERT INTO medias(media_id, media_name, media_code) VALUES "
        "(1, 'one', '1000001'), (2, 'two', '1000002'), (3, 'three', '10001'), "
        "(4, 'four', '30001')");
    ReadDatabaseSettings(server_.WriteSettingsFile().c_str());
  }

  long CountQueriesSent() {
    const auto rows = server_.Query(
        "SELECT count(*) FROM vdb_journal WHERE kind = 'batch' AND "
        "CAST(text AS TEXT) = 'select count(*) from medias'");
    return rows.empty() || !rows[0][0] ? -1 : std::stol(*rows[0][0]);
  }

  testing::DiagListener diag_;
  rondel::testing::VenueServer server_;
};

TEST_F(SongTotalTest, OneWhenTheDatabaseHoldsFewerRowsThanTheNumber) {
  EXPECT_EQ(GetSongTotal(5), 1);
  EXPECT_EQ(GetSongTotal(INT_MAX), 1);
  EXPECT_EQ(GetSongTotal(4), 0);
  EXPECT_EQ(GetSongTotal(3), 0);
  EXPECT_EQ(CountQueriesSent(), 4);
}

TEST_F(SongTotalTest, ComparisonIsSigned) {
  EXPECT_EQ(GetSongTotal(0), 0);
  EXPECT_EQ(GetSongTotal(-1), 0);
  EXPECT_EQ(GetSongTotal(INT_MIN), 0);
  server_.Exec("DELETE FROM medias");
  EXPECT_EQ(GetSongTotal(1), 1);
  EXPECT_EQ(GetSongTotal(0), 0);
}

TEST_F(SongTotalTest, UnreachableDatabaseGivesZero) {
  server_.Stop();
  EXPECT_EQ(GetSongTotal(5), 0);
  EXPECT_EQ(GetSongTotal(INT_MAX), 0);
}

}  // namespace
}  // namespace rondel
