// Play times, trade logs and authorization through the exports, against
// venuedb over real FreeTDS: the journal shows what was sent, the procedures'
// answers decide the results, and plays made while no connection opens reach
// the database later, each once.
#include <gtest/gtest.h>
#include <stdlib.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "database_test.h"
#include "files.h"
#include "frame/session.h"
#include "frame/settings.h"
#include "platform/clock_test_hooks.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "records/outbox_format.h"
#include "records/outbox_test_hooks.h"
#include "rondel.h"
#include "test_system.h"

namespace rondel {
namespace {

using testing::SetEnv;

using testing::Row;
using testing::Sql;

class PlayRecordsTest : public testing::DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    SetEnv("RONDEL_SNAPSHOT_DIR", scratch_.path());
    ResetOutbox(kKeptPlaysCapacity);
    venue_.Exec(
        "INSERT INTO medias(media_id, media_name, media_code) "
        "VALUES(8, 'Song 8', '20008')");
  }

  static void ResetOutbox(size_t capacity,
                          uint64_t rejected_capacity = kRejectedCapacity) {
    platform::LockHolder hold(CatalogueLock());
    ResetKeptPlays(capacity, rejected_capacity);
  }
  static size_t Unsent() {
    platform::LockHolder hold(CatalogueLock());
    return KeptPlays().Unsent();
  }
  // Settings pointing at venuedb again (after PointAtNothing or a restart),
  // changed under the lock, as no connection may open meanwhile.
  void PointAtVenue(const std::string& extra = "") {
    settings_path_ = venue_.WriteSettingsFile("10.9.9.9");
    if (!extra.empty()) std::ofstream(settings_path_, std::ios::app) << extra;
    platform::LockHolder hold(CatalogueLock());
    ReadStartupSettings(settings_path_.c_str());
  }
  static void Save(int media_id,
                   const std::string& begin = "2026-03-01 20:00:00") {
    std::string room = "10.0.0.9", end = "2026-03-01 20:04:10";
    std::string begin_text = begin;
    SaveVideoTime(media_id, &room[0], &begin_text[0], &end[0], 2);
  }
  // The media ids of the plays venuedb received, in arrival order.
  std::vector<int> PlaysReceived() {
    std::vector<int> ids;
    for (const Row& row : venue_.Query(
             "SELECT CAST(p.value AS INTEGER) FROM vdb_journal j JOIN "
             "vdb_journal_params p ON p.journal_id = j.id WHERE j.kind = 'rpc' "
             "AND j.text = 'SP_SaveMediaOrderInfo' AND p.ordinal = 1 "
             "ORDER BY j.id")) {
      ids.push_back(std::stoi(row[0].value_or("0")));
    }
    return ids;
  }
  std::string OutboxPath() const { return scratch_.File("PlayRecords.outbox"); }
  // The media ids of the plays the database recorded, in order.
  std::vector<Row> Recorded() {
    return venue_.Query("SELECT media_id FROM play_records ORDER BY play_id");
  }
  std::string RejectedPath() const {
    return scratch_.File(outbox::kRejectedFileName);
  }
  // The plays in the rejected-plays file; "(torn)" ends a file with bytes
  // after its whole entries.
  std::vector<PlayRecord> SetAsidePlays() const {
    std::vector<PlayRecord> plays;
    const std::string file = testing::ReadFileBytes(RejectedPath());
    outbox::Entry entry;
    size_t at = outbox::kMagicSize, size = 0;
    while (outbox::DecodeEntry(file.data() + at, file.size() - at, &entry,
                               &size) == outbox::Decoded::kWhole) {
      plays.push_back(entry.play);
      at += size;
    }
    if (file.substr(0, 8) != "RNDLREJ1" || at != file.size()) {
      plays.push_back({0, 0, "(torn)", "", ""});
    }
    return plays;
  }
};

void SaveRecord(PlayRecord play) {
  SaveVideoTime(play.media_id, &play.room_address[0], &play.begin_time[0],
                &play.end_time[0], play.song_type);
}

