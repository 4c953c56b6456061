// Loading checks every header field and counter: a failing table stops the load
// with the tables before it loaded and the tables after it untouched; nothing a
// file holds can make the load read or write beyond a table.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "catalogue/snapshot_store.h"
#include "catalogue/tables.h"
#include "catalogue_records.h"
#include "files.h"
#include "scratch_dir.h"
#include "snapshot_damage_cases.h"
#include "snapshot_files.h"
#include "test_system.h"

namespace rondel {
namespace {

using testing::SetEnv;
using testing::UnsetEnv;

using testing::DamageCase;
using testing::Le32;
using testing::PutLe32;

class SnapshotLoadChecksTest : public ::testing::TestWithParam<DamageCase> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    SetEnv("RONDEL_SNAPSHOT_DIR", dir_.path());
  }
  void TearDown() override { UnsetEnv("RONDEL_SNAPSHOT_DIR"); }

  // Table k holds the saved records in its counted span and the paint beyond
  // it.
  static void ExpectLoaded(int k, const std::string& saved,
                           const std::string& painted) {
    const std::string now = testing::TableBytes(k);
    const size_t in_use = testing::kFilledBytes[k];
    EXPECT_EQ(now.substr(0, in_use), saved.substr(0, in_use))
        << "table " << k << " was not loaded";
    EXPECT_EQ(now.substr(in_use), painted.substr(in_use))
        << "table " << k << " changed beyond its records";
  }

  testing::ScratchDir dir_;
  SnapshotStore store_;
};

TEST_P(SnapshotLoadChecksTest, FailingTableStopsTheLoad) {
  const DamageCase& c = GetParam();
  testing::FillCatalogue(11);
  std::string saved[9];
  for (int k = 0; k < 9; ++k) saved[k] = testing::TableBytes(k);
  ASSERT_TRUE(store_.SaveAllTables());

  testing::ApplyDamage(dir_.path(), c);

  ResetCatalogue();
  testing::PaintTables();
  std::string painted[9];
  for (int k = 0; k < 9; ++k) painted[k] = testing::TableBytes(k);

  EXPECT_EQ(store_.LoadAllTables(), c.load_succeeds);
  EXPECT_EQ(store_.LastLoad().reason, c.reason);
  if (c.load_succeeds) {
    for (int k = 0; k < 9; ++k) ExpectLoaded(k, saved[k], painted[k]);
    return;
  }
  // The counters of tables that failed or were not reached drop to the 0
  // records those tables brought.
  std::string counters = saved[0];
  if (c.table <= 2) PutLe32(counters, 0, 0);   // Medias
  if (c.table <= 1) PutLe32(counters, 8, 0);   // Rooms
  if (c.table <= 3) PutLe32(counters, 12, 0);  // FILE_SERVERS
  if (c.table > 0) ExpectLoaded(0, counters, painted[0]);
  for (int k = 1; k < c.table; ++k) ExpectLoaded(k, saved[k], painted[k]);
  for (int k = c.table + 1; k < 9; ++k) {
    EXPECT_EQ(testing::TableBytes(k), painted[k])
        << "table " << k << " after the failure";
  }
  if (c.table == 0) {
    // Counters out of range clear all seven.
    const TableRecords& t = g_catalogue.table_records;
    EXPECT_EQ(t.MediaCount, 0);
    EXPECT_EQ(t.Reserved, 0);
    EXPECT_EQ(t.RoomCount, 0);
    EXPECT_EQ(t.FileServerCount, 0);
    EXPECT_EQ(t.FilmCount + t.SongCount + t.AdCount, 0);
  } else if (c.failing_table_zeroed) {
    const std::string now = testing::TableBytes(c.table);
    const size_t span = testing::kFilledBytes[c.table];
    EXPECT_EQ(now.substr(0, span), std::string(span, '\0'));
    EXPECT_EQ(now.substr(span), painted[c.table].substr(span));
  } else {
    EXPECT_EQ(testing::TableBytes(c.table), painted[c.table]);
  }
}

