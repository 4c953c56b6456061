// GetSongTotal asks venuedb, through real FreeTDS, how many media rows the
// database holds and compares that count with the number it was given.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "database_test.h"
#include "rondel.h"

namespace rondel {
namespace {

class SongTotalTest : public testing::DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    venue_.Exec("INSERT OR IGNORE INTO languages VALUES (0, 'none')");
    venue_.Exec("DELETE FROM medias");
    venue_.Exec(
        "INSERT INTO medias(media_id, media_name, media_code) VALUES "
        "(1, 'one', '1000001'), (2, 'two', '1000002'), (3, 'three', '10001'), "
        "(4, 'four', '30001')");
  }

  long CountQueriesSent() {
    return static_cast<long>(
        Requests("batch", "select count(*) from medias").size());
  }
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
  venue_.Exec("DELETE FROM medias");
  EXPECT_EQ(GetSongTotal(1), 1);
  EXPECT_EQ(GetSongTotal(0), 0);
}

TEST_F(SongTotalTest, UnreachableDatabaseGivesZero) {
  venue_.Stop();
  EXPECT_EQ(GetSongTotal(5), 0);
  EXPECT_EQ(GetSongTotal(INT_MAX), 0);
}

}  // namespace
}  // namespace rondel