// Bytes the client character set cannot convert: the client library refuses
// the send every time, with the connection alive. A Latin-1 venue's client set
// (CP1252) takes them: the cases that need a refused play skip there.
const std::vector<PlayRecord> kRefused = {{2, 2, "10.0.0.\x80", "B", "E"},
                                          {5, 1, "10.0.0.9", "\xff", "E"}};

bool RefusedPlaysAreTaken() { return testing::TestVenue() == "latin1"; }
constexpr char kTakenInLatin1[] =
    "a Latin-1 venue takes the bytes kRefused is refused for";

std::vector<int> Range(int first, int last) {
  std::vector<int> ids;
  for (int id = first; id <= last; ++id) ids.push_back(id);
  return ids;
}

// --- What goes on the wire ------------------------------------------------

TEST_F(PlayRecordsTest, EachCallSendsItsParametersInOrderAndLeavesOutNulls) {
  char room[] = "10.0.0.9", begin[] = "2026-03-01 20:00:00",
       end[] = "2026-03-01 20:04:10";
  SaveVideoTime(7, room, begin, end, 2);
  int id = 5, code = 6;
  char text[201] = "";
  AddLog("10.0.0.9", 8, &id, &code, text, "r1");
  id = 5, code = 6;
  AddLog(nullptr, 8, &id, &code, text, nullptr);
  code = 6;
  ModifyLog(41, &code, text, "r2");
  code = 6;
  ModifyLog(41, &code, text, nullptr);
  code = 6;
  GetAuthorization("10.0.0.9", 8, &code, text, "r3");
  code = 6;
  GetAuthorization(nullptr, 8, &code, text, nullptr);
  // procedure, ordinal, name, type, output, NULL, value
  EXPECT_EQ(
      venue_.Query("SELECT j.text, p.ordinal, p.name, p.type, p.output, "
                   "p.is_null, p.value FROM vdb_journal j JOIN "
                   "vdb_journal_params p ON p.journal_id = j.id "
                   "WHERE j.kind = 'rpc' ORDER BY j.id, p.ordinal"),
      (std::vector<Row>{
          {"SP_SaveMediaOrderInfo", "1", "@i_iMediaID", "int", "0", "0", "7"},
          {"SP_SaveMediaOrderInfo", "2", "@i_dtmBeginPlayingTime", "varchar",
           "0", "0", "2026-03-01 20:00:00"},
          {"SP_SaveMediaOrderInfo", "3", "@i_dtmEndPlayingTime", "varchar", "0",
           "0", "2026-03-01 20:04:10"},
          {"SP_SaveMediaOrderInfo", "4", "@i_strRoomIP", "varchar", "0", "0",
           "10.0.0.9"},
          {"SP_SaveMediaOrderInfo", "5", "@i_strSongType", "int", "0", "0",
           "2"},
          {"sp_addlog", "1", "@ipaddress", "varchar", "0", "0", "10.0.0.9"},
          {"sp_addlog", "2", "@media_id", "int", "0", "0", "8"},
          {"sp_addlog", "3", "@tradelog_id", "int", "1", "0", "5"},
          {"sp_addlog", "4", "@error_code", "int", "1", "0", "6"},
          {"sp_addlog", "5", "@error_string", "varchar", "1", "1", {}},
          {"sp_addlog", "6", "@reserved", "varchar", "0", "0", "r1"},
          {"sp_addlog", "1", "@media_id", "int", "0", "0", "8"},
          {"sp_addlog", "2", "@tradelog_id", "int", "1", "0", "5"},
          {"sp_addlog", "3", "@error_code", "int", "1", "0", "6"},
          {"sp_addlog", "4", "@error_string", "varchar", "1", "1", {}},
          {"sp_modifylog", "1", "@tradelog_id", "int", "0", "0", "41"},
          {"sp_modifylog", "2", "@error_code", "int", "1", "0", "6"},
          {"sp_modifylog", "3", "@error_string", "varchar", "1", "1", {}},
          {"sp_modifylog", "4", "@reserved", "varchar", "0", "0", "r2"},
          {"sp_modifylog", "1", "@tradelog_id", "int", "0", "0", "41"},
          {"sp_modifylog", "2", "@error_code", "int", "1", "0", "6"},
          {"sp_modifylog", "3", "@error_string", "varchar", "1", "1", {}},
          {"sp_getauthorization", "1", "@ipaddress", "varchar", "0", "0",
           "10.0.0.9"},
          {"sp_getauthorization", "2", "@media_id", "int", "0", "0", "8"},
          {"sp_getauthorization", "3", "@error_code", "int", "1", "0", "6"},
          {"sp_getauthorization",
           "4",
           "@error_string",
           "varchar",
           "1",
           "1",
           {}},
          {"sp_getauthorization", "5", "@reserved", "varchar", "0", "0", "r3"},
          {"sp_getauthorization", "1", "@media_id", "int", "0", "0", "8"},
          {"sp_getauthorization", "2", "@error_code", "int", "1", "0", "6"},
          {"sp_getauthorization",
           "3",
           "@error_string",
           "varchar",
           "1",
           "1",
           {}},
      }));
}

