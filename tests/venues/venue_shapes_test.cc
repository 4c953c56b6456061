// The same venue kept in three shapes of database (venue_server.h: GBK
// varchar, Unicode nvarchar, GBK bytes under a Latin-1 collation) must look
// the same to a video server: the host command's answers, the snapshot set
// written at start-up, and the bytes a call's texts arrive as in the database,
// byte for byte against the GBK venue.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "command.h"
#include "venue_server.h"

namespace rondel {
namespace {

// "包厢 101 中啊" and a two-byte space: lead and trail bytes across code page
// 1252's upper half. (glibc's CP1252 refuses 0x81, 0x8D, 0x8F, 0x90 and 0x9D,
// so a Latin-1 venue cannot be sent those from Linux: README.)
const char kReserved[] = "\xb0\xfc\xcf\xe1 101 \xd6\xd0\xb0\xa1\xa1\xa1";

// The host command's actions, each in a process of its own: start-up, then
// what lookups, next video, the fire alarm, records and the registry answer.
const std::vector<std::string> kActions = {
    "start --probe-ids 1-400 --rooms 10.0.1.0-10.0.1.255 --servers "
    "127.0.0.1-127.0.0.9",
    "media 1 2 3 11 101 301",
    "room 10.0.1.10",
    "server 127.0.0.1",
    "songtotal 1000",
    "next 10.0.1.10",
    "firealarm 10.0.1.10",
    "firealarm 10.0.1.11",
    "firepage",
    "playtime 8 10.0.1.10 '2026-02-01 20:00:00' '2026-02-01 20:03:00' 1",
    std::string("addlog 10.0.1.10 8 '") + kReserved + "'",
    "modifylog 1 done",
    "authorize 10.0.1.11 11",
    "authorize 10.0.1.12 5",
    "dataserver",
    "group 1",
    "conn get 1",
    "conn modify 1 1 7 9 127.0.0.1",
    "conn get 1 1",
};

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Everything a venue of one shape shows, by what it is.
std::map<std::string, std::string> WhatTheVenueShows(const std::string& venue) {
  testing::VenueServer server({"--venue", venue, "--medias", "300", "--rooms",
                               "16", "--playlist-rows", "20"});
  std::map<std::string, std::string> shown;
  if (server.port() == 0) return shown;
  // The Latin-1 venue's code page is learned from the database itself.
  const std::string settings =
      server.WriteSettingsFile("10.9.9.9", venue == "latin1" ? "server" : "");
  const std::string snapshots = server.folder() + "/VideoServertable";
  for (const std::string& action : kActions) {
    std::string output;
    const int status = testing::RunCommand(
        "cd '" + server.folder() + "' && RONDEL_SETTINGS_FILE='" + settings +
            "' RONDEL_SNAPSHOT_DIR='" + snapshots +
            "' RONDEL_DIAG_TARGET=127.0.0.1:9 " RONDEL_HOST_PATH
            " --library " RONDEL_LIBRARY_PATH " " +
            action + " 2>/dev/null",
        &output);
    shown[action] = "exit " + std::to_string(status) + "\n" + output;
  }
  for (const char* table :
       {"TABLE_RECORDS", "Rooms", "Medias", "FILE_SERVERS", "AllSequence",
        "MonthSequence", "WeekSequence", "NewSequence", "UserSequence"}) {
    shown[std::string(table) + ".tbl"] =
        ReadBytes(snapshots + "/" + table + ".tbl");
  }
  // What the calls' texts arrived as.
  for (const auto& [what, sql] : std::map<std::string, std::string>{
           {"trade log",
            "SELECT room_address, reserved FROM trade_logs"
            " ORDER BY tradelog_id DESC LIMIT 2"},
           {"play record",
            "SELECT media_id, begin_time, end_time,"
            " room_address, song_type FROM play_records"},
           {"connections",
            "SELECT group_id, fileserver_id, connection_count,"
            " fileserver_ipaddress, totalconnection_count"
            " FROM fileserver_connections ORDER BY group_id, fileserver_id"}}) {
    std::string rows;
    for (const testing::Row& row : server.Query(sql)) {
      for (const auto& value : row) rows += (value ? *value : "NULL") + "|";
      rows += "\n";
    }
    shown[what] = rows;
  }
  return shown;
}

TEST(VenueShapesTest, EveryShapeShowsTheGbkVenuesBytes) {
  const std::map<std::string, std::string> gbk = WhatTheVenueShows("gbk");
  ASSERT_EQ(gbk.size(), kActions.size() + 9 + 3);
  EXPECT_NE(gbk.at("trade log").find(kReserved), std::string::npos)
      << gbk.at("trade log");
  for (const std::string venue : {"unicode", "latin1"}) {
    const std::map<std::string, std::string> shown = WhatTheVenueShows(venue);
    ASSERT_EQ(shown.size(), gbk.size()) << venue;
    for (const auto& [what, bytes] : gbk) {
      EXPECT_EQ(bytes, shown.at(what)) << venue << ": " << what;
    }
  }
}

}  // namespace
}  // namespace rondel