// A set mixed by a crash: TABLE_RECORDS counts other numbers of records than
// the tables hold. Larger counters drop to the records loaded; smaller ones
// decide.
TEST(SnapshotCountersTest, CountersNeverExceedTheRecordsLoaded) {
  testing::ScratchDir dir;
  SetEnv("RONDEL_SNAPSHOT_DIR", dir.path());
  SnapshotStore store;
  testing::FillCatalogue(11);  // 5 media, 3 rooms, 2 file servers
  ASSERT_TRUE(store.SaveAllTables());
  const std::string path = dir.File("TABLE_RECORDS.tbl");
  std::string bytes = testing::ReadFileBytes(path);
  PutLe32(bytes, 80 + 0, 9);    // media: more than the 5 records
  PutLe32(bytes, 80 + 8, 2);    // rooms: fewer than the 3 records
  PutLe32(bytes, 80 + 12, 20);  // file servers: more than the 2 records
  testing::WriteFileBytes(path, bytes);
  ResetCatalogue();
  EXPECT_TRUE(store.LoadAllTables());
  const TableRecords& t = g_catalogue.table_records;
  EXPECT_EQ(
      std::vector<int32_t>({t.MediaCount, t.RoomCount, t.FileServerCount}),
      std::vector<int32_t>({5, 2, 2}));
  UnsetEnv("RONDEL_SNAPSHOT_DIR");
}

INSTANTIATE_TEST_SUITE_P(Damage, SnapshotLoadChecksTest,
                         ::testing::ValuesIn(testing::kDamageCases),
                         [](const ::testing::TestParamInfo<DamageCase>& info) {
                           return std::string(info.param.name);
                         });

class SnapshotHostileFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    SetEnv("RONDEL_SNAPSHOT_DIR", dir_.path());
    ASSERT_TRUE(store_.PrepareDirectory());
  }
  void TearDown() override { UnsetEnv("RONDEL_SNAPSHOT_DIR"); }

  testing::ScratchDir dir_;
  SnapshotStore store_;
};

TEST_F(SnapshotHostileFileTest, RandomHeadersLoadExactlyWhenConsistent) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 400; ++round) {
    const int k = static_cast<int>(random() % 9);
    struct {
      int32_t size;
      int32_t capacity;
    } const l = {snapshot::kTables[k].record_size,
                 snapshot::kTables[k].capacity};
    int32_t count;
    switch (random() % 4) {
      case 0:
        count = static_cast<int32_t>(random() % 4);
        break;
      case 1:
        count = l.capacity + static_cast<int32_t>(random() % 3) - 1;
        break;
      case 2:
        count = -static_cast<int32_t>(random() % 3) - 1;
        break;
      default:
        count = static_cast<int32_t>(random());
        break;
    }
    const int32_t size =
        l.size +
        (random() % 3 == 0 ? static_cast<int32_t>(random() % 3) - 1 : 0);
    const long long wanted =
        count > 0 && count <= l.capacity ? 1LL * count * size : 0;
    long long present = wanted + static_cast<long long>(random() % 3) - 1;
    if (present < 0) present = 0;
    if (present > 4LL * 1024 * 1024)
      present = 4LL * 1024 * 1024;  // files of sane size

    std::string file =
        std::string("TABLE:\0\0", 8) +
        testing::Field(testing::kSnapshotTables[k].table_name, 64) +
        Le32(count) + Le32(size);
    std::string records(static_cast<size_t>(present), '\0');
    // Counters stay zero so that TABLE_RECORDS fails only on its header.
    if (k != 0) {
      for (char& b : records) b = static_cast<char>(random());
    }
    file += records;
    testing::WriteFileBytes(dir_.File("t.tbl"), file);

    const bool consistent = size == l.size && count >= 0 &&
                            count <= l.capacity && present >= wanted;
    const bool loaded =
        store_.LoadTable("t.tbl", testing::kSnapshotTables[k].table_name);
    EXPECT_EQ(loaded, consistent)
        << "round " << round << " table " << k << " count " << count << " size "
        << size << " bytes " << present;
  }
}

}  // namespace
}  // namespace rondel