// --- Results and outputs ----------------------------------------------------

enum class Call { kAddLog, kModifyLog, kGetAuthorization };

struct ResultCase {
  const char* name;
  Call call;
  std::string body;  // of the procedure; "" leaves venuedb's own
  enum { kAnswers, kFails, kUnreachable } server;
  int code_in;         // the caller's error code before the call
  std::string answer;  // "result tradelog code text" after the call
};

void PrintTo(const ResultCase& c, std::ostream* os) { *os << c.name; }

const char* ProcedureOf(Call call) {
  return call == Call::kAddLog      ? "sp_addlog"
         : call == Call::kModifyLog ? "sp_modifylog"
                                    : "sp_getauthorization";
}

// A body answering `code` and `text` (SQL expressions), with trade log 41.
std::string Answer(Call call, const std::string& code,
                   const std::string& text) {
  return "SELECT " +
         std::string(call == Call::kAddLog ? "41 AS \"@tradelog_id\", " : "") +
         code + " AS \"@error_code\", " + text + " AS \"@error_string\"";
}

const std::string k200(200, 'e');
const std::string k250(250, 'f');

class PlayRecordsResultTest : public PlayRecordsTest,
                              public ::testing::WithParamInterface<ResultCase> {
};

TEST_P(PlayRecordsResultTest, AnswersByTheErrorCode) {
  const ResultCase& c = GetParam();
  if (!c.body.empty()) ReplaceProcedure(ProcedureOf(c.call), c.body);
  if (c.server == ResultCase::kFails) FailProcedure(ProcedureOf(c.call));
  if (c.server == ResultCase::kUnreachable) PointAtNothing();
  int id = -7, code = c.code_in;
  char text[256];
  std::memset(text, '#', sizeof text - 1);
  text[sizeof text - 1] = '\0';
  std::memcpy(text, "(text)", 7);
  int result = c.call == Call::kAddLog
                   ? AddLog("10.0.0.9", 8, &id, &code, text, nullptr)
               : c.call == Call::kModifyLog
                   ? ModifyLog(1, &code, text, nullptr)
                   : GetAuthorization("10.0.0.9", 8, &code, text, nullptr);
  EXPECT_EQ(std::to_string(result) + " " + std::to_string(id) + " " +
                std::to_string(code) + " " + text,
            c.answer);
}

const Call kAdd = Call::kAddLog, kModify = Call::kModifyLog,
           kAuthorize = Call::kGetAuthorization;
const auto kAnswers = ResultCase::kAnswers;

