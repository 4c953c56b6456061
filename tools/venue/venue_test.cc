// rondel-venue against a seeded venuedb: a short run calls every export, none
// fails, and the plays spread over the group's two file servers as their equal
// connection counts say they should. Before that, what it refuses to start
// without, and where its diagnostics go.
#include <gtest/gtest.h>
#include <stdio.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <tuple>

#include "command.h"
#include "files.h"
#include "scratch_dir.h"
#include "udp_receiver.h"
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

// A command line and environment the simulator refuses, with its exit status
// and its one line on standard error. In the texts, $DIR is the scratch
// directory, $TARGET a loopback target and $GOOD a settings file naming the
// database.
struct Refusal {
  const char* name;
  const char* environment;
  const char* arguments;
  int status;
  const char* error;
};

void PrintTo(const Refusal& refusal, std::ostream* os) { *os << refusal.name; }

std::string Expand(std::string text, const std::string& dir) {
  const std::pair<std::string, std::string> kNames[] = {
      {"$TARGET", "--diag-target 127.0.0.1:9"},
      {"$GOOD", "--settings $DIR/good.ini"},
      {"$DIR", dir}};
  for (const auto& [name, value] : kNames) {
    for (size_t at = text.find(name); at != std::string::npos;
         at = text.find(name, at + value.size())) {
      text.replace(at, name.size(), value);
    }
  }
  return text;
}

class VenueRefusalTest : public ::testing::TestWithParam<Refusal> {};

TEST_P(VenueRefusalTest, RefusesWithTheCauseAndTheFix) {
  const Refusal& refusal = GetParam();
  rondel::testing::ScratchDir dir;
  rondel::testing::WriteFileBytes(
      dir.File("good.ini"),
      "[MainServer]\r\nDataBaseServerIp=127.0.0.1\r\n"
      "DataBaseServerPort=9\r\n[KTV]\r\n"
      "DataBaseName=karaok\r\n");
  rondel::testing::WriteFileBytes(
      dir.File("nameless.ini"),
      "[MainServer]\r\nDataBaseServerIp=127.0.0.1\r\n"
      "[ktv]\r\n; DataBaseName=karaok\r\n");
  // --seconds 1 first: a build that starts anyway ends soon.
  const std::string command =
      Expand(std::string("env -u RONDEL_DIAG_TARGET -u RONDEL_SETTINGS_FILE "
                         "RONDEL_SNAPSHOT_DIR=$DIR/snapshots ") +
                 refusal.environment + " " RONDEL_VENUE_PATH " --seconds 1 " +
                 refusal.arguments + " 2>&1 >/dev/null",
             dir.path());
  std::string error;
  const int status = rondel::testing::RunCommand(command, &error);
  // A usage error ends with the usage line.
  const std::string usage =
      refusal.status == 2
          ? "usage: rondel-venue (--diag-target IP:PORT | --broadcast) "
            "[--settings FILE] [options]\n"
          : "";
  EXPECT_EQ(
      std::make_tuple(status, error),
      std::make_tuple(refusal.status, Expand(std::string("rondel-venue: ") +
                                                 refusal.error + "\n" + usage,
                                             dir.path())));
}

const Refusal kRefusals[] = {
    {"NoDiagnosticTarget", "", "$GOOD", 2,
     "no diagnostic target: the diagnostics of every call would go to the "
     "venue's broadcast address; give --diag-target IP:PORT (or "
     "RONDEL_DIAG_TARGET=IP:PORT), or --broadcast to send them there on "
     "purpose"},
    {"MalformedTargetVariable", "RONDEL_DIAG_TARGET=192.168.0.255", "$GOOD", 2,
     "RONDEL_DIAG_TARGET \"192.168.0.255\": not IP:PORT; give an IPv4 "
     "address and a port from 1 to 65535, e.g. 127.0.0.1:6001"},
    {"BroadcastBesideATarget", "RONDEL_DIAG_TARGET=127.0.0.1:9",
     "--broadcast $GOOD", 2,
     "--broadcast and a diagnostic target (--diag-target or "
     "RONDEL_DIAG_TARGET) both given; give one of them"},
    {"NoSettingsFile", "", "$TARGET", 2,
     "no settings file: give --settings FILE (or RONDEL_SETTINGS_FILE=FILE) "
     "naming the database ([MainServer] DataBaseServerIp, [KTV] "
     "DataBaseName); the simulator does not run on the library's defaults"},
    {"SettingsFileMissing", "RONDEL_SETTINGS_FILE=$DIR/none.ini", "$TARGET", 1,
     "settings file \"$DIR/none.ini\": No such file or directory; give a "
     "readable settings file naming the database with --settings FILE"},
    {"SettingsNameNoDatabase", "", "$TARGET --settings $DIR/nameless.ini", 1,
     "settings file \"$DIR/nameless.ini\" does not name the database ([KTV] "
     "DataBaseName missing); add the missing keys or give another file"},
    {"NoRooms", "", "$TARGET $GOOD --rooms 0", 2,
     "--rooms 0: out of range; give 1 to 512"},
    {"RoomsNotANumber", "", "$TARGET $GOOD --rooms abc", 2,
     "--rooms \"abc\": not a whole number; give 1 to 512"},
    {"FirstRoomNotAnAddress", "", "$TARGET $GOOD --first-room 10.0.1", 2,
     "--first-room \"10.0.1\": not an IPv4 address; give four numbers, e.g. "
     "10.0.1.10"},
    {"RoomsPastTheLastAddress", "",
     "$TARGET $GOOD --first-room 255.255.255.250", 2,
     "--first-room 255.255.255.250 with 24 rooms: the rooms' addresses would "
     "run past 255.255.255.255; give a lower first room or fewer rooms"},
    {"SecondsNotFinite", "", "$TARGET $GOOD --seconds inf", 2,
     "--seconds \"inf\": not a number; give a number above 0"},
    {"MissingValue", "", "$TARGET $GOOD --threads", 2,
     "--threads needs a value; see rondel-venue --help"},
    {"UnknownArgument", "", "$TARGET $GOOD --room 3", 2,
     "unknown argument \"--room\"; see rondel-venue --help"},
};

