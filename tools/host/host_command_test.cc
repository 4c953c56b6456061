// The host command against the real library: started offline from snapshot
// files written here in the documented format (80-byte header, then raw
// records), and online against a seeded venuedb. What an operator sees.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "catalogue/tables.h"
#include "command.h"
#include "venue_server.h"

namespace rondel {
namespace tools {
namespace {

// Runs the host command in `directory` with the library's settings file and
// snapshot folder; gives its exit status and its standard output.
int RunHost(const std::string& directory, const std::string& settings,
            const std::string& snapshots, const std::string& arguments,
            std::string* output) {
  std::string command = "cd '" + directory + "' && RONDEL_SETTINGS_FILE='" +
                        settings + "' RONDEL_SNAPSHOT_DIR='" + snapshots +
                        "' RONDEL_DIAG_TARGET=127.0.0.1:9 " RONDEL_HOST_PATH
                        " --library " RONDEL_LIBRARY_PATH " " +
                        arguments + " 2>/dev/null";
  return testing::RunCommand(command, output);
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class HostCommandOfflineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/rondel_host_test_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    directory_ = pattern;
    snapshots_ = directory_ + "/VideoServertable";
    ASSERT_EQ(0, mkdir(snapshots_.c_str(), 0755));
    // Port 1 refuses at once: start-up takes its offline path. Background play
    // walks the list of all time (play type 5).
    std::ofstream(directory_ + "/Korvane.ini")
        << "[MainServer]\nDataBaseServerIp=127.0.0.1\nDataBaseServerPort=1\n"
           "[VideoServer]\nRandPlayType=5\n";
    WriteCatalogue();
  }

  void TearDown() override {
    std::string command = "rm -rf '" + directory_ + "'";
    ASSERT_EQ(0, std::system(command.c_str()));
  }

  template <typename Record>
  void WriteTable(const char* table, const std::vector<Record>& records) {
    std::ofstream file(snapshots_ + "/" + table + ".tbl", std::ios::binary);
    char header[80] = "TABLE:";
    std::strncpy(header + 8, table, 63);
    int32_t count = static_cast<int32_t>(records.size());
    int32_t size = sizeof(Record);
    std::memcpy(header + 72, &count, 4);
    std::memcpy(header + 76, &size, 4);
    file.write(header, sizeof(header));
    file.write(reinterpret_cast<const char*>(records.data()),
               static_cast<std::streamsize>(records.size() * sizeof(Record)));
  }

  static MediaRecord Media(int32_t id, const char* name, int32_t media_class,
                           const std::vector<std::string>& paths) {
    MediaRecord m;
    std::memset(&m, 0, sizeof(m));
    m.MediaId = id;
    std::strncpy(m.MediaName, name, sizeof(m.MediaName) - 1);
    std::snprintf(m.MediaCode, sizeof(m.MediaCode), "%07d", 1000000 + id);
    m.Class = media_class;
    std::strcpy(m.TextA, "artist");
    m.NumberA = 80;
    m.NumberC = -3;
    m.GroupId = 2;
    size_t at = 0;
    for (const std::string& path : paths) {
      std::memcpy(m.FileList + at, path.c_str(), path.size() + 1);
      at += path.size() + 1;
    }
    return m;
  }

  void WriteCatalogue() {
    std::vector<MediaRecord> medias = {
        Media(7, "\xb8\xe8\xc7\xfa", kSong, {"/v/7a.mpg", "/v/7b.mpg"}),
        Media(8, "Film", kFilm, {"/v/8.mpg"}), Media(9, "Ad", kAd, {}),
        Media(12, "Song", kSong, {"/v/12.mpg"})};
    RoomRecord room;
    std::memset(&room, 0, sizeof(room));
    room.RoomId = 1;
    std::strcpy(room.RoomInfo, "VIP\xb0\xfc\xcf\xe1");
    std::strcpy(room.RoomAddress, "10.1.0.5");
    room.PlayCursor =
        0;  // it had played the first entry when the set was saved
    FileServerRecord server;
    std::memset(&server, 0, sizeof(server));
    server.FileServerId = 3;
    std::strcpy(server.ServerAddress, "10.2.0.1");
    server.GroupId = 2;
    TableRecords counts = {4, 0, 1, 1, 0, 0, 0};
    WriteTable("TABLE_RECORDS", std::vector<TableRecords>{counts});
    WriteTable("Rooms", std::vector<RoomRecord>{room});
    WriteTable("Medias", medias);
    WriteTable("FILE_SERVERS", std::vector<FileServerRecord>{server});
    for (const char* list : {"AllSequence", "MonthSequence", "WeekSequence",
                             "NewSequence", "UserSequence"}) {
      WriteTable(list, std::vector<int32_t>{12, 8});
    }
  }