INSTANTIATE_TEST_SUITE_P(
    Cases, PlayRecordsResultTest,
    ::testing::Values(
        ResultCase{"AddLogUnreachable", kAdd, "", ResultCase::kUnreachable, 9,
                   "0 -7 9 (text)"},
        ResultCase{"AddLogCallFails", kAdd, "", ResultCase::kFails, 9,
                   "0 -7 9 (text)"},
        ResultCase{"AddLogCodeNonZero", kAdd, Answer(kAdd, "3", "'no media'"),
                   kAnswers, 9, "0 41 3 no media"},
        ResultCase{"AddLogCodeZero", kAdd, Answer(kAdd, "0", "''"), kAnswers, 9,
                   "1 41 0 "},
        ResultCase{"AddLogNullCodeKeepsZero", kAdd, Answer(kAdd, "NULL", "'x'"),
                   kAnswers, 0, "1 41 0 x"},
        ResultCase{"AddLogNullCodeKeepsNonZero", kAdd,
                   Answer(kAdd, "NULL", "'x'"), kAnswers, 9, "0 41 9 x"},
        ResultCase{"AddLogText200Fills201", kAdd, Answer(kAdd, "0", Sql(k200)),
                   kAnswers, 9, "1 41 0 " + k200},
        ResultCase{"AddLogLongerTextIsCutTo200", kAdd,
                   Answer(kAdd, "0", Sql(k250)), kAnswers, 9,
                   "1 41 0 " + k250.substr(0, 200)},
        ResultCase{"AddLogVenueProcedureOpensALog", kAdd, "", kAnswers, 9,
                   "1 1 0 "},
        ResultCase{"ModifyLogUnreachable", kModify, "",
                   ResultCase::kUnreachable, 9, "0 -7 9 (text)"},
        ResultCase{"ModifyLogCallFails", kModify, "", ResultCase::kFails, 9,
                   "0 -7 9 (text)"},
        ResultCase{"ModifyLogCodeNonZero", kModify,
                   Answer(kModify, "2", "'no log'"), kAnswers, 9,
                   "0 -7 2 no log"},
        ResultCase{"ModifyLogCodeZero", kModify, Answer(kModify, "0", "''"),
                   kAnswers, 9, "1 -7 0 "},
        ResultCase{"ModifyLogNullCode", kModify, Answer(kModify, "NULL", "'x'"),
                   kAnswers, 0, "1 -7 0 x"},
        ResultCase{"AuthorizationUnreachableGrants", kAuthorize, "",
                   ResultCase::kUnreachable, 9, "1 -7 9 (text)"},
        ResultCase{"AuthorizationCallFails", kAuthorize, "", ResultCase::kFails,
                   9, "0 -7 9 (text)"},
        ResultCase{"AuthorizationDenied", kAuthorize,
                   Answer(kAuthorize, "3", "'not tonight'"), kAnswers, 9,
                   "0 -7 3 not tonight"},
        ResultCase{"AuthorizationGranted", kAuthorize,
                   Answer(kAuthorize, "0", "''"), kAnswers, 9, "1 -7 0 "},
        ResultCase{"AuthorizationNullCodeKeepsNonZero", kAuthorize,
                   Answer(kAuthorize, "NULL", "'x'"), kAnswers, 9, "0 -7 9 x"}),
    [](const ::testing::TestParamInfo<ResultCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(PlayRecordsTest, NullRequiredArgumentsAnswerFailureAndSendNothing) {
  char room[] = "10.0.0.9", time[] = "2026-03-01 20:00:00";
  int id = -7, code = 9;
  char text[201] = "(text)";
  EXPECT_EQ((std::vector<int>{
                SaveVideoTime(7, nullptr, time, time, 2),
                SaveVideoTime(7, room, nullptr, time, 2),
                SaveVideoTime(7, room, time, nullptr, 2),
                AddLog("10.0.0.9", 8, nullptr, &code, text, nullptr),
                AddLog("10.0.0.9", 8, &id, nullptr, text, nullptr),
                AddLog("10.0.0.9", 8, &id, &code, nullptr, nullptr),
                ModifyLog(1, nullptr, text, nullptr),
                ModifyLog(1, &code, nullptr, nullptr),
                GetAuthorization("10.0.0.9", 8, nullptr, text, nullptr),
                GetAuthorization("10.0.0.9", 8, &code, nullptr, nullptr),
            }),
            std::vector<int>(10, 0));
  EXPECT_EQ(std::to_string(id) + " " + std::to_string(code) + " " + text,
            "-7 9 (text)");
  EXPECT_EQ(venue_.Query("SELECT count(*) FROM vdb_journal WHERE kind <> "
                         "'close'")[0][0],
            "0");
}

// --- Nothing lost -----------------------------------------------------------

TEST_F(PlayRecordsTest, EightThreadsOfAddLogOpenEightThousandLogs) {
  constexpr int kThreads = 8, kCalls = 1000;
  std::vector<std::vector<int>> ids(kThreads);
  std::atomic<int> answered_one{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCalls; ++i) {
        int id = 0, code = -1;
        char text[201];
        answered_one += AddLog("10.0.0.9", 8, &id, &code, text, nullptr);
        ids[t].push_back(id);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::vector<std::string> returned, stored;
  for (const auto& thread_ids : ids) {
    for (int id : thread_ids) returned.push_back(std::to_string(id));
  }
  std::sort(returned.begin(), returned.end());
  for (const Row& row : venue_.Query("SELECT tradelog_id FROM trade_logs")) {
    stored.push_back(row[0].value_or(""));
  }
  std::sort(stored.begin(), stored.end());
  EXPECT_EQ(answered_one.load(), kThreads * kCalls);
  EXPECT_EQ(std::unique(returned.begin(), returned.end()) - returned.begin(),
            kThreads * kCalls);
  EXPECT_EQ(returned, stored);
}

TEST_F(PlayRecordsTest, PlaysMadeDuringAnOutageArriveOnceWithTheirValues) {
  constexpr int kThreads = 8, kCalls = 500;
  std::atomic<int> made{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCalls; ++i) {
        const int media = t * kCalls + i;
        std::string room = "10.0." + std::to_string(t) + ".1";
        std::string begin = "2026-03-01 20:00:" + std::to_string(i);
        std::string end = "2026-03-01 21:00:" + std::to_string(i);
        SaveVideoTime(media, &room[0], &begin[0], &end[0], t);
        ++made;
      }
    });
  }
  // The server stops and starts while no exchange runs, so every play is
  // either sent to a running server or finds no connection.
  while (made < 1000) std::this_thread::yield();
  {
    platform::LockHolder hold(CatalogueLock());
    venue_.Stop();
  }
  while (made < 2500) std::this_thread::yield();
  venue_.Start();
  PointAtVenue();
  for (std::thread& thread : threads) thread.join();
  while (Unsent() > 0) Save(-1);

  std::vector<Row> expected;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kCalls; ++i) {
      expected.push_back(
          {std::to_string(t * kCalls + i), "10.0." + std::to_string(t) + ".1",
           "2026-03-01 20:00:" + std::to_string(i),
           "2026-03-01 21:00:" + std::to_string(i), std::to_string(t)});
    }
  }
  std::sort(expected.begin(), expected.end(), [](const Row& a, const Row& b) {
    return std::stoi(*a[0]) < std::stoi(*b[0]);
  });
  EXPECT_GT(log_.CountContaining("login database server"), 0);
  EXPECT_EQ(venue_.Query("SELECT media_id, room_address, begin_time, "
                         "end_time, song_type FROM play_records "
                         "WHERE media_id >= 0 ORDER BY media_id, play_id"),
            expected);
  EXPECT_EQ(venue_.Query("SELECT count(*), count(DISTINCT p.value) FROM "
                         "vdb_journal j JOIN vdb_journal_params p ON "
                         "p.journal_id = j.id WHERE j.kind = 'rpc' AND "
                         "j.text = 'SP_SaveMediaOrderInfo' AND p.ordinal = 1 "
                         "AND CAST(p.value AS INTEGER) >= 0"),
            (std::vector<Row>{{"4000", "4000"}}));
}

