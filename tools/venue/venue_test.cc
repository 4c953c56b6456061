// rondel-venue against a seeded venuedb: a short run calls every export, none
// fails, and the plays spread over the group's two file servers as their equal
// connection counts say they should.
#include <gtest/gtest.h>
#include <stdio.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "command.h"
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
  EXPECT_EQ(rondel::testing::RunCommand(command, &output), 0) << output;
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

  // The summary's shapes, read without a JSON library: `"Name": {"calls": N,
  // "failures": F` per export, and `"ADDRESS": N` pairs under "servers".
  std::set<std::string> called, failing;
  for (size_t at = output.find("{\"calls\": "); at != std::string::npos;
       at = output.find("{\"calls\": ", at + 1)) {
    const size_t name_end = output.rfind('"', at);
    const size_t name_begin = output.rfind('"', name_end - 1) + 1;
    const std::string name = output.substr(name_begin, name_end - name_begin);
    long calls = 0, failures = 0;
    std::sscanf(output.c_str() + at, "{\"calls\": %ld, \"failures\": %ld",
                &calls, &failures);
    if (calls > 0) called.insert(name);
    if (failures > 0) failing.insert(name);
  }
  EXPECT_EQ(called,
            std::set<std::string>(std::begin(kExports), std::end(kExports)))
      << output;
  EXPECT_EQ(failing, std::set<std::string>()) << output;

  // Equal counts: least-loaded choices keep the two servers about even.
  const size_t servers = output.find("\"servers\": {");
  ASSERT_NE(servers, std::string::npos) << output;
  const std::string part =
      output.substr(servers + 12, output.find('}', servers) - servers - 12);
  long total = 0, first = 0;
  int servers_seen = 0;
  for (size_t at = part.find('"'); at != std::string::npos;
       at = part.find('"', part.find('"', at + 1) + 1)) {
    const size_t end = part.find('"', at + 1);
    const std::string server = part.substr(at + 1, end - at - 1);
    const long plays = std::atol(part.c_str() + end + 2);
    if (server == "(background)") continue;
    total += plays;
    if (server == "127.0.0.1") first = plays;
    ++servers_seen;
  }
  EXPECT_EQ(servers_seen, 2) << part;
  ASSERT_GT(total, 20) << output;
  EXPECT_GT(first * 10, total * 3) << part;
  EXPECT_LT(first * 10, total * 7) << part;
}

}  // namespace
