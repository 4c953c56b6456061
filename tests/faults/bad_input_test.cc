// Every export against what a careless host may pass: a null pointer or an
// empty text where an argument is required or may be null, an address of 300
// characters, and an address whose 20 bytes hold no terminator, placed right
// before a page that faults when read. Every output buffer has exactly its
// documented size with guard bytes on both sides. Each case answers the
// export's failure result where it has one (or its ordinary answer where the
// argument may be null), and writes nothing outside its buffers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "catalogue/media_index.h"
#include "catalogue/tables.h"
#include "catalogue_records.h"
#include "database_test.h"
#include "playback/fire_alarm_memory.h"
#include "rondel.h"
#include "test_system.h"

namespace rondel {
namespace {

using testing::SetEnv;

constexpr size_t kGuard = 16;
constexpr unsigned char kGuardByte = 0xA5;

// Output buffers of their documented sizes, each between guard bytes. Texts
// start as "~" and integers as -7, so that an output left alone shows.
class Buffers {
 public:
  char* Text(size_t size) {
    char* text = Make(size);
    std::strcpy(text, "~");
    return text;
  }
  int* Int() {
    int* value = reinterpret_cast<int*>(Make(sizeof(int)));
    *value = -7;
    return value;
  }
  // True when every guard byte is as it was made.
  bool Intact() const {
    for (const std::vector<unsigned char>& bytes : made_) {
      for (size_t i = 0; i < kGuard; ++i) {
        if (bytes[i] != kGuardByte || bytes[bytes.size() - 1 - i] != kGuardByte)
          return false;
      }
    }
    return true;
  }