#ifndef _WIN32  // Linux only: kills a forked copy of the host mid-append
TEST_F(PlayRecordsTest, PlaysKeptBeforeAKillArriveOnceAndATornOneNever) {
  PointAtNothing();
  int acks[2];
  ASSERT_EQ(pipe(acks), 0);
  const pid_t child = fork();
  if (child == 0) {
    // The host: keeps plays 0, 1, 2, ... and says so after each, until killed.
    close(acks[0]);
    for (int id = 0;; ++id) {
      Save(id);
      const char kept = 1;
      if (write(acks[1], &kept, 1) != 1) _exit(1);
    }
  }
  close(acks[1]);
  char kept;
  for (int i = 0; i < 20; ++i) ASSERT_EQ(read(acks[0], &kept, 1), 1);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(acks[0]);
  // Whatever the kill cut, a torn append ends the file now: half of play 999.
  std::string torn;
  outbox::EncodePlay(PlayRecord{999, 2, "10.0.0.9", "B", "E"}, &torn);
  std::ofstream(OutboxPath(), std::ios::binary | std::ios::app)
      << torn.substr(0, torn.size() / 2);

  PointAtVenue();
  ResetOutbox(kKeptPlaysCapacity);
  while (Unsent() > 0) Save(-1);
  std::vector<int> received;
  for (int id : PlaysReceived()) {
    if (id >= 0) received.push_back(id);
  }
  EXPECT_EQ(received,
            Range(0, std::max(20, static_cast<int>(received.size())) - 1));
}
#endif  // _WIN32

