// next_video_bench: GetNextVideo for a room with a selection and a counted
// server list, against a bare DB-Library program making the same exchanges
// (the same logins, procedures, parameters and rows) in the same run. Rounds
// of the two alternate, so that a noisy neighbour hits both; the report is the
// ratio of their median times per call.
#include <sqldb.h>  // DB-Library with the SQLINT4 and SQLVARCHAR names
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bare_client.h"
#include "catalogue/media_index.h"
#include "catalogue/tables.h"
#include "child_process.h"
#include "frame/session.h"
#include "frame/settings.h"
#include "playback/next_video.h"

namespace {

constexpr int kRounds = 15;
constexpr int kCallsPerRound = 40;
constexpr char kRoom[] = "10.30.0.1";

// The selection and the group's five servers with their counts.
const char kProcedures[] =
    "INSERT OR REPLACE INTO vdb_procedures VALUES('spm_getplayingmedia', "
    "'@userip varchar(20) = NULL, @media_id int = 0 OUTPUT', "
    "'SELECT 101 AS \"@media_id\"');"
    "INSERT OR REPLACE INTO vdb_procedures VALUES("
    "'sp_getfileserverconnectioninfo', '@group_id int = NULL', "
    "'SELECT 1, 2, 30, ''10.0.0.1'' UNION ALL SELECT 1, 2, 12, ''10.0.0.2'' "
    "UNION ALL SELECT 1, 2, 12, ''10.0.0.3'' UNION ALL SELECT 1, 2, 50, "
    "''10.0.0.4'' UNION ALL SELECT 1, 2, 7, ''10.0.0.5''');";

std::string g_server;

DBPROCESS* Open() { return rondel::bench::OpenLikeTheLibrary(g_server); }

// The selection query and the counted server list, bare.
bool BareExchanges() {
  DBPROCESS* c = Open();
  if (c == nullptr) return false;
  DBINT media_id = 0;
  bool ok =
      dbrpcinit(c, const_cast<char*>("spm_getplayingmedia"), 0) == SUCCEED &&
      dbrpcparam(c, const_cast<char*>("@userip"), 0, SQLVARCHAR, -1,
                 static_cast<DBINT>(std::strlen(kRoom)),
                 reinterpret_cast<BYTE*>(const_cast<char*>(kRoom))) ==
          SUCCEED &&
      dbrpcparam(c, const_cast<char*>("@media_id"), DBRPCRETURN, SQLINT4, -1,
                 -1, reinterpret_cast<BYTE*>(&media_id)) == SUCCEED &&
      dbrpcsend(c) == SUCCEED && dbsqlok(c) == SUCCEED;
  for (int i = 1; ok && i <= dbnumrets(c); ++i) {
    if (std::strcmp(dbretname(c, i), "@media_id") == 0) {
      std::memcpy(&media_id, dbretdata(c, i), sizeof media_id);
    }
  }
  dbclose(c);
  if (!ok || media_id != 101) return false;

  c = Open();
  if (c == nullptr) return false;
  DBINT group = 2, count = 0;
  char address[20];
  int rows = 0;
  ok = dbrpcinit(c, const_cast<char*>("sp_getfileserverconnectioninfo"), 0) ==
           SUCCEED &&
       dbrpcparam(c, const_cast<char*>("@group_id"), 0, SQLINT4, -1, -1,
                  reinterpret_cast<BYTE*>(&group)) == SUCCEED &&
       dbrpcsend(c) == SUCCEED && dbsqlok(c) == SUCCEED;
  RETCODE result;
  while (ok && (result = dbresults(c)) != NO_MORE_RESULTS) {
    ok = result == SUCCEED &&
         dbbind(c, 3, INTBIND, 0, reinterpret_cast<BYTE*>(&count)) == SUCCEED &&
         dbbind(c, 4, NTBSTRINGBIND, sizeof address,
                reinterpret_cast<BYTE*>(address)) == SUCCEED;
    while (ok && dbnextrow(c) == REG_ROW) ++rows;
  }
  dbclose(c);
  return ok && rows == 5;
}

bool LibraryCall() {
  char url[64], kind[8], name[100];
  return rondel::NextVideo(kRoom, name, nullptr, url, kind, nullptr, nullptr,
                           nullptr, nullptr, nullptr) == 1 &&
         std::strcmp(url, "vsp://10.0.0.5/|||101") == 0;
}

template <typename Call>
double Round(Call call) {
  return rondel::bench::TimedRound(kCallsPerRound, call);
}

}  // namespace

int main() {
  const std::string state = RONDEL_BENCH_STATE_DIR "/next_video";
  mkdir(RONDEL_BENCH_STATE_DIR, 0755);
  mkdir(state.c_str(), 0755);
  const std::string database = state + "/venue.db";
  std::remove(database.c_str());
  if (!rondel::bench::RunChild({RONDEL_VENUEDB_PATH, "init", "--db", database},
                               {}, state)
           .exited_zero) {
    std::fprintf(stderr, "next_video_bench: venuedb init failed\n");
    return 1;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open(database.c_str(), &db) != SQLITE_OK ||
      sqlite3_exec(db, kProcedures, nullptr, nullptr, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "next_video_bench: %s\n", sqlite3_errmsg(db));
    return 1;
  }
  sqlite3_close(db);
  rondel::bench::VenueServer server;
  if (!server.Start(RONDEL_VENUEDB_PATH, database, state + "/venuedb")) {
    std::fprintf(stderr, "next_video_bench: venuedb did not start\n");
    return 1;
  }
  g_server = "127.0.0.1:" + std::to_string(server.port());

  // The library, set up as start-up leaves it: settings pointing at the
  // server, one media of group 2 in the catalogue, datagrams to loopback.
  setenv("RONDEL_DIAG_TARGET", "127.0.0.1:9", 1);
  const std::string settings = state + "/Korvane.ini";
  std::ofstream(settings) << "[MainServer]\nDataBaseServerIp=127.0.0.1\n"
                          << "DataBaseServerPort=" << server.port() << "\n";
  if (!rondel::StartDbLibrary()) return 1;
  dberrhandle(rondel::bench::CancelOnError);
  rondel::ReadStartupSettings(settings.c_str());
  rondel::MediaRecord& media = rondel::g_catalogue.medias[0];
  media.MediaId = 101;
  media.Class = rondel::kSong;
  media.GroupId = 2;
  std::strcpy(media.MediaName, "bench");
  rondel::g_catalogue.table_records.MediaCount = 1;
  rondel::NoteMediasWritten(1);
  rondel::RebuildLookupIndexes();

  std::vector<double> library, bare;
  for (int round = 0; round < kRounds; ++round) {
    const double l = Round(LibraryCall);
    const double b = Round(BareExchanges);
    if (l < 0 || b < 0) {
      std::fprintf(stderr, "next_video_bench: a call failed in round %d\n",
                   round);
      return 1;
    }
    library.push_back(l);
    bare.push_back(b);
  }
  const double l = rondel::bench::Median(library),
               b = rondel::bench::Median(bare);
  std::printf("GetNextVideo (selection, counted list)  %9.1f us per call\n",
              l / 1000);
  std::printf("bare DB-Library, same exchanges        %9.1f us per call\n",
              b / 1000);
  std::printf("ratio                                  %9.3f (target <= 1.05)\n",
              l / b);
  return 0;
}