INSTANTIATE_TEST_SUITE_P(Refusals, VenueRefusalTest,
                         ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<Refusal>& info) {
                           return std::string(info.param.name);
                         });

TEST(VenueSimulatorTest, HelpGoesToStandardOutputWithTheExitStatuses) {
  std::string output;
  const int status = rondel::testing::RunCommand(
      RONDEL_VENUE_PATH " --help 2>/dev/null", &output);
  EXPECT_EQ(std::make_tuple(status, output.rfind("usage: rondel-venue", 0),
                            output.find("Exit status: 0") != std::string::npos),
            std::make_tuple(0, size_t{0}, true))
      << output;
}

// With the database unreachable the run still goes on offline, and every
// diagnostic it sends arrives at the given target.
TEST(VenueSimulatorTest, DiagnosticsGoToTheGivenTarget) {
  rondel::testing::ScratchDir dir;
  rondel::testing::UdpReceiver receiver;
  ASSERT_TRUE(receiver.ok());
  rondel::testing::WriteFileBytes(
      dir.File("good.ini"),
      "[MainServer]\r\nDataBaseServerIp=127.0.0.1\r\n"
      "DataBaseServerPort=9\r\n[KTV]\r\n"
      "DataBaseName=karaok\r\n");
  std::string output;
  const int status = rondel::testing::RunCommand(
      "env -u RONDEL_DIAG_TARGET -u RONDEL_SETTINGS_FILE RONDEL_SNAPSHOT_DIR=" +
          dir.File("snapshots") + " " RONDEL_VENUE_PATH " --diag-target " +
          receiver.target() + " --settings " + dir.File("good.ini") +
          " --rooms 2 --seconds 1 --json 2>&1",
      &output);
  std::string payload;
  EXPECT_EQ(std::make_tuple(status, receiver.Receive(&payload, 1000)),
            std::make_tuple(0, true))
      << output;
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

// The plays a run saved, as its --json summary tells them apart.
std::tuple<long, long, long, long, long> PlaysSaved(const std::string& output) {
  long saved = -1, delivered = -1, kept = -1, before = -1, set_aside = -1;
  const size_t at = output.find("\"plays_saved\": ");
  if (at != std::string::npos) {
    std::sscanf(output.c_str() + at,
                "\"plays_saved\": {\"saved\": %ld, \"delivered\": %ld, "
                "\"kept\": %ld, \"kept_before\": %ld, \"set_aside\": %ld",
                &saved, &delivered, &kept, &before, &set_aside);
  }
  return {saved, delivered, kept, before, set_aside};
}

// SaveVideoTime answers nothing, so the summary counts where the plays went
// from the files the library keeps: online all are delivered; with the
// database stopped all are kept; once it is back the kept ones go with the
// new. The database holds every play counted delivered; the header names
// the database.
TEST(VenueSimulatorTest, SummaryTellsDeliveredKeptAndSetAsidePlaysApart) {
  rondel::testing::VenueServer venue(
      {"--rooms", "8", "--file-servers", "2", "--groups", "1"});
  ASSERT_NE(venue.port(), 0);
  const std::string environment =
      "RONDEL_SETTINGS_FILE=" + venue.WriteSettingsFile("127.0.0.1") +
      " RONDEL_SNAPSHOT_DIR=" + venue.folder() +
      "/snapshots RONDEL_LOG_FILE=" + venue.folder() +
      "/rondel.log RONDEL_DIAG_TARGET=127.0.0.1:9";
  const std::string first_run = RunVenue(environment);
  const auto online = PlaysSaved(first_run);
  const int port = venue.port();
  venue.Stop();
  const auto offline = PlaysSaved(RunVenue(environment));
  venue.Start(port);
  ASSERT_EQ(venue.port(), port);
  const auto back = PlaysSaved(RunVenue(environment));

  const long online_saved = std::get<0>(online);
  const long offline_saved = std::get<0>(offline);
  const long back_saved = std::get<0>(back);
  ASSERT_GT(online_saved, 0);
  ASSERT_GT(offline_saved, 0);
  EXPECT_EQ(online, std::make_tuple(online_saved, online_saved, 0L, 0L, 0L));
  EXPECT_EQ(offline, std::make_tuple(offline_saved, 0L, offline_saved, 0L, 0L));
  EXPECT_EQ(back, std::make_tuple(back_saved, back_saved + offline_saved, 0L,
                                  offline_saved, 0L));
  EXPECT_NE(first_run.find("{\"database\": \"" + venue.address() +
                           ", database karaok\""),
            std::string::npos)
      << first_run;
  const auto rows = venue.Query("SELECT count(*) FROM play_records");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0].value_or(""),
            std::to_string(online_saved + back_saved + offline_saved));
}

}  // namespace
