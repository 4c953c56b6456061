// The catalogue stage of start-up, end to end against venuedb: the full
// refresh, the fall back to the snapshot files when the refresh fails, when the
// database does not know this server and when nothing answers. Each start-up
// runs in its own child process.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "captured_log.h"
#include "catalogue/tables.h"
#include "database_test.h"
#include "files.h"
#include "platform/file.h"
#include "platform/message_log.h"
#include "platform/net_test_hooks.h"
#include "platform/settings_file.h"
#include "playback/lookups.h"
#include "startup_harness.h"
#include "test_system.h"

namespace rondel {
namespace testing {
namespace {

// Local addresses A then B; the venue lists B (id 3, group 2) before A (id 7,
// group 4).
const char kAddressA[] = "10.20.0.7";
const char kAddressB[] = "10.20.0.8";
const std::string kGbkName = "\xD6\xDC\xBD\xDC\xC2\xD7\xB5\xC4\xB8\xE8";

template <int kCapacity>
std::vector<int32_t> Leading(const PlayList<kCapacity>& list, int n) {
  return std::vector<int32_t>(list.entries, list.entries + n);
}

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(venue_.port(), 0);
    settings_path_ = venue_.WriteSettingsFile("10.9.9.9");
    snapshot_dir_ = venue_.folder() + "/VideoServertable/";
    SetEnv("RONDEL_SETTINGS_FILE", settings_path_);
    SetEnv("RONDEL_SNAPSHOT_DIR", snapshot_dir_);
    SetEnv("RONDEL_DIAG_TARGET", "127.0.0.1:9");
    platform::OverrideHostAddresses({kAddressA, kAddressB});
    SeedVenue();
  }

  void SeedVenue() {
    venue_.Exec(
        "INSERT INTO server_groups(group_id, group_name) VALUES(1, 'g1'), (2, "
        "'g2'), (4, "
        "'g4');"
        "INSERT INTO fileservers(fileserver_id, fileserver_name, "
        "fileserver_IpAddress, "
        "stream_port, group_id, max_connections) VALUES"
        "(3, 'B', '10.20.0.8', 8003, 2, 50), (7, 'A', '10.20.0.7', 8007, 4, "
        "70),"
        "(11, 'C', '10.20.0.99', 8011, 1, 90);"
        "INSERT INTO rooms(room_id, room_info, room_address, room_number) "
        "VALUES"
        "(1, 'R1', '10.30.0.1', 101), (2, " +
        SqlBytes("\xB0\xFC\xCF\xE1") +
        ", '10.30.0.2', 65538), (3, 'R3', '10.30.0.3', -1);"
        "INSERT INTO medias(media_id, media_name, media_code, volume) VALUES"
        "(101, 'film', '10500', 60), (102, " +
        SqlBytes(kGbkName) +
        ", '8000001', 61), (103, 'ad', '30000', 62), (104, 'song', '20000', "
        "63),"
        "(105, 'elsewhere', '20001', 64);"
        "INSERT INTO media_files VALUES(2, 101, 1, 'f1a'), (2, 101, 2, 'f1b'),"
        "(2, 102, 1, " +
        SqlBytes("\\\\fs\\\xB8\xE8.mpg") +
        "), (2, 103, 1, 'ad.mpg'), (2, 104, 1, 's.mpg'), (1, 105, 1, 'x.mpg');"
        "INSERT INTO configures(Configure_ID, Configure_Set01) VALUES(1, 7);"
        "INSERT INTO media_charts(chart_name, chart_rank, media_id) VALUES"
        "('all', 1, 101), ('all', 2, 102), ('week', 1, 102), ('month', 1, 104),"
        "('new', 1, 103);"
        "INSERT INTO MediaUserSet VALUES(1, 104, 2), (2, 101, 1);");
  }