  // Runs the host command in the test folder; gives its exit status and output.
  int Host(const std::string& arguments, std::string* output) {
    return RunHost(directory_, directory_ + "/Korvane.ini", snapshots_,
                   arguments, output);
  }

  std::string directory_;
  std::string snapshots_;
};

TEST_F(HostCommandOfflineTest, MediaShowsEveryFieldGbkBytesAndPaths) {
  std::string out;
  ASSERT_EQ(0, Host("media 7 9", &out)) << out;
  EXPECT_TRUE(Contains(out, "name     \"\xb8\xe8\xc7\xfa\" [hex b8 e8 c7 fa]"))
      << out;
  EXPECT_TRUE(Contains(out, "code     \"1000007\"")) << out;
  EXPECT_TRUE(Contains(out, "class    2 (song)")) << out;
  EXPECT_TRUE(Contains(out, "textA    \"artist\"")) << out;
  EXPECT_TRUE(Contains(out, "numberA  80")) << out;
  EXPECT_TRUE(Contains(out, "numberC  -3")) << out;
  EXPECT_TRUE(Contains(out, "groupId  2")) << out;
  EXPECT_TRUE(Contains(
      out, "files    2\n    [1] \"/v/7a.mpg\"\n    [2] \"/v/7b.mpg\"\n"))
      << out;
  EXPECT_TRUE(Contains(out, "media 9\n")) << out;
  EXPECT_TRUE(Contains(out, "class    3 (ad)")) << out;
  EXPECT_TRUE(Contains(out, "files    0\n")) << out;
}

TEST_F(HostCommandOfflineTest,
       UnknownMediaRoomOrServerFailsAfterPrintingTheRest) {
  std::string out;
  EXPECT_EQ(1, Host("media 8 10", &out));
  EXPECT_TRUE(Contains(out, "media 8\n")) << out;
  EXPECT_TRUE(Contains(out, "media 10: not found")) << out;
  EXPECT_EQ(1, Host("room 10.1.0.6", &out));
  EXPECT_TRUE(Contains(out, "room 10.1.0.6: not found")) << out;
  EXPECT_EQ(1, Host("server 10.2.0.2", &out));
  EXPECT_TRUE(Contains(out, "not found (id 0, group 0)")) << out;
}

TEST_F(HostCommandOfflineTest, RoomAndServerLookupsAnswerFromTheSnapshot) {
  std::string out;
  ASSERT_EQ(0, Host("room 10.1.0.5", &out)) << out;
  EXPECT_TRUE(
      Contains(out, "info  \"VIP\xb0\xfc\xcf\xe1\" [hex 56 49 50 b0 fc cf e1]"))
      << out;
  ASSERT_EQ(0, Host("server 10.2.0.1", &out)) << out;
  EXPECT_TRUE(Contains(out, "id     3\n  group  2\n")) << out;
}

TEST_F(HostCommandOfflineTest, StartSummaryCountsWhatTheLookupsFind) {
  std::string out;
  ASSERT_EQ(0, Host("start --probe-ids 1-20 --rooms 10.1.0.1-10.1.0.9 "
                    "--servers 10.2.0.1-10.2.0.3",
                    &out));
  EXPECT_TRUE(Contains(out,
                       "media ids 1-20: 4 found (lowest 7, highest 12)\n"
                       "  class 1 (film): 1\n  class 2 (song): 2\n"
                       "  class 3 (ad): 1\n"))
      << out;
  EXPECT_TRUE(Contains(out, "rooms in 10.1.0.1-10.1.0.9: 1 found\n  10.1.0.5"))
      << out;
  EXPECT_TRUE(Contains(out,
                       "file servers in 10.2.0.1-10.2.0.3: 1 found\n"
                       "  10.2.0.1  id 3, group 2\n"))
      << out;
}

TEST_F(HostCommandOfflineTest, DatabaseQuestionsSayTheDatabaseDidNotAnswer) {
  std::string out;
  EXPECT_EQ(0, Host("songtotal 5", &out));
  EXPECT_TRUE(Contains(out, "GetSongTotal(5) = 0")) << out;
  EXPECT_EQ(1, Host("songtotal --count", &out));
  EXPECT_TRUE(Contains(out, "the database did not answer")) << out;
  EXPECT_EQ(1, Host("options '" + directory_ + "/Korvane.ini'", &out));
  EXPECT_TRUE(Contains(out, "does not answer")) << out;
}

// One run of the command: its arguments, exit status and a part of its output
// that is compared whole.
struct PlaybackCase {
  std::string arguments;
  int status;
  std::string output;
};

TEST_F(HostCommandOfflineTest,
       BackgroundPlayWorksOfflineNextVideoAndFireAlarmDoNot) {
  const PlaybackCase cases[] = {
      {"play 10.1.0.5 -n 3", 0,
       "GetRandPlayMediaID(10.1.0.5), 3 calls\n  1: 8  film \"Film\"\n"
       "  2: 12  song \"Song\"\n  3: 8  film \"Film\"\n"},
      {"play 10.1.0.6", 1,
       "GetRandPlayMediaID(10.1.0.6), 1 call\n  1: -1  (nothing to play)\n"},
      {"next 10.1.0.5", 1,
       "GetNextVideo(10.1.0.5) = 0\n  url      \"\"\n  kind     \"\"\n"
       "  name     \"\"\n  code     \"\"\n  textA    \"\"\n  textB    \"\"\n"
       "  numberA  0\n  numberB  0\n  numberC  0\n  diagnostic texts: 2\n"
       "    \"GetNextVideo begin\"\n    \"get ad media error\"\n"},
      {"firealarm 10.1.0.5", 1,
       "GetFirealarmVideo(10.1.0.5) = 0\n  url      \"\"\n  format1  \"\"\n"
       "  format2  \"\"\n"},
      {"firepage", 1, "GetFirealarmPage = 0\n  page     \"\"\n"},
  };
  for (const PlaybackCase& c : cases) {
    std::string out;
    EXPECT_EQ(c.status, Host(c.arguments, &out)) << c.arguments;
    EXPECT_EQ("InitialDatabase: done\n" + c.output, out) << c.arguments;
  }
}

// Without the database: authorization is granted with the outputs untouched,
// the other calls fail, and the connection-count change still reports its way
// in and out of the lock.
TEST_F(HostCommandOfflineTest, RecordsWithoutTheDatabase) {
  const PlaybackCase cases[] = {
      {"authorize 10.1.0.5 7 r", 0,
       "GetAuthorization(room \"10.1.0.5\", media 7, reserved \"r\") = 1 "
       "(authorized)\n  errorCode   0\n  errorText   \"\"\n"},
      {"addlog 10.1.0.5 7", 1,
       "AddLog(room \"10.1.0.5\", media 7, reserved (none)) = 0\n"
       "  tradeLogId  0\n  errorCode   0\n  errorText   \"\"\n"},
      {"playtime 7 10.1.0.5 a b 2", 0,
       "SaveVideoTime(media 7, room \"10.1.0.5\", begin \"a\", end \"b\", "
       "type 2) = 0\n"},
      {"dataserver", 1,
       "GetDataServer = 0\n  FileServerIP  not observable (no fire-alarm URL "
       "answered)\n"},
      {"group 3", 1, "GetServerGroup(3) = false\n  groupId  -1\n"},
      {"conn get 2", 1,
       "GetVideoServerConnectNum(group 2, server 0) = false\n"
       "  connections  -1\n  address      \"\"\n"},
      {"conn modify 2 3 1 10 10.2.0.1", 1,
       "ModifyVideoServerConnectNum(group 2, server 3, connections 1, total "
       "10, address \"10.2.0.1\") = false\n  diagnostic texts: 4\n"
       "    \"into Critical\"\n    \"into Critical1\"\n"
       "    \"have into Critical\"\n    \"leave Critical\"\n"},
      {"groupstate 1 2", 1, "ModifyGroupState(isValid 1, group 2) = 0\n"},
  };
  for (const PlaybackCase& c : cases) {
    std::string out;
    EXPECT_EQ(c.status, Host(c.arguments, &out)) << c.arguments;
    EXPECT_EQ("InitialDatabase: done\n" + c.output, out) << c.arguments;
  }
}

// Each records and registry action once, in order, against a seeded venue of
// 8 rooms; the database holds what they wrote.
TEST(HostCommandOnlineTest, RecordsAndRegistryGoThroughTheDatabase) {
  rondel::testing::VenueServer venue({"--medias", "300", "--rooms", "8"});
  const std::string settings = venue.WriteSettingsFile("10.9.9.9");
  auto value = [&venue](const std::string& sql) {
    auto rows = venue.Query(sql);
    return !rows.empty() && rows[0][0] ? *rows[0][0] : std::string("(none)");
  };
  const std::string id = value("SELECT max(tradelog_id) + 1 FROM trade_logs");
  const std::string film = value(
      "SELECT media_id FROM authorizations WHERE room_address IS NOT "
      "NULL AND media_id IS NOT NULL AND allowed = 0");
  const std::string withdrawn =
      value("SELECT media_id FROM authorizations WHERE room_address IS NULL");
  const std::string ok = "  errorCode   0\n  errorText   \"\"\n";
  const PlaybackCase cases[] = {
      {"addlog 10.0.1.10 8 seat-4", 0,
       "AddLog(room \"10.0.1.10\", media 8, reserved \"seat-4\") = 1\n"
       "  tradeLogId  " +
           id + "\n" + ok},
      {"modifylog " + id, 0,
       "ModifyLog(" + id + ", reserved (none)) = 1\n" + ok},
      {"modifylog 999", 1,
       "ModifyLog(999, reserved (none)) = 0\n  errorCode   2\n"
       "  errorText   \"trade log 999 does not exist\"\n"},
      {"authorize 10.0.1.11 " + film, 1,
       "GetAuthorization(room \"10.0.1.11\", media " + film +
           ", reserved (none)) = 0 (refused)\n  errorCode   3\n"
           "  errorText   \"film not licensed for this room\"\n"},
      {"authorize - " + withdrawn, 1,
       "GetAuthorization(room (none), media " + withdrawn +
           ", reserved (none)) = 0 (refused)\n  errorCode   3\n"
           "  errorText   \"withdrawn by the publisher\"\n"},
      {"authorize 10.0.1.10 " + film, 0,
       "GetAuthorization(room \"10.0.1.10\", media " + film +
           ", reserved (none)) = 1 (authorized)\n" + ok},
      {"playtime 4 10.0.1.12 '2026-02-01 20:00:00' '2026-02-01 20:04:10' 2", 0,
       "SaveVideoTime(media 4, room \"10.0.1.12\", begin \"2026-02-01 "
       "20:00:00\", end \"2026-02-01 20:04:10\", type 2) = 0\n"},
      {"dataserver", 0,
       "GetDataServer = 1\n  FileServerIP  \"127.0.0.1\" (before: "
       "\"10.9.9.9\"; from the fire-alarm URL)\n"},
      {"group 3", 0, "GetServerGroup(3) = true\n  groupId  1\n"},
      {"conn modify 1 3 5 100 172.16.1.13", 0,
       "ModifyVideoServerConnectNum(group 1, server 3, connections 5, total "
       "100, address \"172.16.1.13\") = true\n  diagnostic texts: 5\n"
       "    \"into Critical\"\n    \"into Critical1\"\n"
       "    \"have into Critical\"\n    \"good return\"\n"
       "    \"leave Critical\"\n"},
      {"conn get 1 3", 0,
       "GetVideoServerConnectNum(group 1, server 3) = false\n"
       "  connections  5\n  address      \"172.16.1.13\"\n"},
      {"conn add 1 9 0 50 127.0.0.9", 0,
       "AddVideoServerConnectNum(group 1, server 9, connections 0, total 50, "
       "address \"127.0.0.9\") = true\n"},
      // The last row of the group is server 9's.
      {"conn get 1", 0,
       "GetVideoServerConnectNum(group 1, server 0) = false\n"
       "  connections  0\n  address      \"127.0.0.9\"\n"},
      {"conn delete 1 9", 0,
       "DeleteVideoServerConnectNum(group 1, server 9) = false\n"},
      {"conn get 1 9", 1,
       "GetVideoServerConnectNum(group 1, server 9) = false\n"
       "  connections  -1\n  address      \"\"\n"},
      {"groupstate 0 2", 0, "ModifyGroupState(isValid 0, group 2) = 1\n"},
      // A group out of service lists no counts.
      {"conn get 2", 1,
       "GetVideoServerConnectNum(group 2, server 0) = false\n"
       "  connections  -1\n  address      \"\"\n"},
      {"groupstate 1 2", 0, "ModifyGroupState(isValid 1, group 2) = 1\n"},
      {"groupstate 1 99", 1, "ModifyGroupState(isValid 1, group 99) = 0\n"},
  };
  for (const PlaybackCase& c : cases) {
    std::string out;
    EXPECT_EQ(c.status,
              RunHost(venue.folder(), settings,
                      venue.folder() + "/VideoServertable", c.arguments, &out))
        << c.arguments;
    EXPECT_EQ("InitialDatabase: done\n" + c.output, out) << c.arguments;
  }
  using rondel::testing::Row;
  EXPECT_EQ(venue.Query("SELECT state, reserved FROM trade_logs WHERE "
                        "tradelog_id = " +
                        id),
            (std::vector<Row>{{"1", "seat-4"}}));
  EXPECT_EQ(venue.Query("SELECT media_id, begin_time, end_time, room_address, "
                        "song_type FROM play_records"),
            (std::vector<Row>{{"4", "2026-02-01 20:00:00",
                               "2026-02-01 20:04:10", "10.0.1.12", "2"}}));
  EXPECT_EQ(venue.Query("SELECT group_id, is_valid FROM server_groups"),
            (std::vector<Row>{{"1", "1"}, {"2", "1"}}));
}

// A seeded venue: room 1 (10.0.1.10) has selections and a fire-alarm video,
// room 2 (10.0.1.11) neither; file server 1 (127.0.0.1, this machine) is given
// the fewest connections of group 1; background play walks the user play list.
TEST(HostCommandOnlineTest, PlaybackAnswersFromTheDatabase) {
  rondel::testing::VenueServer venue(
      {"--medias", "300", "--rooms", "8", "--play-type", "13"});
  venue.Exec(
      "UPDATE fileserver_connections SET connection_count ="
      " CASE fileserver_id WHEN 1 THEN 3 ELSE 9 END WHERE group_id = 1");
  const std::string settings = venue.WriteSettingsFile("10.9.9.9");
  auto value = [&venue](const std::string& sql, int row) {
    auto rows = venue.Query(sql);
    return static_cast<size_t>(row) < rows.size() && rows[row][0]
               ? *rows[row][0]
               : std::string("(none)");
  };
  const std::string selected = value(
      "SELECT media_id FROM room_selections WHERE room_id = 1"
      " ORDER BY queued_at, selection_id",
      0);
  const std::string user_list =
      "SELECT MediaUserSet_MediaId FROM MediaUserSet"
      " ORDER BY MediaUserSet_Shunxu";
  // Each command once, in this order (a next video hands out the selection);
  // parts of its output, each compared whole.
  const struct {
    std::string arguments;
    std::vector<std::string> parts;
  } cases[] = {
      {"next 10.0.1.10",
       {"GetNextVideo(10.0.1.10) = 1\n",
        "  url      \"vsp://127.0.0.1/|||" + selected + "\"\n",
        "  diagnostic texts: 3\n    \"GetNextVideo begin\"\n"
        "    \"heve select media\"\n    \"GetNextVideo good return\"\n"}},
      {"next 10.0.1.11",
       {"GetNextVideo(10.0.1.11) = 1\n", "  kind     \"ad\"\n",
        "  diagnostic texts: 3\n    \"GetNextVideo begin\"\n"
        "    \"Return status = 0\"\n    \"GetNextVideo good return\"\n"}},
      {"play 10.0.1.10 -n 3",
       {"  1: " + value(user_list, 0) + "  ",
        "  2: " + value(user_list, 1) + "  ",
        "  3: " + value(user_list, 2) + "  "}},
      {"firealarm 10.0.1.10",
       {"GetFirealarmVideo(10.0.1.10) = 1\n"
        "  url      \"vsp://10.9.9.9/fire_floor1.mpg\"\n  format1  \"MPEG1\"\n"
        "  format2  \"MPEG\"\n"}},
      {"firealarm 10.0.1.11",
       {"  url      \"vsp://10.9.9.9/fire_default.mpg\"\n"}},
      {"firepage",
       {"GetFirealarmPage = 1\n"
        "  page     \"http://127.0.0.1/fire/evacuation.htm\"\n"}},
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_EQ(0,
              RunHost(venue.folder(), settings,
                      venue.folder() + "/VideoServertable", c.arguments, &out))
        << c.arguments << "\n"
        << out;
    for (const std::string& part : c.parts) {
      EXPECT_TRUE(Contains(out, part)) << c.arguments << "\n" << out;
    }
  }
}

}  // namespace
}  // namespace tools
}  // namespace rondel
