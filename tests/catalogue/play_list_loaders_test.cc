// LoadPlayType, LoadSequence and LoadUserSequence against venuedb: what goes on
// the wire, which list each call fills, capacities and failures.
#include "catalogue/play_list_loaders.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue/tables.h"
#include "database_test.h"
#include "frame/settings.h"

namespace rondel {
namespace testing {
namespace {

template <int kCapacity>
std::vector<int32_t> Entries(const PlayList<kCapacity>& list) {
  return std::vector<int32_t>(list.entries, list.entries + list.count);
}

class PlayListLoadersTest : public DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    for (auto* list :
         {&g_catalogue.all_sequence, &g_catalogue.week_sequence,
          &g_catalogue.month_sequence, &g_catalogue.new_sequence}) {
      memset(list, 0, sizeof *list);
    }
    memset(&g_catalogue.user_sequence, 0, sizeof g_catalogue.user_sequence);
  }
  // Media 1..count, and `rows` entries of one chart naming media first + rank.
  void AddMedias(int count) {
    venue_.Exec(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE "
        "i < " +
        std::to_string(count) +
        ") INSERT INTO medias(media_id, media_name, media_code) "
        "SELECT i, 'm' || i, printf('%07d', 4000000 + i) FROM n");
  }
  void AddChart(const std::string& chart, int rows, int first) {
    venue_.Exec(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE "
        "i < " +
        std::to_string(rows) +
        ") INSERT INTO media_charts(chart_name, chart_rank, "
        "media_id) SELECT " +
        Sql(chart) + ", i, " + std::to_string(first) + " + i FROM n");
  }
};

TEST_F(PlayListLoadersTest, SequenceProcedureGetsItsFourteenParameters) {
  ASSERT_EQ(LoadSequence(Sequence::kWeek), 0);
  ASSERT_EQ(LoadSequence(Sequence::kNew), 0);
  auto params = venue_.Query(
      "SELECT j.id, p.ordinal, p.name, p.type, p.output, p.is_null, "
      "CAST(p.value AS TEXT) FROM vdb_journal j JOIN vdb_journal_params p "
      "ON p.journal_id = j.id WHERE j.kind = 'rpc' "
      "AND CAST(j.text AS TEXT) = 'spa_sequencemedia' ORDER BY j.id, "
      "p.ordinal");
  ASSERT_EQ(params.size(), 28u);
  const std::string room = "127.0.0.1";  // the DataBaseServerIp setting
  struct Expected {
    const char* name;
    const char* type;
    const char* value;  // null: sent as NULL
  };
  const Expected week[14] = {
      {"@num", "int", "7"},
      {"@isnewsong", "int", "0"},
      {"@len", "int", "0"},
      {"@soundsequence", "varchar", nullptr},
      {"@Media_HeadStroke", "varchar", nullptr},
      {"@Media_StrokeNum", "int", "0"},
      {"@language_id", "int", "0"},
      {"@language_name", "varchar", nullptr},
      {"@typeid", "int", "1"},
      {"@pagecount", "int", "200"},
      {"@room_id", "int", "0"},
      {"@room_serialno", "varchar", nullptr},
      {"@room_ipaddress", "varchar", room.c_str()},
      {"@media_name", "varchar", nullptr},
  };
  for (int call = 0; call < 2; ++call) {
    for (int i = 0; i < 14; ++i) {
      const Row& row = params[static_cast<size_t>(call * 14 + i)];
      SCOPED_TRACE("call " + std::to_string(call) + " parameter " +
                   std::to_string(i + 1));
      EXPECT_EQ(*row[1], std::to_string(i + 1));
      EXPECT_EQ(*row[2], week[i].name);
      EXPECT_EQ(*row[3], week[i].type);
      EXPECT_EQ(*row[4], "0");  // input only
      std::string value = week[i].value ? week[i].value : "";
      if (call == 1 && i == 0) value = "0";  // New: @num 0, @isnewsong 1
      if (call == 1 && i == 1) value = "1";
      EXPECT_EQ(*row[5], week[i].value ? "0" : "1");
      if (week[i].value) {
        EXPECT_EQ(*row[6], value);
      }
    }
  }
}

TEST_F(PlayListLoadersTest, EachSequenceFillsItsOwnListFromItsChart) {
  AddMedias(60);
  AddChart("all", 3, 0);    // 1, 2, 3
  AddChart("week", 2, 10);  // 11, 12
  AddChart("month", 4, 20);
  AddChart("new", 1, 50);
  EXPECT_EQ(LoadSequence(Sequence::kAll), 3);
  EXPECT_EQ(LoadSequence(Sequence::kWeek), 2);
  EXPECT_EQ(LoadSequence(Sequence::kMonth), 4);
  EXPECT_EQ(LoadSequence(Sequence::kNew), 1);
  EXPECT_EQ(Entries(g_catalogue.all_sequence), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(Entries(g_catalogue.week_sequence), (std::vector<int32_t>{11, 12}));
  EXPECT_EQ(Entries(g_catalogue.month_sequence),
            (std::vector<int32_t>{21, 22, 23, 24}));
  EXPECT_EQ(Entries(g_catalogue.new_sequence), (std::vector<int32_t>{51}));
}

TEST_F(PlayListLoadersTest, SequenceStoresAtMost200Of250Rows) {
  // The procedure's own page size would stop at 200; a body returning 250 rows
  // shows the loader's own bound, with the rows spread over two result sets.
  ReplaceProcedure(
      "spa_sequencemedia",
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
      "WHERE i < 150) SELECT i FROM n;"
      "WITH RECURSIVE n(i) AS (SELECT 151 UNION ALL SELECT i + 1 FROM n "
      "WHERE i < 250) SELECT i FROM n;");
  ASSERT_EQ(LoadSequence(Sequence::kMonth), kSequenceCapacity);
  EXPECT_EQ(g_catalogue.month_sequence.count, kSequenceCapacity);
  std::vector<int32_t> expected;
  for (int32_t i = 1; i <= 200; ++i) expected.push_back(i);
  EXPECT_EQ(Entries(g_catalogue.month_sequence), expected);
}

TEST_F(PlayListLoadersTest, UserSequenceFollowsItsOrderColumn) {
  venue_.Exec(
      "INSERT INTO MediaUserSet VALUES(1, 500, 3), (2, 400, 1), (3, 300, 2)");
  ASSERT_EQ(LoadUserSequence(), 3);
  EXPECT_EQ(Entries(g_catalogue.user_sequence),
            (std::vector<int32_t>{400, 300, 500}));
  ASSERT_EQ(Requests("batch",
                     "select MediaUserSet_MediaId from MediaUserSet order by "
                     "MediaUserSet_Shunxu")
                .size(),
            1u);
}

TEST_F(PlayListLoadersTest, UserSequenceStoresAtMost100000) {
  venue_.Exec(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i "
      "< 100005) "
      "INSERT INTO MediaUserSet SELECT i, i + 7, i FROM n");
  ASSERT_EQ(LoadUserSequence(), kUserSequenceCapacity);
  EXPECT_EQ(g_catalogue.user_sequence.count, kUserSequenceCapacity);
  EXPECT_EQ(g_catalogue.user_sequence.entries[0], 8);
  EXPECT_EQ(g_catalogue.user_sequence.entries[kUserSequenceCapacity - 1],
            100007);
}

TEST_F(PlayListLoadersTest,
       FailedSequenceKeepsWhatItStoredAndZeroesCountFirst) {
  g_catalogue.all_sequence.count = 77;
  PointAtNothing();
  EXPECT_EQ(LoadSequence(Sequence::kAll), -1);
  EXPECT_EQ(g_catalogue.all_sequence.count, 0);
  g_catalogue.user_sequence.count = 5;
  EXPECT_EQ(LoadUserSequence(), -1);
  EXPECT_EQ(g_catalogue.user_sequence.count, 0);
}

TEST_F(PlayListLoadersTest, SequenceLostMidResultFailsKeepingItsEntries) {
  AddMedias(10);
  AddChart("all", 10, 0);
  venue_.Exec(
      "INSERT INTO vdb_faults VALUES('close_after_rows', 'spa_sequencemedia', "
      "3)");
  EXPECT_EQ(LoadSequence(Sequence::kAll), -1);
  EXPECT_EQ(Entries(g_catalogue.all_sequence), (std::vector<int32_t>{1, 2, 3}));
}

TEST_F(PlayListLoadersTest, PlayTypeComesFromConfigureRowOne) {
  EXPECT_FALSE(LoadPlayType());  // no row: the play type keeps its value
  EXPECT_EQ(g_play_type, 2);
  venue_.Exec(
      "INSERT INTO configures(Configure_ID, Configure_Set01) VALUES(2, 9)");
  EXPECT_FALSE(LoadPlayType());
  venue_.Exec(
      "INSERT INTO configures(Configure_ID, Configure_Set01) VALUES(1, 7)");
  EXPECT_TRUE(LoadPlayType());
  EXPECT_EQ(g_play_type, 7);
  venue_.Exec(
      "UPDATE configures SET Configure_Set01 = NULL WHERE Configure_ID = 1");
  EXPECT_TRUE(LoadPlayType());
  EXPECT_EQ(g_play_type, 0);  // NULL reads as 0
  EXPECT_EQ(Requests("batch",
                     "select Configure_Set01 as PlayType from configures where "
                     "Configure_ID=1")
                .size(),
            4u);
  PointAtNothing();
  g_play_type = 5;
  EXPECT_FALSE(LoadPlayType());
  EXPECT_EQ(g_play_type, 5);
}

}  // namespace
}  // namespace testing
}  // namespace rondel