  // The catalogue that the seeded venue gives this server, however it was
  // loaded.
  static void ExpectSeededCatalogue() {
    const TableRecords& counters = g_catalogue.table_records;
    EXPECT_EQ(counters.FileServerCount, 3);
    EXPECT_EQ(counters.RoomCount, 3);
    EXPECT_EQ(counters.MediaCount, 4);
    EXPECT_EQ(counters.FilmCount, 1);
    EXPECT_EQ(counters.SongCount, 2);
    EXPECT_EQ(counters.AdCount, 1);
    EXPECT_EQ(g_catalogue.identity_file_server_id, 3);
    EXPECT_EQ(g_catalogue.identity_group_id, 2);
    EXPECT_EQ(FieldText(g_catalogue.file_servers[1].ServerAddress, 20),
              kAddressA);
    EXPECT_EQ(int32_t{g_catalogue.rooms[1].RoomNumber}, 2);
    EXPECT_EQ(int32_t{g_catalogue.rooms[2].RoomNumber}, 65535);
    EXPECT_EQ(FieldText(g_catalogue.rooms[1].RoomInfo, 20), "\xB0\xFC\xCF\xE1");
    const MediaRecord* song = FindMedia(102);
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(std::string(song->MediaName, kGbkName.size() + 1),
              kGbkName + '\0');
    EXPECT_EQ(FileListPaths(*song),
              std::vector<std::string>{"\\\\fs\\\xB8\xE8.mpg"});
    EXPECT_EQ(int32_t{song->GroupId}, 2);
    EXPECT_EQ(int32_t{song->NumberA}, 61);
    const MediaRecord* film = FindMedia(101);
    ASSERT_NE(film, nullptr);
    EXPECT_EQ(FileListPaths(*film), (std::vector<std::string>{"f1a", "f1b"}));
    EXPECT_EQ(FindMedia(105), nullptr);  // another group's media
    EXPECT_EQ(int32_t{g_catalogue.song_index[0].MediaId}, 102);
    EXPECT_EQ(int32_t{g_catalogue.song_index[0].CataloguePosition}, 1);
    EXPECT_EQ(int32_t{g_catalogue.ad_index[0].MediaId}, 103);
    EXPECT_EQ(Leading(g_catalogue.all_sequence, 3),
              (std::vector<int32_t>{101, 102, 0}));
    EXPECT_EQ(Leading(g_catalogue.week_sequence, 2),
              (std::vector<int32_t>{102, 0}));
    EXPECT_EQ(Leading(g_catalogue.month_sequence, 2),
              (std::vector<int32_t>{104, 0}));
    EXPECT_EQ(Leading(g_catalogue.new_sequence, 2),
              (std::vector<int32_t>{103, 0}));
    EXPECT_EQ(Leading(g_catalogue.user_sequence, 3),
              (std::vector<int32_t>{101, 104, 0}));
  }

  // A start-up from the database that must succeed: leaves the snapshot files
  // behind.
  void FullRefreshInChild() {
    InChildProcess([] {
      RunStartup();
      ExpectSeededCatalogue();
      EXPECT_EQ(g_play_type, 7);
    });
  }

  // Requests after the logins, as (kind, text), from journal id `after` on.
  std::vector<std::string> Requests(long after = 0) {
    std::vector<std::string> out;
    for (const Row& row :
         venue_.Query("SELECT kind, CAST(text AS TEXT) FROM vdb_journal WHERE "
                      "kind IN ('rpc', "
                      "'batch') AND id > " +
                      std::to_string(after) + " ORDER BY id")) {
      out.push_back(*row[0] + " " + row[1].value_or(""));
    }
    return out;
  }
  long LastJournalId() {
    auto rows = venue_.Query("SELECT coalesce(max(id), 0) FROM vdb_journal");
    return rows.empty() ? 0 : std::stol(*rows[0][0]);
  }
  int StoredPlayType() {
    return platform::ReadProfileInt(settings_path_.c_str(), "VideoServer",
                                    "RandPlayType", -99);
  }