 private:
  char* Make(size_t size) {
    made_.emplace_back(size + 2 * kGuard, kGuardByte);
    return reinterpret_cast<char*>(made_.back().data() + kGuard);
  }
  std::deque<std::vector<unsigned char>> made_;
};

const std::string kLongAddress(300, '1');
// 20 bytes, as wide as a room's or a file server's address field.
const char kFullWidth[] = "10.1.0.1000000000000";

std::string Str(int value) { return std::to_string(value); }

class BadInputTest;

struct Case {
  const char* name;
  std::function<std::string(BadInputTest&, Buffers&)> call;
  std::string expected;
};

class BadInputTest : public testing::DatabaseTest,
                     public ::testing::WithParamInterface<Case> {
 public:
  // As a host's ExitDatabase does: an answer the fire alarm remembered is
  // written before the case ends, and its writer thread joined.
  void TearDown() override {
    FireAlarmMemory::FinishWriting();
    DatabaseTest::TearDown();
  }
  void SetUp() override {
    SetEnv("RONDEL_SNAPSHOT_DIR", scratch_.path());
    DatabaseTest::SetUp();
    CurrentSettings().keep_unsent_plays = false;
    venue_.Exec(
        "INSERT INTO server_groups VALUES (1, 'g1', 1);"
        "INSERT INTO fileservers(fileserver_id, fileserver_name, "
        "  fileserver_IpAddress, group_id) VALUES (2, 'fs2', '10.0.0.2', 1);"
        "INSERT INTO fileserver_connections(group_id, fileserver_id, "
        "  connection_count, fileserver_ipaddress) VALUES"
        "  (1, 2, 3, '10.0.0.2');"
        "INSERT INTO medias(media_id, media_name, media_code) VALUES"
        "  (1003, 'three', '1000003');"
        "INSERT INTO advertisements(media_id) VALUES (1003);"
        "INSERT INTO fire_alarm_settings(setting_id, default_video_file, "
        "  home_page) VALUES (1, 'fire.mpg', 'fire.html');"
        "INSERT INTO trade_logs(media_id) VALUES (1003);");
    MediaRecord& media = testing::AddMedia(1003, kSong, "three", {"/m/3.mpg"});
    media.GroupId = 1;
    testing::AddRoom(1, "A01", "10.1.0.1");
    testing::AddFileServer(2, "10.0.0.2", 1);
    RebuildLookupIndexes();
    // Sequential play from the user list: the room address decides.
    g_play_type = 13;
    g_catalogue.user_sequence.entries[0] = 1003;
    g_catalogue.user_sequence.count = 1;
  }
  // Plays that went out to the venue database.
  std::string PlaysSent() {
    auto rows = venue_.Query(
        "SELECT count(*) FROM vdb_journal WHERE kind = 'rpc' AND "
        "CAST(text AS TEXT) = 'SP_SaveMediaOrderInfo'");
    return rows.empty() ? "?" : rows[0][0].value_or("?");
  }
};

std::string NextVideo(const char* room, Buffers& b, bool url = true,
                      bool kind = true) {
  char* name = b.Text(100);
  char* url_text = url ? b.Text(41) : nullptr;
  char* kind_text = kind ? b.Text(5) : nullptr;
  const int result =
      GetNextVideo(room, name, b.Text(10), url_text, kind_text, b.Text(20),
                   b.Text(20), b.Int(), b.Int(), b.Int());
  return Str(result) + " " + name + " " + (kind ? kind_text : "-") + " " +
         (url ? url_text : "-");
}

std::string FireVideo(const char* address, Buffers& b, int missing = -1) {
  char* outputs[] = {b.Text(282), b.Text(6), b.Text(5)};
  if (missing >= 0) outputs[missing] = nullptr;
  const int result =
      GetFirealarmVideo(address, outputs[0], outputs[1], outputs[2]);
  std::string outcome = Str(result);
  for (char* output : outputs) outcome += " " + Str(output ? 1 : 0);
  return outcome + " " + (outputs[0] ? outputs[0] : "-");
}

std::string RoomInfo(char* room, Buffers& b) {
  char* info = b.Text(20);
  return Str(GetRoomIDInfoFromIP(room, info)) + " " + info;
}

std::string FileServer(const char* address, Buffers& b) {
  int* id = b.Int();
  int* group = b.Int();
  const int result = GetFileServerID(address, id, group);
  return Str(result) + " " + Str(*id) + " " + Str(*group);
}

std::string Play(BadInputTest& t, char* room, char* begin, char* end) {
  const int result = SaveVideoTime(1003, room, begin, end, 1);
  return Str(result) + " sent=" + t.PlaysSent();
}

// AddLog with the outputs of `mask` (bit 0 trade-log id, 1 error code, 2 text).
std::string Log(const char* room, Buffers& b, int mask = 7) {
  int* id = mask & 1 ? b.Int() : nullptr;
  int* code = mask & 2 ? b.Int() : nullptr;
  char* text = mask & 4 ? b.Text(201) : nullptr;
  const int result = AddLog(room, 1003, id, code, text, nullptr);
  return Str(result) + " code=" + (code ? Str(*code) : "-") +
         " text=" + (text ? text : "-");
}

std::string Authorize(const char* room, Buffers& b, int mask = 3) {
  int* code = mask & 1 ? b.Int() : nullptr;
  char* text = mask & 2 ? b.Text(201) : nullptr;
  const int result = GetAuthorization(room, 1003, code, text, nullptr);
  return Str(result) + " code=" + (code ? Str(*code) : "-") +
         " text=" + (text ? text : "-");
}

std::string ConnectNum(bool count, bool address, Buffers& b) {
  int* connections = count ? b.Int() : nullptr;
  char* server = address ? b.Text(20) : nullptr;
  const bool result = GetVideoServerConnectNum(1, 0, connections, server);
  return Str(result) + " " + (count ? Str(*connections) : "-") + " " +
         (address ? server : "-");
}

const char kAd[] = "1 three ad vsp://10.0.0.2/|||1003";
const char kDefaultFire[] = "1 1 1 1 vsp://10.9.9.9/fire.mpg";

std::vector<Case> Cases() {
  static char begin[] = "2026-01-01 10:00:00";
  static char end[] = "2026-01-01 10:04:00";
  static char room[] = "10.1.0.1";
  static std::string long_address = kLongAddress;
  return {
      // Catalogue lookups.
      {"MediaInfoAllOutputsNull",
       [](BadInputTest&, Buffers&) {
         return Str(GetMediaInfo(1003, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, nullptr, nullptr));
       },
       "1"},
      {"MediaInfoEveryOutputAtItsSize",
       [](BadInputTest&, Buffers& b) {
         char* name = b.Text(100);
         const int result =
             GetMediaInfo(1003, name, b.Text(10), b.Int(), b.Text(20),
                          b.Text(20), b.Int(), b.Int(), b.Int(), b.Int());
         return Str(result) + " " + name;
       },
       "1 three"},
      {"MediaFilesNullOut",
       [](BadInputTest&, Buffers&) {
         return Str(GetMediaFileInfo(1003, nullptr));
       },
       "0"},
      {"DestroyNullFiles",
       [](BadInputTest&, Buffers&) {
         DestroyMediaFilesBuffer(nullptr);
         return std::string("returned");
       },
       "returned"},
      {"RoomInfoNullAddress",
       [](BadInputTest&, Buffers& b) { return RoomInfo(nullptr, b); }, "0 ~"},
      {"RoomInfoNullOutput",
       [](BadInputTest&, Buffers&) {
         return Str(GetRoomIDInfoFromIP(room, nullptr));
       },
       "0"},
      {"RoomInfoEmptyAddress",
       [](BadInputTest&, Buffers& b) {
         char none[] = "";
         return RoomInfo(none, b);
       },
       "0 ~"},
      {"RoomInfoLongAddress",
       [](BadInputTest&, Buffers& b) {
         return RoomInfo(long_address.data(), b);
       },
       "0 ~"},
      {"RoomInfoUnterminatedAddress",
       [](BadInputTest&, Buffers& b) {
         testing::TextAtPageEnd address(kFullWidth);
         return RoomInfo(address.text(), b);
       },
       "0 ~"},
      {"RoomInfoKnownRoom",
       [](BadInputTest&, Buffers& b) { return RoomInfo(room, b); }, "1 A01"},
      {"FileServerNullAddress",
       [](BadInputTest&, Buffers& b) { return FileServer(nullptr, b); },
       "0 0 0"},
      {"FileServerNullOutput",
       [](BadInputTest&, Buffers& b) {
         int* group = b.Int();
         const int result = GetFileServerID("10.0.0.2", nullptr, group);
         return Str(result) + " " + Str(*group);
       },
       "0 -7"},
      {"FileServerEmptyAddress",
       [](BadInputTest&, Buffers& b) { return FileServer("", b); }, "0 0 0"},
      {"FileServerLongAddress",
       [](BadInputTest&, Buffers& b) {
         return FileServer(kLongAddress.c_str(), b);
       },
       "0 0 0"},
      {"FileServerUnterminatedAddress",
       [](BadInputTest&, Buffers& b) {
         testing::TextAtPageEnd address(kFullWidth);
         return FileServer(address.text(), b);
       },
       "0 0 0"},
      // Background play.
      {"RandPlayNullAddress",
       [](BadInputTest&, Buffers&) { return Str(GetRandPlayMediaID(nullptr)); },
       "-1"},
      {"RandPlayEmptyAddress",
       [](BadInputTest&, Buffers&) { return Str(GetRandPlayMediaID("")); },
       "-1"},
      {"RandPlayLongAddress",
       [](BadInputTest&, Buffers&) {
         return Str(GetRandPlayMediaID(kLongAddress.c_str()));
       },
       "-1"},
      {"RandPlayUnterminatedAddress",
       [](BadInputTest&, Buffers&) {
         testing::TextAtPageEnd address(kFullWidth);
         return Str(GetRandPlayMediaID(address.text()));
       },
       "-1"},
      {"RandPlayKnownRoom",
       [](BadInputTest&, Buffers&) { return Str(GetRandPlayMediaID(room)); },
       "1003"},
      // Next video: the address, URL and kind are required; a room the
      // database does not know gets an advertisement.
      {"NextVideoNullAddress",
       [](BadInputTest&, Buffers& b) { return NextVideo(nullptr, b); },
       "0 ~ ~ ~"},
      {"NextVideoNullUrl",
       [](BadInputTest&, Buffers& b) { return NextVideo(room, b, false); },
       "0 ~ ~ -"},
      {"NextVideoNullKind",
       [](BadInputTest&, Buffers& b) {
         return NextVideo(room, b, true, false);
       },
       "0 ~ - ~"},
      {"NextVideoEmptyAddress",
       [](BadInputTest&, Buffers& b) { return NextVideo("", b); }, kAd},
      {"NextVideoLongAddress",
       [](BadInputTest&, Buffers& b) {
         return NextVideo(kLongAddress.c_str(), b);
       },
       kAd},
      {"NextVideoOptionalOutputsNull",
       [](BadInputTest&, Buffers& b) {
         char* url = b.Text(41);
         char* kind = b.Text(5);
         const int result =
             GetNextVideo(room, nullptr, nullptr, url, kind, nullptr, nullptr,
                          nullptr, nullptr, nullptr);
         return Str(result) + " " + kind + " " + url;
       },
       "1 ad vsp://10.0.0.2/|||1003"},
      // Fire alarm: any address (none too) falls back to the default video.
      {"FireVideoNullAddress",
       [](BadInputTest&, Buffers& b) { return FireVideo(nullptr, b); },
       kDefaultFire},
      {"FireVideoEmptyAddress",
       [](BadInputTest&, Buffers& b) { return FireVideo("", b); },
       kDefaultFire},
      {"FireVideoLongAddress",
       [](BadInputTest&, Buffers& b) {
         return FireVideo(kLongAddress.c_str(), b);
       },
       kDefaultFire},
      {"FireVideoNullUrl",
       [](BadInputTest&, Buffers& b) { return FireVideo(room, b, 0); },
       "0 0 1 1 -"},
      {"FireVideoNullFormat1",
       [](BadInputTest&, Buffers& b) { return FireVideo(room, b, 1); },
       "0 1 0 1 ~"},
      {"FireVideoNullFormat2",
       [](BadInputTest&, Buffers& b) { return FireVideo(room, b, 2); },
       "0 1 1 0 ~"},
      {"FirePageNullAddress",
       [](BadInputTest&, Buffers& b) {
         char* page = b.Text(100);
         return Str(GetFirealarmPage(nullptr, page)) + " " + page;
       },
       "1 fire.html"},
      {"FirePageNullOutput",
       [](BadInputTest&, Buffers&) {
         return Str(GetFirealarmPage(room, nullptr));
       },
       "0"},
      // Play records and authorization.
      {"PlayNullRoom",
       [](BadInputTest& t, Buffers&) { return Play(t, nullptr, begin, end); },
       "0 sent=0"},
      {"PlayNullBegin",
       [](BadInputTest& t, Buffers&) { return Play(t, room, nullptr, end); },
       "0 sent=0"},
      {"PlayNullEnd",
       [](BadInputTest& t, Buffers&) { return Play(t, room, begin, nullptr); },
       "0 sent=0"},
      {"PlayLongRoom",
       [](BadInputTest& t, Buffers&) {
         return Play(t, long_address.data(), begin, end);
       },
       "0 sent=1"},
      {"AddLogNullRoom",
       [](BadInputTest&, Buffers& b) { return Log(nullptr, b); },
       "1 code=0 text="},
      {"AddLogLongRoom",
       [](BadInputTest&, Buffers& b) { return Log(kLongAddress.c_str(), b); },
       "1 code=0 text="},
      {"AddLogNullTradeLogId",
       [](BadInputTest&, Buffers& b) { return Log(room, b, 6); },
       "0 code=-7 text=~"},
      {"AddLogNullErrorCode",
       [](BadInputTest&, Buffers& b) { return Log(room, b, 5); },
       "0 code=- text=~"},
      {"AddLogNullErrorText",
       [](BadInputTest&, Buffers& b) { return Log(room, b, 3); },
       "0 code=-7 text=-"},
      {"ModifyLogNullErrorCode",
       [](BadInputTest&, Buffers& b) {
         char* text = b.Text(201);
         return Str(ModifyLog(1, nullptr, text, nullptr)) + " " + text;
       },
       "0 ~"},
      {"ModifyLogNullErrorText",
       [](BadInputTest&, Buffers& b) {
         int* code = b.Int();
         const int result = ModifyLog(1, code, nullptr, nullptr);
         return Str(result) + " " + Str(*code);
       },
       "0 -7"},
      {"AuthorizationNullRoom",
       [](BadInputTest&, Buffers& b) { return Authorize(nullptr, b); },
       "1 code=0 text="},
      {"AuthorizationLongRoom",
       [](BadInputTest&, Buffers& b) {
         return Authorize(kLongAddress.c_str(), b);
       },
       "1 code=0 text="},
      {"AuthorizationNullErrorCode",
       [](BadInputTest&, Buffers& b) { return Authorize(room, b, 2); },
       "0 code=- text=~"},
      {"AuthorizationNullErrorText",
       [](BadInputTest&, Buffers& b) { return Authorize(room, b, 1); },
       "0 code=-7 text=-"},
      // File-server registry.
      {"ServerGroupNullOutput",
       [](BadInputTest&, Buffers&) { return Str(GetServerGroup(2, nullptr)); },
       "0"},
      {"AddConnectNumNullAddress",
       [](BadInputTest&, Buffers&) {
         return Str(AddVideoServerConnectNum(1, 4, 1, 9, nullptr));
       },
       "1"},
      {"AddConnectNumLongAddress",
       [](BadInputTest&, Buffers&) {
         return Str(AddVideoServerConnectNum(1, 4, 1, 9, kLongAddress.c_str()));
       },
       "1"},
      {"ModifyConnectNumNullAddress",
       [](BadInputTest&, Buffers&) {
         return Str(ModifyVideoServerConnectNum(1, 2, 1, 9, nullptr));
       },
       "1"},
      {"ModifyConnectNumLongAddress",
       [](BadInputTest&, Buffers&) {
         return Str(
             ModifyVideoServerConnectNum(1, 2, 1, 9, kLongAddress.c_str()));
       },
       "1"},
      {"GetConnectNumNullCount",
       [](BadInputTest&, Buffers& b) { return ConnectNum(false, true, b); },
       "0 - ~"},
      {"GetConnectNumNullAddress",
       [](BadInputTest&, Buffers& b) { return ConnectNum(true, false, b); },
       "0 -7 -"},
      {"GetConnectNumOutputsAtTheirSizes",
       [](BadInputTest&, Buffers& b) { return ConnectNum(true, true, b); },
       "0 3 10.0.0.2"},
      // Settings and diagnostics.
      {"LoadDBOptionsNullPath",
       [](BadInputTest&, Buffers&) { return Str(LoadDBOptions(nullptr)); },
       "1"},
      {"LoadDBOptionsEmptyPath",
       [](BadInputTest&, Buffers&) { return Str(LoadDBOptions("")); }, "1"},
      {"DebugTextNull",
       [](BadInputTest&, Buffers&) {
         KvDebugDb(nullptr);
         return std::string("returned");
       },
       "returned"},
      {"DebugTextLong",
       [](BadInputTest&, Buffers&) {
         KvDebugDb(long_address.data());
         return std::string("returned");
       },
       "returned"},
  };
}

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

TEST_P(BadInputTest, AnswersWithinItsBuffers) {
  Buffers buffers;
  EXPECT_EQ(GetParam().expected, GetParam().call(*this, buffers));
  EXPECT_TRUE(buffers.Intact()) << "a write outside an output buffer";
}

INSTANTIATE_TEST_SUITE_P(EveryExport, BadInputTest,
                         ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace rondel