TEST_F(PlayRecordsTest, KeptPlaysGoFirstOldestFirstFiftyPerCall) {
  PointAtNothing();
  for (int id = 0; id < 120; ++id) Save(id);
  PointAtVenue();
  Save(1000);
  Save(1001);
  Save(1002);
  std::vector<int> expected = Range(0, 49);
  expected.push_back(1000);
  for (int id : Range(50, 99)) expected.push_back(id);
  expected.push_back(1001);
  for (int id : Range(100, 119)) expected.push_back(id);
  expected.push_back(1002);
  EXPECT_EQ(PlaysReceived(), expected);
  EXPECT_FALSE(testing::PathExists(OutboxPath()));
}

TEST_F(PlayRecordsTest, KeptPlayLeavesOnceSentWhateverTheServerAnswers) {
  PointAtNothing();
  for (int id = 0; id < 3; ++id) Save(id);
  PointAtVenue();
  FailProcedure("SP_SaveMediaOrderInfo");
  Save(10);
  venue_.Exec("DELETE FROM vdb_faults");
  Save(11);
  EXPECT_EQ(PlaysReceived(), (std::vector<int>{0, 1, 2, 10, 11}));
}

TEST_F(PlayRecordsTest, APlayTheServerCannotTakeIsSetAsideAndTheOthersArrive) {
  if (RefusedPlaysAreTaken()) GTEST_SKIP() << kTakenInLatin1;
  PointAtNothing();
  Save(1), SaveRecord(kRefused[0]), Save(3);
  PointAtVenue();
  Save(4), SaveRecord(kRefused[1]), Save(6);
  EXPECT_EQ(Recorded(), (std::vector<Row>{{"1"}, {"3"}, {"4"}, {"6"}}));
  EXPECT_EQ(Unsent(), 0u);
  EXPECT_EQ(SetAsidePlays(), kRefused);
  EXPECT_EQ(
      log_.CountContaining("cannot be sent as its texts stand: set aside"), 2);
}

// What keeps a refused play from being set aside, and what lets set-asides go
// on again.
struct BlockedCase {
  const char* name;
  uint64_t rejected_capacity;
  void (*block)(const std::string& rejected_path);
  void (*unblock)(const std::string& rejected_path);
  const char* logged;  // one line per refused attempt, or once
  int lines;
  size_t unsent_while_blocked;
  std::vector<Row> recorded_while_blocked;
  std::vector<PlayRecord> set_aside;  // the file at the end
};

void PrintTo(const BlockedCase& c, std::ostream* os) { *os << c.name; }

class PlayRecordsBlockedTest
    : public PlayRecordsTest,
      public ::testing::WithParamInterface<BlockedCase> {};

TEST_P(PlayRecordsBlockedTest, ARefusedPlayWaitsOnlyForAFileThatFails) {
  if (RefusedPlaysAreTaken()) GTEST_SKIP() << kTakenInLatin1;
  const BlockedCase& c = GetParam();
  ResetOutbox(kKeptPlaysCapacity, c.rejected_capacity);
  SaveRecord(kRefused[0]);  // set aside while there is room
  c.block(RejectedPath());
  SaveRecord(kRefused[1]);  // the call's own play
  Save(4);
  const size_t unsent = Unsent();
  const std::vector<Row> recorded = Recorded();
  c.unblock(RejectedPath());
  Save(6);
  SaveRecord(kRefused[0]);
  EXPECT_EQ(unsent, c.unsent_while_blocked);
  EXPECT_EQ(recorded, c.recorded_while_blocked);
  EXPECT_EQ(Recorded(), (std::vector<Row>{{"4"}, {"6"}}));
  EXPECT_EQ(Unsent(), 0u);
  EXPECT_EQ(SetAsidePlays(), c.set_aside);
  EXPECT_EQ(log_.CountContaining(c.logged), c.lines);
}