  VenueServer venue_;
  std::string settings_path_;
  std::string snapshot_dir_;
};

TEST_F(StartupTest,
       FullRefreshLoadsEverythingSavesSnapshotsAndPersistsPlayType) {
  ASSERT_EQ(StoredPlayType(), -99);
  InChildProcess([this] {
    RunStartup();
    ExpectSeededCatalogue();
    EXPECT_EQ(g_play_type, 7);
    EXPECT_EQ(g_catalogue.all_sequence.count, 2);
    EXPECT_EQ(g_catalogue.user_sequence.count, 2);
    EXPECT_EQ(
        Leading(g_catalogue.prefix86_list, g_catalogue.prefix86_list.count),
        std::vector<int32_t>{102});
    // The media snapshot holds the records byte for byte, GBK name included.
    const std::string medias = ReadFileBytes(snapshot_dir_ + "Medias.tbl");
    ASSERT_EQ(medias.size(), 80u + 4 * sizeof(MediaRecord));
    EXPECT_EQ(
        memcmp(medias.data() + 80, g_catalogue.medias, 4 * sizeof(MediaRecord)),
        0);
    EXPECT_EQ(medias.substr(80 + sizeof(MediaRecord) + 4, kGbkName.size() + 1),
              kGbkName + '\0');
  });

  EXPECT_EQ(StoredPlayType(), 7);
  auto files = ReadSnapshotFiles(snapshot_dir_);
  EXPECT_EQ(files.size(), 9u);
  const std::string& counters = files["TABLE_RECORDS.tbl"];
  ASSERT_EQ(counters.size(), 108u);
  int32_t saved[7];
  memcpy(saved, counters.data() + 80, sizeof saved);
  // MediaCount, Reserved, RoomCount, FileServerCount; class counts are built
  // after the save.
  EXPECT_EQ(std::vector<int32_t>(saved, saved + 7),
            (std::vector<int32_t>{4, 0, 3, 3, 0, 0, 0}));
  EXPECT_EQ(files["Rooms.tbl"].size(), 80u + 3 * sizeof(RoomRecord));
  EXPECT_EQ(files["FILE_SERVERS.tbl"].size(),
            80u + 3 * sizeof(FileServerRecord));
  EXPECT_EQ(files["AllSequence.tbl"].size(), 80u + 2 * 4);
  EXPECT_EQ(files["NewSequence.tbl"].size(), 80u + 1 * 4);

  // Ten connections, one after the other: the test connection and one per
  // loader, the loaders in their fixed order.
  auto logins =
      venue_.Query("SELECT count(*) FROM vdb_journal WHERE kind = 'login'");
  EXPECT_EQ(*logins[0][0], "10");
  EXPECT_EQ(
      Requests(),
      (std::vector<std::string>{
          "rpc sp_getAllfileservers", "rpc sp_getroomInfobyvideoserver",
          "rpc sp_getmediainfobyvideoserver",
          "batch select Configure_Set01 as PlayType from configures where "
          "Configure_ID=1",
          "rpc spa_sequencemedia", "rpc spa_sequencemedia",
          "rpc spa_sequencemedia", "rpc spa_sequencemedia",
          "batch select MediaUserSet_MediaId from MediaUserSet order by "
          "MediaUserSet_Shunxu"}));
  // The play lists in the order All, Week, Month, New: (@num, @isnewsong) per
  // call.
  std::vector<std::string> lists;
  for (const Row& row : venue_.Query(
           "SELECT group_concat(CAST(p.value AS TEXT), ',') FROM vdb_journal j "
           "JOIN vdb_journal_params p ON p.journal_id = j.id "
           "WHERE CAST(j.text AS TEXT) = 'spa_sequencemedia' AND p.ordinal <= "
           "2 "
           "GROUP BY j.id ORDER BY j.id")) {
    lists.push_back(*row[0]);
  }
  EXPECT_EQ(lists, (std::vector<std::string>{"0,0", "7,0", "30,0", "0,1"}));
}

TEST_F(StartupTest, FailingRoomsProcedureStartsFromTheUntouchedSnapshots) {
  FullRefreshInChild();
  const auto before = ReadSnapshotFiles(snapshot_dir_);
  const std::string settings_before = ReadFileBytes(settings_path_);
  ASSERT_EQ(before.size(), 9u);

  // The database has moved on, but its rooms procedure fails.
  venue_.Exec(
      "UPDATE configures SET Configure_Set01 = 9 WHERE Configure_ID = 1;"
      "INSERT INTO medias(media_id, media_name, media_code) VALUES(106, 'new', "
      "'20002');"
      "INSERT INTO media_files VALUES(2, 106, 1, 'n.mpg');"
      "INSERT INTO vdb_faults VALUES('fail_procedure', "
      "'sp_getroomInfobyvideoserver', 0)");
  const long mark = LastJournalId();
  InChildProcess([] {
    RunStartup();
    ExpectSeededCatalogue();
    EXPECT_EQ(FindMedia(106), nullptr);
    EXPECT_EQ(g_play_type,
              7);  // from the RandPlayType setting, not the database's 9
    // Play-list counts are not kept in the snapshots; Prefix86List is not kept
    // at all.
    EXPECT_EQ(g_catalogue.all_sequence.count, 0);
    EXPECT_EQ(g_catalogue.prefix86_list.count, 0);
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(int32_t{g_catalogue.rooms[i].PlayCursor}, -1);
  });
  EXPECT_EQ(ReadSnapshotFiles(snapshot_dir_), before);
  EXPECT_EQ(ReadFileBytes(settings_path_), settings_before);
  // The refresh stopped at the rooms.
  EXPECT_EQ(Requests(mark),
            (std::vector<std::string>{"rpc sp_getAllfileservers",
                                      "rpc sp_getroomInfobyvideoserver"}));
}

// The media snapshot is written while the play lists load: a load that fails
// after that (here at the user play list) must leave the last good set as it
// was and no temporary behind, and the next full load saves the new catalogue.
TEST_F(StartupTest, RefreshFailingAfterTheMediaKeepsTheLastGoodSet) {
  FullRefreshInChild();
  FullRefreshInChild();  // the replaced media file is now kept for reuse
  const auto before = ReadSnapshotFiles(snapshot_dir_);
  venue_.Exec(
      "INSERT INTO medias(media_id, media_name, media_code) VALUES(106, 'new', "
      "'20002');"
      "INSERT INTO media_files VALUES(2, 106, 1, 'n.mpg');"
      "ALTER TABLE MediaUserSet RENAME TO MediaUserSetGone");
  InChildProcess([] {
    RunStartup();
    ExpectSeededCatalogue();
    EXPECT_EQ(FindMedia(106), nullptr);
  });
  EXPECT_EQ(ReadSnapshotFiles(snapshot_dir_), before);
  EXPECT_FALSE(PathExists(snapshot_dir_ + "Medias.tbl.new"));

  venue_.Exec("ALTER TABLE MediaUserSetGone RENAME TO MediaUserSet");
  InChildProcess([] {
    RunStartup();
    EXPECT_NE(FindMedia(106), nullptr);
  });
  // Offline now: the saved set holds the new media.
  venue_.Stop();
  InChildProcess([] {
    RunStartup();
    EXPECT_EQ(g_catalogue.table_records.MediaCount, 5);
    EXPECT_NE(FindMedia(106), nullptr);
  });
  EXPECT_FALSE(PathExists(snapshot_dir_ + "Medias.tbl.new"));
}

// The five play lists and Prefix86List as background play sees them: counts,
// then the leading entries.
std::string PlayListState() {
  const Catalogue& c = g_catalogue;
  std::string state;
  auto add = [&](const char* name, const int32_t* entries, int32_t count) {
    state += std::string(name) + " " + std::to_string(count) + ":";
    for (int i = 0; i < 8; ++i) state += " " + std::to_string(entries[i]);
    state += "\n";
  };
  add("all", c.all_sequence.entries, c.all_sequence.count);
  add("week", c.week_sequence.entries, c.week_sequence.count);
  add("month", c.month_sequence.entries, c.month_sequence.count);
  add("new", c.new_sequence.entries, c.new_sequence.count);
  add("user", c.user_sequence.entries, c.user_sequence.count);
  add("86", c.prefix86_list.entries, c.prefix86_list.count);
  return state;
}

TEST_F(StartupTest, FailedRefreshServesWhatAnOfflineStartServes) {
  FullRefreshInChild();
  // The database's lists now run longer than the snapshot's, with a song the
  // snapshot does not hold; the refresh then fails at its last step.
  venue_.Exec(
      "INSERT INTO medias(media_id, media_name, media_code) VALUES(107, 'n', "
      "'8000002');"
      "INSERT INTO media_files VALUES(2, 107, 1, 'n.mpg');"
      "INSERT INTO media_charts(chart_name, chart_rank, media_id) VALUES"
      "('all', 3, 107), ('week', 2, 107), ('month', 2, 107), ('new', 2, 107);"
      "ALTER TABLE MediaUserSet RENAME TO MediaUserSetGone");
  const std::string failed_refresh = venue_.folder() + "/failed-refresh";
  const std::string offline = venue_.folder() + "/offline";
  InChildProcess([&] {
    RunStartup();
    WriteFileBytes(failed_refresh, PlayListState());
  });
  venue_.Stop();
  InChildProcess([&] {
    RunStartup();
    WriteFileBytes(offline, PlayListState());
  });
  EXPECT_EQ(ReadFileBytes(failed_refresh), ReadFileBytes(offline));
}

TEST_F(StartupTest, DatabaseThatDoesNotKnowThisServerStartsFromTheSnapshots) {
  FullRefreshInChild();
  const auto before = ReadSnapshotFiles(snapshot_dir_);
  venue_.Exec(
      "UPDATE fileservers SET fileserver_IpAddress = '10.99.0.' || "
      "fileserver_id;"
      "UPDATE configures SET Configure_Set01 = 9 WHERE Configure_ID = 1");
  const long mark = LastJournalId();
  InChildProcess([] {
    RunStartup();
    ExpectSeededCatalogue();  // identity (3, 2) found again in the snapshot's
                              // file servers
    EXPECT_EQ(g_play_type, 7);
  });
  EXPECT_EQ(ReadSnapshotFiles(snapshot_dir_), before);
  EXPECT_EQ(StoredPlayType(), 7);
  EXPECT_EQ(Requests(mark),
            std::vector<std::string>{"rpc sp_getAllfileservers"});
}

TEST_F(StartupTest, NoDatabaseStartsFromTheSnapshotsWithTheStoredPlayType) {
  FullRefreshInChild();
  const auto before = ReadSnapshotFiles(snapshot_dir_);
  platform::WriteProfileString(settings_path_.c_str(), "VideoServer",
                               "RandPlayType", "12");
  venue_.Stop();
  InChildProcess([] {
    RunStartup();
    ExpectSeededCatalogue();
    EXPECT_EQ(g_play_type, 12);
  });
  EXPECT_EQ(ReadSnapshotFiles(snapshot_dir_), before);
  EXPECT_EQ(StoredPlayType(), 12);
}

TEST_F(StartupTest, NoDatabaseAndNoSnapshotsStartsEmpty) {
  venue_.Stop();
  InChildProcess([] {
    RunStartup();
    const TableRecords& counters = g_catalogue.table_records;
    EXPECT_EQ(counters.MediaCount, 0);
    EXPECT_EQ(counters.RoomCount, 0);
    EXPECT_EQ(counters.FileServerCount, 0);
    EXPECT_EQ(counters.SongCount, 0);
    EXPECT_EQ(g_catalogue.identity_file_server_id, 0);
    EXPECT_EQ(g_catalogue.identity_group_id, 0);
    EXPECT_EQ(g_play_type, 2);  // no RandPlayType setting
  });
  EXPECT_EQ(StoredPlayType(), -99);
  EXPECT_TRUE(ReadSnapshotFiles(snapshot_dir_).empty());
}

// Each start-up ends with one line saying where its catalogue came from.
TEST_F(StartupTest, StartLineSaysWhereTheCatalogueCameFrom) {
  CapturedLog log(venue_.folder() + "/rondel.log");
  const std::string database =
      "127.0.0.1:" + std::to_string(venue_.port()) + " \"karaok\"";
  FullRefreshInChild();
  const std::string written =
      platform::FileWrittenStamp(snapshot_dir_ + "TABLE_RECORDS.tbl");
  ASSERT_FALSE(written.empty());
  venue_.Stop();
  InChildProcess([] { RunStartup(); });
  for (const snapshot::TableFormat& table : snapshot::kTables) {
    ASSERT_TRUE(platform::RemoveFile(snapshot_dir_ + table.file_name));
  }
  InChildProcess([] { RunStartup(); });
  std::vector<std::string> started;
  for (const std::string& line : log.Lines()) {
    if (line.rfind("started from", 0) == 0) started.push_back(line);
  }
  EXPECT_EQ(started,
            (std::vector<std::string>{
                "started from the database " + database +
                    ": 4 media, 3 rooms, 3 file servers",
                "started from the snapshot set written " + written +
                    " (the database " + database +
                    " does not answer): 4 media, 3 rooms, 3 file servers",
                "started from nothing, every lookup will fail (the database " +
                    database +
                    " does not answer; no whole snapshot set: "
                    "TABLE_RECORDS.tbl: missing): 0 media, 0 rooms, 0 file "
                    "servers"}));
}

TEST_F(StartupTest, EmptyRoomTableIsNoFailure) {
  venue_.Exec("DELETE FROM rooms");
  InChildProcess([] {
    RunStartup();
    EXPECT_EQ(g_catalogue.table_records.RoomCount, 0);
    EXPECT_EQ(g_catalogue.table_records.MediaCount, 4);
    EXPECT_EQ(g_play_type, 7);
  });
  EXPECT_EQ(ReadFileBytes(snapshot_dir_ + "Rooms.tbl").size(), 80u);
  EXPECT_EQ(StoredPlayType(), 7);
}

TEST_F(StartupTest, MissingPlayTypeRowFailsTheRefresh) {
  FullRefreshInChild();
  const auto before = ReadSnapshotFiles(snapshot_dir_);
  venue_.Exec("DELETE FROM configures");
  InChildProcess([] {
    RunStartup();
    ExpectSeededCatalogue();
    EXPECT_EQ(g_play_type, 7);
  });
  EXPECT_EQ(ReadSnapshotFiles(snapshot_dir_), before);
}

// The same seeded venue kept as GBK varchar, as Unicode nvarchar and as GBK
// bytes under a Latin-1 collation: each start-up writes the GBK venue's
// snapshot set, byte for byte.
TEST(VenueShapesStartupTest, EveryShapeWritesTheGbkVenuesSnapshotSet) {
  if (TestVenue() != "gbk") GTEST_SKIP() << "compares the three shapes itself";
  SetEnv("RONDEL_DIAG_TARGET", "127.0.0.1:9");
  platform::OverrideHostAddresses({"127.0.0.1"});
  std::map<std::string, std::map<std::string, std::string>> sets;
  for (const std::string venue : {"gbk", "unicode", "latin1"}) {
    VenueServer server({"--venue", venue, "--medias", "200", "--rooms", "12"});
    ASSERT_NE(server.port(), 0);
    const std::string directory = server.folder() + "/VideoServertable/";
    SetEnv("RONDEL_SETTINGS_FILE", server.WriteSettingsFile("10.9.9.9"));
    SetEnv("RONDEL_SNAPSHOT_DIR", directory);
    InChildProcess([] { RunStartup(); });
    sets[venue] = ReadSnapshotFiles(directory);
  }
  ASSERT_EQ(sets["gbk"].size(), 9u);
  for (const std::string venue : {"unicode", "latin1"}) {
    for (const auto& [name, bytes] : sets["gbk"]) {
      const std::string& shown = sets[venue][name];
      size_t at = 0;
      while (at < bytes.size() && at < shown.size() && bytes[at] == shown[at]) {
        ++at;
      }
      EXPECT_TRUE(bytes == shown)
          << venue << " " << name << ": " << shown.size() << " bytes, not "
          << bytes.size() << "; first difference at " << at;
    }
  }
}

}  // namespace
}  // namespace testing
}  // namespace rondel
