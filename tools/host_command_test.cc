// The host command against the real library, started offline from snapshot
// files written here in the documented format (80-byte header, then raw
// records): what an operator sees.
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

namespace rondel {
namespace tools {
namespace {

class HostCommandOfflineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/rondel_host_test_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    directory_ = pattern;
    snapshots_ = directory_ + "/VideoServertable";
    ASSERT_EQ(0, mkdir(snapshots_.c_str(), 0755));
    // Port 1 refuses at once: start-up takes its offline path.
    std::ofstream(directory_ + "/Korvane.ini")
        << "[MainServer]\nDataBaseServerIp=127.0.0.1\nDataBaseServerPort=1\n";
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
      WriteTable(list, std::vector<int32_t>{7, 12});
    }
  }

  // Runs the host command in the test folder; gives its exit status and output.
  int Host(const std::string& arguments, std::string* output) {
    std::string command = "cd '" + directory_ + "' && RONDEL_SETTINGS_FILE='" +
                          directory_ + "/Korvane.ini' RONDEL_SNAPSHOT_DIR='" +
                          snapshots_ +
                          "' RONDEL_DIAG_TARGET=127.0.0.1:9 " RONDEL_HOST_PATH
                          " --library " RONDEL_LIBRARY_PATH " " +
                          arguments + " 2>/dev/null";
    output->clear();
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    char chunk[512];
    size_t n;
    while ((n = fread(chunk, 1, sizeof(chunk), pipe)) > 0) {
      output->append(chunk, n);
    }
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string directory_;
  std::string snapshots_;
};

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

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

}  // namespace
}  // namespace tools
}  // namespace rondel