const uint64_t kOneEntry = [] {
  std::string entry;
  outbox::EncodePlay(kRefused[0], &entry);
  return outbox::kMagicSize + entry.size();
}();

INSTANTIATE_TEST_SUITE_P(
    Cases, PlayRecordsBlockedTest,
    ::testing::Values(
        // The refused play waits first in the outbox, the plays behind it
        // too.
        BlockedCase{"FileCannotBeWritten",
                    kRejectedCapacity,
                    [](const std::string& path) {
                      ASSERT_TRUE(platform::RenameFile(path, path + ".old"));
                      ASSERT_TRUE(platform::MakeDirectory(path));
                    },
                    [](const std::string& path) {
                      ASSERT_TRUE(platform::RemoveDirectory(path));
                      ASSERT_TRUE(platform::RenameFile(path + ".old", path));
                    },
                    "cannot be set aside",
                    2,
                    2,
                    {},
                    {kRefused[0], kRefused[1], kRefused[0]}},
        // Past its capacity the file takes nothing more: the refused play is
        // logged (a line for it, one for the file) and not kept. Once the
        // file is moved away the next set-aside starts a new one.
        BlockedCase{"FileFull",
                    kOneEntry,
                    [](const std::string&) {},
                    [](const std::string& path) {
                      ASSERT_TRUE(platform::RemoveFile(path));
                    },
                    "is full",
                    2,
                    0,
                    {{"4"}},
                    {kRefused[0]}}),
    [](const ::testing::TestParamInfo<BlockedCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(PlayRecordsTest, AKeptPlayPastAFullRejectedFileHoldsNoPlayBack) {
  if (RefusedPlaysAreTaken()) GTEST_SKIP() << kTakenInLatin1;
  ResetOutbox(kKeptPlaysCapacity, kOneEntry);
  SaveRecord(kRefused[0]);  // fills the file
  PointAtNothing();
  Save(1), SaveRecord(kRefused[1]), Save(3);
  PointAtVenue();
  Save(4);
  EXPECT_EQ(Recorded(), (std::vector<Row>{{"1"}, {"3"}, {"4"}}));
  EXPECT_EQ(Unsent(), 0u);
  EXPECT_EQ(SetAsidePlays(), std::vector<PlayRecord>{kRefused[0]});
  EXPECT_EQ(log_.Count("play of media 5 in room \"10.0.0.9\" from \"\\xFF\" "
                       "to \"E\" (song type 1) cannot be sent as its texts "
                       "stand, and is not kept: the set-aside file \"" +
                       RejectedPath() +
                       "\" is full (move it away; set-asides resume in a new "
                       "file)"),
            1);
}

TEST_F(PlayRecordsTest, APlaySetAsideButNotYetMarkedIsOnlyMarked) {
  if (RefusedPlaysAreTaken()) GTEST_SKIP() << kTakenInLatin1;
  // A stop between the set-aside and the outbox's mark leaves the refused
  // play in both files: it is only marked. A play equal to an earlier entry
  // of the rejected file is a play of its own and set aside again.
  std::string kept = "RNDLPLY1", rejected = "RNDLREJ1";
  outbox::EncodePlay(kRefused[1], &rejected);
  outbox::EncodePlay(kRefused[0], &rejected);
  outbox::EncodePlay(kRefused[0], &kept);
  outbox::EncodePlay(kRefused[1], &kept);
  outbox::EncodePlay({3, 2, "10.0.0.9", "B", "E"}, &kept);
  testing::WriteFileBytes(RejectedPath(), rejected);
  testing::WriteFileBytes(OutboxPath(), kept);
  ResetOutbox(kKeptPlaysCapacity);
  Save(4);
  EXPECT_EQ(Recorded(), (std::vector<Row>{{"3"}, {"4"}}));
  EXPECT_EQ(Unsent(), 0u);
  EXPECT_EQ(SetAsidePlays(),
            (std::vector<PlayRecord>{kRefused[1], kRefused[0], kRefused[1]}));
}

TEST_F(PlayRecordsTest, OtherCallsGoBetweenTheKeptPlaysOfADrain) {
  PointAtNothing();
  for (int id = 0; id < 20; ++id) Save(id);
  PointAtVenue();
  venue_.Exec(
      "INSERT INTO vdb_faults VALUES('delay_procedure', "
      "'SP_SaveMediaOrderInfo', 100)");
  std::thread drain([] { Save(100); });
  while (PlaysReceived().empty()) std::this_thread::yield();
  const long asked = LastJournalId("rpc");
  int32_t log_id = 0, code = 0;
  char text[201];
  AddLog("10.0.0.9", 8, &log_id, &code, text, nullptr);
  drain.join();
  const long answered = std::stol(*Requests("rpc", "sp_addlog").at(0)[0]);
  // Plays that reached the server after AddLog asked and before it ran.
  EXPECT_LE(std::stoi(*venue_.Query(
                "SELECT count(*) FROM vdb_journal WHERE kind = 'rpc' AND "
                "text = 'SP_SaveMediaOrderInfo' AND id > " +
                std::to_string(asked) + " AND id < " +
                std::to_string(answered))[0][0]),
            2);
  std::vector<int> expected = Range(0, 19);
  expected.push_back(100);
  EXPECT_EQ(PlaysReceived(), expected);
}

TEST_F(PlayRecordsTest, FullOutboxKeepsTheOldestAndLogsOnce) {
  ResetOutbox(3);
  PointAtNothing();
  for (int id = 0; id < 5; ++id) Save(id);
  PointAtVenue();
  Save(10);
  EXPECT_EQ(PlaysReceived(), (std::vector<int>{0, 1, 2, 10}));
  EXPECT_EQ(log_.CountContaining("is full"), 1);
}

TEST_F(PlayRecordsTest, KeepUnsentPlaysOffKeepsNothing) {
  PointAtVenue("[VideoServer]\nKeepUnsentPlays=0\n");
  PointAtNothing();
  for (int id = 0; id < 3; ++id) Save(id);
  PointAtVenue("[VideoServer]\nKeepUnsentPlays=0\n");
  Save(10);
  EXPECT_EQ(PlaysReceived(), (std::vector<int>{10}));
  EXPECT_FALSE(testing::PathExists(OutboxPath()));
}

// An outage is logged where it begins and ends, and the delivery of the
// kept plays, fifty a call, at its start, every ten seconds and at its end.
TEST_F(PlayRecordsTest, OutageAndDeliveryOfKeptPlaysAreLogged) {
  Save(1);
  const size_t before = log_.Lines().size();
  PointAtNothing();
  for (int id = 0; id < 210; ++id) Save(id);
  PointAtVenue();
  platform::OverrideClock(20000, 0);
  Save(100);  // the first line of a delivery
  Save(101);
  platform::OverrideClock(29999, 0);
  Save(102);
  platform::OverrideClock(30000, 0);
  Save(103);  // ten seconds on
  platform::ClearClockOverride();
  Save(104);
  std::vector<std::string> logged;
  const std::vector<std::string> lines = log_.Lines();
  for (size_t i = before; i < lines.size(); ++i) {
    if (lines[i].rfind("database ", 0) == 0 ||
        lines[i].find("kept plays") != std::string::npos) {
      logged.push_back(lines[i]);
    }
  }
  EXPECT_EQ(logged, (std::vector<std::string>{
                        "database 127.0.0.1:1 \"karaok\" stopped answering",
                        "database 127.0.0.1:" + std::to_string(venue_.port()) +
                            " \"karaok\" answers again",
                        "50 kept plays delivered, 160 still kept",
                        "150 kept plays delivered, 10 still kept",
                        "10 kept plays delivered, 0 still kept"}));
}

}  // namespace
}  // namespace rondel
