// Every database operation of the library against every way the venue
// database can fail it: the start-up loaders and each export that talks to the
// database, crossed with venuedb's faults. Each cell checks the answer and the
// outputs the operation's contract gives for that failure, the module log, that
// the call ends within a few time-outs (RONDEL_DB_TIMEOUT=1), and then that the
// same operation, run on another host thread with the fault removed, answers as
// on a healthy venue: the catalogue lock was released and nothing stayed
// broken.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "catalogue/media_index.h"
#include "catalogue/media_loader.h"
#include "catalogue/play_list_loaders.h"
#include "catalogue/tables.h"
#include "catalogue/venue_loaders.h"
#include "catalogue_records.h"
#include "database_test.h"
#include "frame/settings.h"
#include "platform/net_test_hooks.h"
#include "playback/fire_alarm_memory.h"
#include "rondel.h"
#include "test_system.h"

namespace rondel {
namespace {

using testing::SetEnv;

constexpr int kTimeoutSeconds = 1;
// Outputs start as these, so that an output a call left alone shows as such.
constexpr int kUntouched = -7;
constexpr char kUntouchedText[] = "~";

// The venue every cell starts from: three file servers of group 1 with
// connection counts (the least loaded is 10.0.0.2), three rooms, three media
// with a file each, play type 5, three entries in each play list, an
// advertisement (media 1003), a fire-alarm entry for 10.1.0.1, the default
// video and page, and trade log 1. Each multi-row result has three rows, so a
// cut after two rows falls inside it.
constexpr char kVenue[] =
    "INSERT INTO server_groups VALUES (1, 'g1', 1);"
    "INSERT INTO fileservers(fileserver_id, fileserver_name, "
    "  fileserver_IpAddress, group_id) VALUES (1, 'fs1', '10.0.0.1', 1),"
    "  (2, 'fs2', '10.0.0.2', 1), (3, 'fs3', '10.0.0.3', 1);"
    "INSERT INTO fileserver_connections(group_id, fileserver_id, "
    "  connection_count, fileserver_ipaddress, totalconnection_count) VALUES"
    "  (1, 1, 5, '10.0.0.1', 50), (1, 2, 3, '10.0.0.2', 50),"
    "  (1, 3, 7, '10.0.0.3', 50);"
    "INSERT INTO rooms(room_id, room_info, room_address, room_number) VALUES"
    "  (1, 'A01', '10.1.0.1', 101), (2, 'A02', '10.1.0.2', 102),"
    "  (3, 'A03', '10.1.0.3', 103);"
    "INSERT INTO medias(media_id, media_name, media_code) VALUES"
    "  (1001, 'one', '1000001'), (1002, 'two', '1000002'),"
    "  (1003, 'three', '1000003');"
    "INSERT INTO media_files VALUES (1, 1001, 1, '/m/1001.mpg'),"
    "  (1, 1002, 1, '/m/1002.mpg'), (1, 1003, 1, '/m/1003.mpg');"
    "INSERT INTO configures(Configure_ID, Configure_Set01) VALUES (1, 5);"
    "INSERT INTO MediaUserSet VALUES (1, 1001, 1), (2, 1002, 2), (3, 1003, 3);"
    "INSERT INTO media_charts(chart_name, chart_rank, media_id)"
    "  SELECT c.name, m.media_id - 1000, m.media_id FROM medias m,"
    "  (SELECT 'all' AS name UNION SELECT 'week' UNION SELECT 'month'"
    "   UNION SELECT 'new') c;"
    "INSERT INTO advertisements(media_id) VALUES (1003);"
    "INSERT INTO fire_alerts(ipaddress, video_file) VALUES"
    "  ('10.1.0.1', 'a01.mpg');"
    "INSERT INTO fire_alarm_settings(setting_id, default_video_file, "
    "  home_page) VALUES (1, 'fire.mpg', 'fire.html');"
    "INSERT INTO trade_logs(room_address, media_id) VALUES ('10.1.0.1', 1001);";

// The tables the library's SQL texts name: a SQL text has no procedure to
// lose, so losing its table is its unknown-object failure.
constexpr const char* kSqlTextTables[] = {"medias", "configures",
                                          "MediaUserSet", "fileservers"};

std::string Text(const char* text) { return text; }

// One database operation as the host or start-up calls it. `call` runs on a
// host thread and answers "result outputs..."; `observe` (optional) adds what
// the database kept, read on the test's thread afterwards.
struct Operation {
  const char* name;
  std::function<std::string()> call;
  std::function<std::string(testing::VenueServer&)> observe;
  std::string succeeded;
  std::string failed;
  // The answer when no connection opens, where it is not `failed`.
  std::string unconnected;
  // A SQL text rather than a procedure: faults aimed at procedures pass it by.
  bool sql_text = false;
  // Rows of its result in kVenue; 0 when it reads no result set, so a cut
  // after rows never reaches it.
  int rows = 0;
  // A cut after at least one row leaves the answer those rows gave (the
  // contract keeps what was read); otherwise a cut fails the operation.
  bool keeps_rows_read = false;
  // Cells that answer part of the work, by fault name.
  std::map<std::string, std::string> partial;
  // Time-outs a failing call can wait through (one per exchange it makes
  // before giving up).
  int waits = 1;
};

class FaultMatrixTest;

// One way the venue database fails. `setup` switches it on, `teardown` off.
struct Fault {
  const char* name;
  bool no_connection;    // the failure comes at login: no connection opens
  bool procedures_only;  // venuedb applies it to procedure calls alone
  int cut_after_rows;    // close_after_rows K, or -1
  bool kill;  // the server is stopped once a procedure call is in flight
  // Every line the cell logs holds one of these; a cell that fails logs at
  // least one line, and a failed login the first of them (the library's own).
  std::vector<std::string> logged;
  std::function<void(FaultMatrixTest&)> setup;
  std::function<void(FaultMatrixTest&)> teardown;
};

std::string Expected(const Operation& op, const Fault& fault) {
  auto part = op.partial.find(fault.name);
  if (part != op.partial.end()) return part->second;
  if (fault.no_connection) {
    return op.unconnected.empty() ? op.failed : op.unconnected;
  }
  if (op.sql_text && fault.procedures_only) return op.succeeded;
  if (fault.cut_after_rows >= 0) {
    // venuedb cuts a result only once K of its rows are out: a shorter result
    // (or none) passes whole.
    if (op.rows == 0 || fault.cut_after_rows > op.rows) return op.succeeded;
    if (fault.cut_after_rows > 0 && op.keeps_rows_read) return op.succeeded;
  }
  return op.failed;
}

class FaultMatrixTest
    : public testing::DatabaseTest,
      public ::testing::WithParamInterface<std::tuple<Operation, Fault>> {
 public:
  // The faults below are set from outside the fixture.
  using DatabaseTest::AddFault;
  using DatabaseTest::EndSilentServer;
  using DatabaseTest::PointAtSilentServer;

  void SetUp() override {
    SetEnv("RONDEL_DB_TIMEOUT", std::to_string(kTimeoutSeconds));
    SetEnv("RONDEL_SNAPSHOT_DIR", scratch_.path());
    DatabaseTest::SetUp();
    UseSettings();
    venue_.Exec(kVenue);
    // GetDataServer's rows then list only other machines.
    platform::OverrideHostAddresses({"10.50.0.5"});
    MediaRecord& ad = testing::AddMedia(1003, kSong, "three");
    ad.GroupId = 1;
    RebuildLookupIndexes();
  }
  // As a host's ExitDatabase does: an answer the fire alarm remembered is
  // written before the case ends, and its writer thread joined.
  void TearDown() override {
    FireAlarmMemory::FinishWriting();
    platform::ClearHostAddressOverride();
  }

  // Settings for the server as it runs now (its port changes on a restart).
  void UseSettings() {
    settings_path_ = venue_.WriteSettingsFile("10.9.9.9");
    ReadStartupSettings(settings_path_.c_str());
    // A play that finds no connection is either sent or not here; keeping it
    // for later is the outbox's own concern.
    CurrentSettings().keep_unsent_plays = false;
  }
  void ClearFaults() { venue_.Exec("DELETE FROM vdb_faults"); }
  void RenameObjects(const std::string& from_suffix,
                     const std::string& to_suffix) {
    venue_.Exec(
        "UPDATE vdb_procedures SET name = substr(name, 1, length(name) - " +
        std::to_string(from_suffix.size()) + ") || '" + to_suffix +
        "' WHERE name LIKE '%" + from_suffix + "'");
    for (const char* table : kSqlTextTables) {
      venue_.Exec(std::string("ALTER TABLE ") + table + from_suffix +
                  " RENAME TO " + table + to_suffix);
    }
  }
  void RestartIfStopped() {
    if (venue_.port() != 0) return;
    venue_.Start();
    UseSettings();
  }

  // Runs the operation on a host thread of its own. With `kill_server`, stops
  // venuedb as soon as one of its procedure calls is in flight. A call still
  // running three time-outs per wait after it began ends the test program: a
  // hang.
  std::string RunOnHostThread(const Operation& op, bool kill_server) {
    if (kill_server && op.sql_text) venue_.Freeze();
    std::string outcome;
    std::atomic<bool> done{false};
    std::thread host([&] {
      outcome = op.call();
      done = true;
    });
    const auto start = std::chrono::steady_clock::now();
    const auto deadline =
        start + std::chrono::seconds(3 * kTimeoutSeconds * op.waits);
    bool killed = !kill_server;
    while (!done && std::chrono::steady_clock::now() < deadline) {
      // A procedure call is killed once venuedb holds it; a SQL text, which
      // nothing holds, once its login has had time to reach the frozen server
      // (a kill before that is a refused connection: the same answer).
      if (!killed && (op.sql_text ? std::chrono::steady_clock::now() - start >
                                        std::chrono::milliseconds(300)
                                  : RpcInFlight())) {
        venue_.Stop();
        killed = true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!done) {
      ADD_FAILURE() << op.name << " still running after "
                    << 3 * kTimeoutSeconds * op.waits << " s";
      std::fflush(nullptr);
      _exit(1);
    }
    host.join();
    if (op.observe) outcome += op.observe(venue_);
    return outcome;
  }

 private:
  bool RpcInFlight() {
    auto rows = venue_.Query(
        "SELECT count(*) FROM vdb_journal WHERE kind = 'rpc' AND "
        "outcome = 'running'");
    return !rows.empty() && rows[0][0] != std::string("0");
  }
};

void PrintTo(const Operation& op, std::ostream* out) { *out << op.name; }
void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.name; }

std::string Flag(bool value) { return value ? "1" : "0"; }

std::string LoaderCall(const std::function<int()>& load) {
  ResetCatalogue();
  g_catalogue.identity_file_server_id = 1;
  g_catalogue.identity_group_id = 1;
  return std::to_string(load());
}

Operation Loader(const char* name, std::function<int()> load,
                 bool sql_text = false) {
  Operation op;
  op.name = name;
  op.call = [load] { return LoaderCall(load); };
  op.succeeded = "3";
  op.failed = "-1";
  op.sql_text = sql_text;
  op.rows = 3;
  return op;
}

std::vector<Operation> Operations() {
  std::vector<Operation> ops;
  ops.push_back(Loader("LoadFileServers", LoadFileServers));
  ops.push_back(Loader("LoadRooms", LoadRooms));
  ops.push_back(Loader("LoadMedias", LoadMedias));
  ops.push_back(
      Loader("LoadAllSequence", [] { return LoadSequence(Sequence::kAll); }));
  ops.push_back(
      Loader("LoadWeekSequence", [] { return LoadSequence(Sequence::kWeek); }));
  ops.push_back(Loader("LoadMonthSequence",
                       [] { return LoadSequence(Sequence::kMonth); }));
  ops.push_back(
      Loader("LoadNewSequence", [] { return LoadSequence(Sequence::kNew); }));
  ops.push_back(Loader("LoadUserSequence", LoadUserSequence, true));

  Operation play_type;
  play_type.name = "LoadPlayType";
  play_type.call = [] {
    ResetCatalogue();
    const bool loaded = LoadPlayType();
    return Flag(loaded) + " " + std::to_string(g_play_type);
  };
  play_type.succeeded = "1 5";
  play_type.failed = "0 2";
  play_type.sql_text = true;
  play_type.rows = 1;
  play_type.keeps_rows_read = true;
  ops.push_back(play_type);

  Operation song_total;
  song_total.name = "GetSongTotal";
  song_total.call = [] { return std::to_string(GetSongTotal(5)); };
  song_total.succeeded = "1";
  song_total.failed = "0";
  song_total.sql_text = true;
  song_total.rows = 1;
  song_total.keeps_rows_read = true;
  ops.push_back(song_total);

  Operation next_video;
  next_video.name = "GetNextVideo";
  next_video.call = [] {
    char name[100] = "~", code[10] = "~", url[41] = "~", kind[5] = "~";
    const int result = GetNextVideo("10.1.0.2", name, code, url, kind, nullptr,
                                    nullptr, nullptr, nullptr, nullptr);
    return std::to_string(result) + " " + name + " " + kind + " " + url;
  };
  next_video.succeeded = "1 three ad vsp://10.0.0.2/|||1003";
  next_video.failed = "0 ~ ~ ~";
  // The selection and advertisement queries read no rows, so a cut reaches
  // only the server list: the media is known, but no server read, so it plays
  // from FileServerIP.
  next_video.rows = 3;
  for (const char* cut :
       {"closed_after_0_rows", "closed_after_1_row", "closed_mid_result"}) {
    next_video.partial[cut] = "1 three ad vsp://10.9.9.9/|||1003";
  }
  next_video.waits = 2;
  ops.push_back(next_video);

  Operation fire_video;
  fire_video.name = "GetFirealarmVideo";
  fire_video.call = [] {
    char url[282] = "~", format1[6] = "~", format2[5] = "~";
    const int result = GetFirealarmVideo("10.1.0.1", url, format1, format2);
    return std::to_string(result) + " " + url + " " + format1 + " " + format2;
  };
  fire_video.succeeded = "1 vsp://10.9.9.9/a01.mpg MPEG1 MPEG";
  fire_video.failed = "0 ~ ~ ~";
  fire_video.rows = 1;
  fire_video.keeps_rows_read = true;
  fire_video.waits = 2;
  ops.push_back(fire_video);

  Operation fire_page;
  fire_page.name = "GetFirealarmPage";
  fire_page.call = [] {
    char page[100] = "~";
    return std::to_string(GetFirealarmPage("10.1.0.1", page)) + " " + page;
  };
  fire_page.succeeded = "1 fire.html";
  fire_page.failed = "0 ~";
  fire_page.rows = 1;
  fire_page.keeps_rows_read = true;
  ops.push_back(fire_page);

  Operation play;
  play.name = "SaveVideoTime";
  play.call = [] {
    char room[] = "10.1.0.1", begin[] = "2026-01-01 10:00:00",
         end[] = "2026-01-01 10:04:00";
    return std::to_string(SaveVideoTime(1001, room, begin, end, 1));
  };
  // Plays that arrived since the last look (each look empties the table).
  play.observe = [](testing::VenueServer& venue) {
    auto rows = venue.Query("SELECT count(*) FROM play_records");
    venue.Exec("DELETE FROM play_records");
    return " recorded=" + (rows.empty() ? Text("?") : rows[0][0].value_or(""));
  };
  play.succeeded = "0 recorded=1";
  play.failed = "0 recorded=0";
  ops.push_back(play);

  Operation add_log;
  add_log.name = "AddLog";
  add_log.call = [] {
    int id = kUntouched, code = kUntouched;
    char text[201] = "~";
    const int result = AddLog("10.1.0.1", 1001, &id, &code, text, nullptr);
    // Which new id the venue hands out is its own business.
    return std::to_string(result) +
           " id=" + (id > 0 ? Text("new") : std::to_string(id)) +
           " code=" + std::to_string(code) + " text=" + text;
  };
  add_log.succeeded = "1 id=new code=0 text=";
  add_log.failed = "0 id=-7 code=-7 text=~";
  ops.push_back(add_log);

  Operation modify_log;
  modify_log.name = "ModifyLog";
  modify_log.call = [] {
    int code = kUntouched;
    char text[201] = "~";
    const int result = ModifyLog(1, &code, text, nullptr);
    return std::to_string(result) + " code=" + std::to_string(code) +
           " text=" + text;
  };
  modify_log.succeeded = "1 code=0 text=";
  modify_log.failed = "0 code=-7 text=~";
  ops.push_back(modify_log);

  Operation authorization;
  authorization.name = "GetAuthorization";
  authorization.call = [] {
    int code = kUntouched;
    char text[201] = "~";
    const int result = GetAuthorization("10.1.0.1", 1001, &code, text, nullptr);
    return std::to_string(result) + " code=" + std::to_string(code) +
           " text=" + text;
  };
  authorization.succeeded = "1 code=0 text=";
  authorization.failed = "0 code=-7 text=~";
  // An unreachable database never keeps a room from playing.
  authorization.unconnected = "1 code=-7 text=~";
  ops.push_back(authorization);

  Operation data_server;
  data_server.name = "GetDataServer";
  data_server.call = [] {
    const int result = GetDataServer();
    char address[sizeof Settings::file_server_ip];
    CopyFileServerIp(address);
    return std::to_string(result) + " fsip=" + address;
  };
  data_server.succeeded = "1 fsip=10.9.9.9";
  data_server.failed = "0 fsip=10.9.9.9";
  data_server.sql_text = true;
  data_server.rows = 3;
  data_server.keeps_rows_read = true;
  ops.push_back(data_server);

  Operation server_group;
  server_group.name = "GetServerGroup";
  server_group.call = [] {
    int group = kUntouched;
    const bool found = GetServerGroup(1, &group);
    return Flag(found) + " group=" + std::to_string(group);
  };
  server_group.succeeded = "1 group=1";
  server_group.failed = "0 group=-7";
  server_group.rows = 1;
  server_group.keeps_rows_read = true;
  ops.push_back(server_group);

  Operation add_count;
  add_count.name = "AddVideoServerConnectNum";
  add_count.call = [] {
    return Flag(AddVideoServerConnectNum(1, 4, 2, 40, "10.0.0.4"));
  };
  add_count.succeeded = "1";
  add_count.failed = "0";
  ops.push_back(add_count);

  Operation modify_count;
  modify_count.name = "ModifyVideoServerConnectNum";
  modify_count.call = [] {
    return Flag(ModifyVideoServerConnectNum(1, 1, 4, 50, "10.0.0.1"));
  };
  modify_count.succeeded = "1";
  modify_count.failed = "0";
  ops.push_back(modify_count);

  Operation get_count;
  get_count.name = "GetVideoServerConnectNum";
  get_count.call = [] {
    int connections = kUntouched;
    char address[20] = "~";
    const bool result = GetVideoServerConnectNum(1, 0, &connections, address);
    return Flag(result) + " count=" + std::to_string(connections) +
           " address=" + address;
  };
  get_count.succeeded = "0 count=7 address=10.0.0.3";
  get_count.failed = "0 count=-7 address=~";
  get_count.rows = 3;
  // The outputs hold the last row read before the cut.
  get_count.partial["closed_after_1_row"] = "0 count=5 address=10.0.0.1";
  get_count.partial["closed_mid_result"] = "0 count=3 address=10.0.0.2";
  ops.push_back(get_count);

  Operation delete_count;
  delete_count.name = "DeleteVideoServerConnectNum";
  delete_count.call = [] { return Flag(DeleteVideoServerConnectNum(1, 3)); };
  delete_count.observe = [](testing::VenueServer& venue) {
    auto rows = venue.Query("SELECT count(*) FROM fileserver_connections");
    return " rows=" + (rows.empty() ? Text("?") : rows[0][0].value_or(""));
  };
  delete_count.succeeded = "0 rows=2";
  delete_count.failed = "0 rows=3";
  ops.push_back(delete_count);

  Operation group_state;
  group_state.name = "ModifyGroupState";
  group_state.call = [] { return std::to_string(ModifyGroupState(1, 1)); };
  group_state.succeeded = "1";
  group_state.failed = "0";
  ops.push_back(group_state);
  return ops;
}

// The library's own line for a login that fails, and DB-Library's texts.
const char kLoginFailed[] = "login database server \"127.0.0.1\" error";
const char kConnectionFailed[] = "Adaptive Server connection failed";
const char kUnavailable[] = "Adaptive Server is unavailable or does not exist";
const char kTimedOut[] = "Adaptive Server connection timed out";
const char kServerMessage[] =
    "General SQL Server error: Check messages from the SQL Server";
const char kEndOfFile[] = "Unexpected EOF from the server";
// A server killed under a connection: Windows sockets see the reset, not an
// end.
const char kReadFailed[] = "Read from the server failed";
const char kDead[] = "DBPROCESS is dead or not enabled";
// The server's own refusal, a server never reached, and the changes of state
// an opening that fails (or works again) logs.
const char kLoginRefused[] =
    "says 18456 (class 14, state 1): Login failed for user 'sa'.";
const char kNoDatabase[] =
    "says 911 (class 16, state 1): Database 'nowhere' does not exist.";
const char kNotReached[] = "connecting to 127.0.0.1:";
const char kStoppedAnswering[] = "\" stopped answering";
const char kAnswersAgain[] = "\" answers again";

Fault CutAfterRows(const char* name, int rows) {
  return {
      name,
      false,
      false,
      rows,
      false,
      {kEndOfFile, kDead},
      [rows](FaultMatrixTest& t) { t.AddFault("close_after_rows", "*", rows); },
      [](FaultMatrixTest& t) { t.ClearFaults(); }};
}

std::vector<Fault> Faults() {
  auto clear = [](FaultMatrixTest& t) { t.ClearFaults(); };
  return {
      {"login_refused",
       true,
       false,
       -1,
       false,
       {kLoginFailed, kConnectionFailed, kServerMessage, kLoginRefused,
        kStoppedAnswering},
       [](FaultMatrixTest& t) { t.AddFault("refuse_login", "*", 0); },
       clear},
      {"unknown_database",
       true,
       false,
       -1,
       false,
       {"use database \"nowhere\" error", kServerMessage, kNoDatabase,
        kStoppedAnswering},
       [](FaultMatrixTest&) {
         std::strcpy(CurrentSettings().database_name, "nowhere");
       },
       [](FaultMatrixTest&) {
         std::strcpy(CurrentSettings().database_name, "karaok");
       }},
      {"stalled_at_login",
       true,
       false,
       -1,
       false,
       {kLoginFailed, kConnectionFailed, kTimedOut, kNotReached,
        kStoppedAnswering},
       [](FaultMatrixTest& t) { t.PointAtSilentServer(); },
       [](FaultMatrixTest& t) { t.EndSilentServer(); }},
      {"unknown_procedure",
       false,
       false,
       -1,
       false,
       {kServerMessage},
       [](FaultMatrixTest& t) { t.RenameObjects("", "_gone"); },
       [](FaultMatrixTest& t) { t.RenameObjects("_gone", ""); }},
      {"procedure_error",
       false,
       true,
       -1,
       false,
       {kServerMessage},
       [](FaultMatrixTest& t) { t.AddFault("fail_procedure", "*", 0); },
       clear},
      CutAfterRows("closed_after_0_rows", 0),
      CutAfterRows("closed_after_1_row", 1),
      CutAfterRows("closed_mid_result", 2),
      {"stalled_in_procedure",
       false,
       true,
       -1,
       false,
       {kTimedOut},
       [](FaultMatrixTest& t) {
         t.AddFault("delay_procedure", "*", 5000 * kTimeoutSeconds);
       },
       clear},
      // A procedure call is held until venuedb is stopped under it; a SQL
      // text, which no delay holds, meets a server killed during its login.
      {"killed_in_exchange",
       false,
       false,
       -1,
       true,
       {kEndOfFile, kReadFailed, kLoginFailed, kConnectionFailed, kUnavailable,
        kNotReached, kStoppedAnswering},
       [](FaultMatrixTest& t) {
         t.AddFault("delay_procedure", "*", 5000 * kTimeoutSeconds);
       },
       [](FaultMatrixTest& t) {
         t.RestartIfStopped();
         t.ClearFaults();
       }},
  };
}

TEST_P(FaultMatrixTest, AnswersByContractLogsAndRecovers) {
  const Operation& op = std::get<0>(GetParam());
  const Fault& fault = std::get<1>(GetParam());
  fault.setup(*this);
  const std::string outcome = RunOnHostThread(op, fault.kill);
  fault.teardown(*this);
  const std::string expected = Expected(op, fault);
  EXPECT_EQ(expected, outcome);

  const std::vector<std::string> lines = log_.Lines();
  if (expected != op.succeeded) {
    EXPECT_FALSE(lines.empty());
  }
  if (fault.no_connection) {
    EXPECT_NE(lines.end(),
              std::find(lines.begin(), lines.end(), fault.logged.front()));
  }
  for (const std::string& line : lines) {
    bool known = false;
    for (const std::string& text : fault.logged) {
      known = known || line.find(text) != std::string::npos;
    }
    EXPECT_TRUE(known) << "unexpected log line: " << line;
  }

  // Another host thread: it could not get in if the lock had been kept.
  EXPECT_EQ(op.succeeded, RunOnHostThread(op, false));
}

std::string CellName(
    const ::testing::TestParamInfo<std::tuple<Operation, Fault>>& info) {
  return std::string(std::get<0>(info.param).name) + "_" +
         std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(EveryOperationEveryFault, FaultMatrixTest,
                         ::testing::Combine(::testing::ValuesIn(Operations()),
                                            ::testing::ValuesIn(Faults())),
                         CellName);

}  // namespace
}  // namespace rondel
