// rondel-venue against a seeded venuedb: a short run calls every export, none
// fails, and the plays spread over the group's two file servers as their equal
// connection counts say they should.
#include <gtest/gtest.h>
#include <stdio.h>

#include <regex>
#include <set>
#include <string>

#include "venue_server.h"

namespace {

const char* const kExports[] = {"InitialDatabase",
                                "ExitDatabase",
                                "LoadDBOptions",
                                "KvDebugDb",
                                "GetMediaInfo",
                                "GetMediaFileInfo",
                                "DestroyMediaFilesBuffer",
                                "GetRoomIDInfoFromIP",
                                "GetFileServerID",
                                "GetSongTotal",
                                "GetNextVideo",
                                "GetRandPlayMediaID",
                                "GetFirealarmVideo",
                                "GetFirealarmPage",
                                "SaveVideoTime",
                                "AddLog",
                                "ModifyLog",
                                "GetAuthorization",
                                "GetDataServer",
                                "GetServerGroup",
                                "AddVideoServerConnectNum",
                                "ModifyVideoServerConnectNum",
                                "GetVideoServerConnectNum",
                                "DeleteVideoServerConnectNum",
                                "ModifyGroupState"};

std::string RunVenue(const std::string& environment) {
  const std::string command =
      environment +
      " " RONDEL_VENUE_PATH
      " --rooms 8 --threads 2 --plays 60 --seconds 120 --scale 0.01 --json";
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, n);
  EXPECT_EQ(pclose(pipe), 0) << output;
  return output;
}

TEST(VenueSimulatorTest, ShortRunCallsEveryExportAndSpreadsPlaysByTheCounts) {
  rondel::testing::VenueServer venue(
      {"--rooms", "8", "--file-servers", "2", "--groups", "1"});
  ASSERT_NE(venue.port(), 0);
  venue.Exec("UPDATE fileserver_connections SET connection_count = 0");
  const std::string settings = venue.WriteSettingsFile("127.0.0.1");
  const std::string output =
      RunVenue("RONDEL_SETTINGS_FILE=" + settings + " RONDEL_SNAPSHOT_DIR=" +
               venue.folder() + "/snapshots RONDEL_DIAG_TARGET=127.0.0.1:9");

  std::set<std::string> called, failing;
  const std::regex entry(
      "\"([A-Za-z]+)\": \\{\"calls\": ([0-9]+), \"failures\": ([0-9]+)");
  for (std::sregex_iterator it(output.begin(), output.end(), entry), end;
       it != end; ++it) {
    if (std::stol((*it)[2]) > 0) called.insert((*it)[1]);
    if (std::stol((*it)[3]) > 0) failing.insert((*it)[1]);
  }
  EXPECT_EQ(called,
            std::set<std::string>(std::begin(kExports), std::end(kExports)))
      << output;
  EXPECT_EQ(failing, std::set<std::string>()) << output;

  // Equal counts: least-loaded choices keep the two servers about even.
  const std::regex play("\"([0-9.]+)\": ([0-9]+)");
  const std::string server_part = output.substr(
      output.find("\"servers\""),
      output.find("\"rooms_played\"") - output.find("\"servers\""));
  long total = 0, first = 0;
  int servers_seen = 0;
  for (std::sregex_iterator it(server_part.begin(), server_part.end(), play),
       end;
       it != end; ++it) {
    total += std::stol((*it)[2]);
    if ((*it)[1] == "127.0.0.1") first = std::stol((*it)[2]);
    ++servers_seen;
  }
  EXPECT_EQ(servers_seen, 2) << server_part;
  ASSERT_GT(total, 20) << output;
  EXPECT_GT(first * 10, total * 3) << server_part;
  EXPECT_LT(first * 10, total * 7) << server_part;
}

}  // namespace
