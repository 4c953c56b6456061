// The fire-alarm video and page through the exports, against venuedb over real
// FreeTDS: the procedures' rows decide the answer, the journal shows what was
// asked; and what the calls answer from their remembered answers when the
// database cannot answer (down, stalled, or the lock held by a slow exchange).
#include "playback/fire_alarm.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "database_test.h"
#include "files.h"
#include "frame/exchange.h"
#include "frame/session.h"
#include "frame/settings.h"
#include "platform/coding.h"
#ifndef _WIN32
#include <dirent.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <time.h>

#include <atomic>

#include "platform/syscall_test_hooks.h"
#endif
#include "playback/fire_alarm_memory.h"
#include "playback/fire_alarm_test_hooks.h"
#include "rondel.h"
#include "startup_harness.h"
#include "test_system.h"

namespace rondel {
namespace {

using testing::SetEnv;

using testing::Row;
using testing::Sql;

// Rows of sp_lookupfirealerts, one per file name in order (column 12), for the
// player at 10.1.1.7 only.
std::string Entries(std::initializer_list<std::string> files) {
  std::string body;
  for (const std::string& file : files) {
    if (!body.empty()) body += " UNION ALL ";
    body += "SELECT 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 'MPEG1', " + Sql(file) +
            " WHERE @ipaddress = '10.1.1.7'";
  }
  return body;
}

// Rows of sp_getfirealertdefaultvideofile, one per file name (column 1).
std::string Defaults(std::initializer_list<std::string> files) {
  std::string body = "SELECT 'none' AS default_video_file WHERE 0";
  for (const std::string& file : files)
    body += " UNION ALL SELECT " + Sql(file);
  return body;
}

class FireAlarmTest : public testing::DatabaseTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::create_directory(snapshots_));
    SetEnv("RONDEL_SNAPSHOT_DIR", snapshots_);
    DatabaseTest::SetUp();
  }
  void TearDown() override {
    FireAlarmMemory::FinishWriting();
#ifndef _WIN32
    platform::ResetSyscalls();
#endif
  }

  // "result url format1 format2" after one call on outputs that start as
  // "(url)", "(f1)" and "(f2)".
  std::string Video(const char* address) {
    char url[282] = "(url)";
    char format1[6] = "(f1)";
    char format2[5] = "(f2)";
    int result = GetFirealarmVideo(address, url, format1, format2);
    return std::to_string(result) + " " + url + " " + format1 + " " + format2;
  }
  // "result page" on an output that starts as "(page)".
  std::string Page(const char* address) {
    char page[100] = "(page)";
    int result = GetFirealarmPage(address, page);
    return std::to_string(result) + " " + page;
  }
  // The video of 10.1.1.7 (its own entry) and of 10.1.1.8 (the default), and
  // the page, "|"-separated. Each call must return within 5 seconds.
  std::string TimedAnswers() {
    const std::function<std::string()> calls[] = {
        [&] { return Video("10.1.1.7"); }, [&] { return Video("10.1.1.8"); },
        [&] { return Page("10.1.1.7"); }};
    std::string answers;
    for (const auto& call : calls) {
      const auto start = std::chrono::steady_clock::now();
      answers += (answers.empty() ? "" : "|") + call();
      EXPECT_LT(std::chrono::steady_clock::now() - start,
                std::chrono::seconds(5));
    }
    return answers;
  }
  // The venue the remembering tests use, asked once online: the start-up's
  // default and page, then the entry of 10.1.1.7.
  void RememberTheVenue() {
    ReplaceProcedure("sp_lookupfirealerts", Entries({"fire/exit_a.mpg"}));
    ReplaceProcedure("sp_getfirealertdefaultvideofile",
                     Defaults({"fire/all.mpg"}));
    ReplaceProcedure("sp_getfirealerthomepage", "SELECT 'fire/p.htm'");
    PrepareFireAlarmAnswers(true);
    Video("10.1.1.7");
  }
  // Another host thread in an exchange whose procedure venuedb holds; it ends
  // when the server stops.
  std::thread HoldTheLock() {
    DefineProcedure("sp_slow", "", "SELECT 1 AS n");
    AddFault("delay_procedure", "sp_slow", 60000);
    std::thread slow([] {
      Exchange exchange;
      (void)exchange.Call("sp_slow", {});
    });
    while (Requests("rpc", "sp_slow").empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return slow;
  }
  // Rooms 10.1.1.7, 10.1.1.8 and 10.1.1.9 in the catalogue's Rooms.
  void PutThreeRooms() {
    for (const char* room : {"10.1.1.7", "10.1.1.8", "10.1.1.9"}) {
      std::strcpy(
          g_catalogue.rooms[g_catalogue.table_records.RoomCount++].RoomAddress,
          room);
    }
  }
  // `text` with SNAPSHOTS standing for the snapshot directory.
  std::string Placed(std::string text) {
    const size_t at = text.find("SNAPSHOTS");
    if (at != std::string::npos) text.replace(at, 9, snapshots_);
    return text;
  }
  // The log's lines about answers from memory, "|"-separated.
  std::string MemoryLines() {
    std::string lines;
    for (const std::string& line : log_.Lines()) {
      if (line.find("from memory") == std::string::npos) continue;
      lines += (lines.empty() ? "" : "|") + line;
    }
    return lines;
  }

  const std::string snapshots_ = scratch_.File("snapshots");

  // The procedures called, in order, comma-separated.
  std::string ProceduresCalled() {
    std::string called;
    for (const Row& row : venue_.Query(
             "SELECT text FROM vdb_journal WHERE kind = 'rpc' ORDER BY id")) {
      called += (called.empty() ? "" : ",") + row[0].value_or("?");
    }
    return called;
  }
};

struct VideoCase {
  const char* name;
  std::string lookup;    // body of sp_lookupfirealerts
  std::string fallback;  // body of sp_getfirealertdefaultvideofile
  const char* address;
  const char* file_server_ip;
  std::string answer;  // as FireAlarmTest::Video gives it
  const char* called;  // as ProceduresCalled gives it
};

void PrintTo(const VideoCase& c, std::ostream* os) { *os << c.name; }

const char kBoth[] = "sp_lookupfirealerts,sp_getfirealertdefaultvideofile";
const std::string kLongName(300, 'n');

class FireAlarmVideoTest : public FireAlarmTest,
                           public ::testing::WithParamInterface<VideoCase> {};

TEST_P(FireAlarmVideoTest, AnswersFromTheEntryElseTheDefault) {
  const VideoCase& c = GetParam();
  ReplaceProcedure("sp_lookupfirealerts", c.lookup);
  ReplaceProcedure("sp_getfirealertdefaultvideofile", c.fallback);
  StoreFileServerIp(c.file_server_ip);
  EXPECT_EQ(Video(c.address), c.answer);
  EXPECT_EQ(ProceduresCalled(), c.called);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FireAlarmVideoTest,
    ::testing::Values(
        VideoCase{"EntryNamesTheFile", Entries({"fire/exit_a.mpg"}),
                  Defaults({"fire/all.mpg"}), "10.1.1.7", "10.9.9.9",
                  "1 vsp://10.9.9.9/fire/exit_a.mpg MPEG1 MPEG",
                  "sp_lookupfirealerts"},
        VideoCase{"NoEntryPlaysTheDefault", Entries({"fire/exit_a.mpg"}),
                  Defaults({"fire/all.mpg"}), "10.1.1.8", "10.9.9.9",
                  "1 vsp://10.9.9.9/fire/all.mpg MPEG1 MPEG", kBoth},
        VideoCase{"EntriesWithoutNamesPlayTheDefault", Entries({"", ""}),
                  Defaults({"fire/all.mpg"}), "10.1.1.7", "10.9.9.9",
                  "1 vsp://10.9.9.9/fire/all.mpg MPEG1 MPEG", kBoth},
        VideoCase{"FailingLookupPlaysTheDefault", "SELECT no_such_column",
                  Defaults({"fire/all.mpg"}), "10.1.1.7", "10.9.9.9",
                  "1 vsp://10.9.9.9/fire/all.mpg MPEG1 MPEG", kBoth},
        VideoCase{"NoNameAnywhereLeavesTheOutputs",
                  Entries({"fire/exit_a.mpg"}), Defaults({""}), "10.1.1.8",
                  "10.9.9.9", "0 (url) (f1) (f2)", kBoth},
        VideoCase{"LastNamedEntryWins",
                  Entries({"fire/exit_a.mpg", "fire/exit_b.mpg"}),
                  Defaults({"fire/all.mpg"}), "10.1.1.7", "10.9.9.9",
                  "1 vsp://10.9.9.9/fire/exit_b.mpg MPEG1 MPEG",
                  "sp_lookupfirealerts"},
        VideoCase{"TrailingEntryWithoutNameKeepsTheNamedFile",
                  Entries({"fire/exit_a.mpg", ""}), Defaults({"fire/all.mpg"}),
                  "10.1.1.7", "10.9.9.9",
                  "1 vsp://10.9.9.9/fire/exit_a.mpg MPEG1 MPEG",
                  "sp_lookupfirealerts"},
        VideoCase{"TrailingDefaultWithoutNameKeepsTheNamedFile",
                  Entries({"fire/exit_a.mpg"}), Defaults({"fire/all.mpg", ""}),
                  "10.1.1.8", "10.9.9.9",
                  "1 vsp://10.9.9.9/fire/all.mpg MPEG1 MPEG", kBoth},
        VideoCase{"EmptyFileServerLeavesTheSlash", Entries({"fire/exit_a.mpg"}),
                  Defaults({"fire/all.mpg"}), "10.1.1.7", "",
                  "1 vsp:///fire/exit_a.mpg MPEG1 MPEG", "sp_lookupfirealerts"},
        VideoCase{"LongestUrlFillsItsBuffer", Entries({kLongName}),
                  Defaults({"fire/all.mpg"}), "10.1.1.7", "10.100.100.200:5540",
                  "1 vsp://10.100.100.200:5540/" + kLongName.substr(0, 255) +
                      " MPEG1 MPEG",
                  "sp_lookupfirealerts"}),
    [](const ::testing::TestParamInfo<VideoCase>& info) {
      return std::string(info.param.name);
    });

struct PageCase {
  const char* name;
  std::string body;  // of sp_getfirealerthomepage
  const char* address;
  std::string answer;  // as FireAlarmTest::Page gives it
};

void PrintTo(const PageCase& c, std::ostream* os) { *os << c.name; }

const std::string kLongPage(150, 'p');

const char kThreePages[] =
    "SELECT 'fire/p1.htm' AS home_page UNION ALL SELECT 'fire/p2.htm' "
    "UNION ALL SELECT 'fire/p3.htm'";

class FireAlarmPageTest : public FireAlarmTest,
                          public ::testing::WithParamInterface<PageCase> {};

TEST_P(FireAlarmPageTest, AnswersTheLastRowsPage) {
  ReplaceProcedure("sp_getfirealerthomepage", GetParam().body);
  EXPECT_EQ(Page(GetParam().address), GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FireAlarmPageTest,
    ::testing::Values(
        PageCase{"ThreeRowsGiveTheThird", kThreePages, "10.1.1.7",
                 "1 fire/p3.htm"},
        PageCase{"EmptyAddressGivesTheSame", kThreePages, "", "1 fire/p3.htm"},
        PageCase{"NullAddressGivesTheSame", kThreePages, nullptr,
                 "1 fire/p3.htm"},
        PageCase{"OneEmptyRowIsFound", "SELECT '' AS home_page", "10.1.1.7",
                 "1 "},
        PageCase{"NoRowLeavesTheOutput", "SELECT 'x' AS home_page WHERE 0",
                 "10.1.1.7", "0 (page)"},
        PageCase{"LongPageIsCutToItsBuffer", "SELECT " + Sql(kLongPage),
                 "10.1.1.7", "1 " + kLongPage.substr(0, 99)}),
    [](const ::testing::TestParamInfo<PageCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(FireAlarmTest, AddressGoesAsVarcharAndEmptyOrNullAsNull) {
  ReplaceProcedure("sp_lookupfirealerts", Entries({"fire/exit_a.mpg"}));
  ReplaceProcedure("sp_getfirealertdefaultvideofile", Defaults({}));
  Video("10.1.1.8");
  Video("");
  Video(nullptr);
  Page("10.1.1.8");
  // Every call with its parameters: name, type, output flag, NULL flag, value.
  EXPECT_EQ(
      venue_.Query("SELECT j.text, p.name, p.type, p.output, p.is_null, "
                   "p.value FROM vdb_journal j LEFT JOIN vdb_journal_params p "
                   "ON p.journal_id = j.id WHERE j.kind = 'rpc' "
                   "ORDER BY j.id, p.ordinal"),
      (std::vector<Row>{
          {"sp_lookupfirealerts", "@ipaddress", "varchar", "0", "0",
           "10.1.1.8"},
          {"sp_getfirealertdefaultvideofile", {}, {}, {}, {}, {}},
          {"sp_lookupfirealerts", "@ipaddress", "varchar", "0", "1", {}},
          {"sp_getfirealertdefaultvideofile", {}, {}, {}, {}, {}},
          {"sp_lookupfirealerts", "@ipaddress", "varchar", "0", "1", {}},
          {"sp_getfirealertdefaultvideofile", {}, {}, {}, {}, {}},
          {"sp_getfirealerthomepage", {}, {}, {}, {}, {}},
      }));
}

TEST_F(FireAlarmTest, NoConnectionAnswersZeroAndLeavesTheOutputs) {
  venue_.Stop();
  EXPECT_EQ(Video("10.1.1.7") + "|" + Page("10.1.1.7"),
            "0 (url) (f1) (f2)|0 (page)");
}

TEST_F(FireAlarmTest, NullOutputAnswersZeroWithoutAskingTheDatabase) {
  char url[282] = "(url)";
  char format1[6] = "(f1)";
  char format2[5] = "(f2)";
  EXPECT_EQ(GetFirealarmVideo("10.1.1.7", nullptr, format1, format2) +
                GetFirealarmVideo("10.1.1.7", url, nullptr, format2) +
                GetFirealarmVideo("10.1.1.7", url, format1, nullptr) +
                GetFirealarmPage("10.1.1.7", nullptr),
            0);
  EXPECT_EQ(std::string(url) + format1 + format2, "(url)(f1)(f2)");
  EXPECT_EQ(ProceduresCalled(), "");
}

// The answers RememberTheVenue leaves, and the log line of each call that
// answers them from memory.
const char kRemembered[] =
    "1 vsp://10.9.9.9/fire/exit_a.mpg MPEG1 MPEG|"
    "1 vsp://10.9.9.9/fire/all.mpg MPEG1 MPEG|1 fire/p.htm";
const char kNothing[] = "0 (url) (f1) (f2)|0 (url) (f1) (f2)|0 (page)";

// The second video line repeats the first: the log counts it and writes the
// count when the page's line comes.
std::string FromMemory(const std::string& why) {
  return "GetFirealarmVideo answers from memory (" + why +
         ")|GetFirealarmVideo answers from memory (" + why +
         ") (repeated 1 times)|GetFirealarmPage answers from memory (" + why +
         ")";
}

enum class Outage { kDown, kStalledAtLogin, kStalledInProcedure, kLockHeld };

struct OutageCase {
  const char* name;
  Outage outage;
  bool remembered;     // RememberTheVenue ran before the outage
  std::string answer;  // TimedAnswers, " / ", MemoryLines
};

void PrintTo(const OutageCase& c, std::ostream* os) { *os << c.name; }

class FireAlarmOutageTest : public FireAlarmTest,
                            public ::testing::WithParamInterface<OutageCase> {};

TEST_P(FireAlarmOutageTest, AnswersWithinFiveSecondsWhatIsRemembered) {
  const OutageCase& c = GetParam();
  if (c.remembered) RememberTheVenue();
  std::thread slow;
  switch (c.outage) {
    case Outage::kDown:
      venue_.Stop();
      break;
    case Outage::kStalledAtLogin:
      PointAtSilentServer();
      break;
    case Outage::kStalledInProcedure:
      AddFault("delay_procedure", "*", 60000);
      break;
    case Outage::kLockHeld:
      slow = HoldTheLock();
      break;
  }
  const std::string answers = TimedAnswers();
  EXPECT_EQ(answers + " / " + MemoryLines(), c.answer);
  if (slow.joinable()) {
    venue_.Stop();
    slow.join();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FireAlarmOutageTest,
    ::testing::Values(
        OutageCase{
            "Down", Outage::kDown, true,
            kRemembered + std::string(" / ") + FromMemory("no connection")},
        OutageCase{
            "StalledAtLogin", Outage::kStalledAtLogin, true,
            kRemembered + std::string(" / ") + FromMemory("no connection")},
        OutageCase{"StalledInProcedure", Outage::kStalledInProcedure, true,
                   kRemembered + std::string(" / ") + FromMemory("failed")},
        OutageCase{"LockHeld", Outage::kLockHeld, true,
                   kRemembered + std::string(" / ") + FromMemory("lock busy")},
        OutageCase{"StalledWithNothingRemembered", Outage::kStalledInProcedure,
                   false, kNothing + std::string(" / ")},
        OutageCase{"LockHeldWithNothingRemembered", Outage::kLockHeld, false,
                   kNothing + std::string(" / ")}),
    [](const ::testing::TestParamInfo<OutageCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(FireAlarmTest, TimedOutCallLeavesLaterExchangesTheirOwnTimeOut) {
  ReplaceProcedure("sp_getfirealertdefaultvideofile",
                   Defaults({"fire/all.mpg"}));
  AddFault("delay_procedure", "sp_getfirealerthomepage", 60000);
  EXPECT_EQ(Page("10.1.1.7"), "0 (page)");
  // Longer than the fire alarm's time-out, well within the configured one.
  venue_.Exec("DELETE FROM vdb_faults");
  AddFault("delay_procedure", "sp_getfirealertdefaultvideofile", 1500);
  char file[kFireAlarmFileNameSize] = "";
  Exchange exchange;
  EXPECT_TRUE(exchange.Call("sp_getfirealertdefaultvideofile", {}) &&
              exchange.ReadRows({Column::Text(1, file, sizeof file)},
                                [] { return true; }));
  EXPECT_STREQ(file, "fire/all.mpg");
}

TEST_F(FireAlarmTest, RememberedAnswersOutliveTheProcess) {
  testing::InChildProcess([&] {
    RememberTheVenue();
    ExitDatabase();
  });
  // The start-up asked the default and the page, each in an exchange of its
  // own; then the call asked the entry.
  EXPECT_EQ(ProceduresCalled(),
            "sp_getfirealertdefaultvideofile,sp_getfirealerthomepage,"
            "sp_lookupfirealerts");
  venue_.Stop();
  PrepareFireAlarmAnswers(false);
  EXPECT_EQ(TimedAnswers(), kRemembered);
}

TEST_F(FireAlarmTest, EveryRoomKeepsItsOwnVideoOffline) {
  // Two rooms with entries of their own and one without, none of which ever
  // raised an alarm.
  ReplaceProcedure("sp_lookupfirealerts",
                   "SELECT 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 'MPEG1', 'fire/' || "
                   "@ipaddress || '.mpg' WHERE @ipaddress <> '10.1.1.9'");
  ReplaceProcedure("sp_getfirealertdefaultvideofile",
                   Defaults({"fire/all.mpg"}));
  testing::InChildProcess([&] {
    PutThreeRooms();
    PrepareFireAlarmAnswers(true);
    ExitDatabase();
  });
  venue_.Stop();
  PrepareFireAlarmAnswers(false);
  EXPECT_EQ(Video("10.1.1.7") + "|" + Video("10.1.1.8") + "|" +
                Video("10.1.1.9") + " / " + ProceduresCalled(),
            "1 vsp://10.9.9.9/fire/10.1.1.7.mpg MPEG1 MPEG|"
            "1 vsp://10.9.9.9/fire/10.1.1.8.mpg MPEG1 MPEG|"
            "1 vsp://10.9.9.9/fire/all.mpg MPEG1 MPEG / "
            "sp_getfirealertdefaultvideofile,sp_getfirealerthomepage,"
            "sp_lookupfirealerts,sp_lookupfirealerts,sp_lookupfirealerts");
}

TEST_F(FireAlarmTest, StalledRoomEndsTheStartUpsRoomPass) {
  AddFault("delay_procedure", "sp_lookupfirealerts", 60000);
  PutThreeRooms();
  PrepareFireAlarmAnswers(true);
  // One lookup's time-out, not one per room.
  EXPECT_EQ(ProceduresCalled(),
            "sp_getfirealertdefaultvideofile,sp_getfirealerthomepage,"
            "sp_lookupfirealerts");
}

TEST_F(FireAlarmTest, SlowRoomsEndTheStartUpsRoomPassAtItsLimit) {
  // Each room answered within its time-out, all of them well beyond the limit.
  AddFault("delay_procedure", "sp_lookupfirealerts", 300);
  for (int i = 0; i < 64; ++i) {
    std::snprintf(
        g_catalogue.rooms[g_catalogue.table_records.RoomCount++].RoomAddress,
        sizeof g_catalogue.rooms[0].RoomAddress, "10.1.2.%d", i);
  }
  SetRoomPassLimit(std::chrono::milliseconds(1000));
  PrepareFireAlarmAnswers(true);
  SetRoomPassLimit(kRoomPassLimit);
  const size_t asked = Requests("rpc", "sp_lookupfirealerts").size();
  EXPECT_LT(asked, 64u);
  std::string lines;
  for (const std::string& line : log_.Lines()) {
    if (line.find("start-up pass") != std::string::npos) lines += line + "|";
  }
  EXPECT_EQ(lines, "fire alarm start-up pass stopped at its 1000 ms limit: " +
                       std::to_string(asked) + " of 64 rooms asked|");
}

// A file of one entry, a default and a page, byte for byte.
const fire_alarm::Answers kSmallAnswers{
    {{"10.1.1.7", "a.mpg"}}, std::string("all.mpg"), std::string("p.htm")};
const std::string kSmallFile = std::string(
    "RNDLFIR1"
    "\x20\x00\x00\x00"
    "\x4e\x08\x15\x1c"
    "\x03\x07"
    "all.mpg"
    "\x05"
    "p.htm"
    "\x01\x00\x08"
    "10.1.1.7"
    "\x05"
    "a.mpg",
    16 + 32);

TEST(FireAlarmAnswersFile, IsWrittenByteForByte) {
  EXPECT_EQ(fire_alarm::Encode(kSmallAnswers), kSmallFile);
}

// The body's byte `at` set to `value`, the checksum made to match.
std::string Resealed(size_t at, char value) {
  std::string file = kSmallFile;
  file[fire_alarm::kHeaderSize + at] = value;
  const uint32_t crc = platform::Crc32(file.data() + fire_alarm::kHeaderSize,
                                       file.size() - fire_alarm::kHeaderSize);
  for (int i = 0; i < 4; ++i) file[12 + i] = static_cast<char>(crc >> 8 * i);
  return file;
}

struct FileCase {
  const char* name;
  std::string bytes;   // the file as the start finds it
  std::string answer;  // TimedAnswers with the database down, " / ", the log
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class FireAlarmFileTest : public FireAlarmTest,
                          public ::testing::WithParamInterface<FileCase> {};

TEST_P(FireAlarmFileTest, OfflineStartServesOnlyAWholeFile) {
  testing::WriteFileBytes(snapshots_ + "/FireAlarm.answers", GetParam().bytes);
  venue_.Stop();
  PrepareFireAlarmAnswers(false);
  std::string answer = TimedAnswers() + " /";
  for (const std::string& line : log_.Lines()) {
    if (line.find("fire alarm answers") != std::string::npos) {
      answer += " " + line;
    }
  }
  EXPECT_EQ(answer, Placed(GetParam().answer));
}

const std::string kDamaged = std::string(kNothing) +
                             " / fire alarm answers ignored: \"" +
                             "SNAPSHOTS/FireAlarm.answers\" is damaged";

INSTANTIATE_TEST_SUITE_P(
    Cases, FireAlarmFileTest,
    ::testing::Values(
        FileCase{"Whole", kSmallFile,
                 "1 vsp://10.9.9.9/a.mpg MPEG1 MPEG|"
                 "1 vsp://10.9.9.9/all.mpg MPEG1 MPEG|1 p.htm /"},
        FileCase{"Empty", "", kDamaged},
        FileCase{"CutShort", kSmallFile.substr(0, kSmallFile.size() - 1),
                 kDamaged},
        FileCase{"OneByteMore", kSmallFile + "x", kDamaged},
        FileCase{"OtherMagic", "X" + kSmallFile.substr(1), kDamaged},
        FileCase{"ByteChanged",
                 kSmallFile.substr(0, 20) + "X" + kSmallFile.substr(21),
                 kDamaged},
        FileCase{"UnknownFlag", Resealed(0, '\x07'), kDamaged},
        FileCase{"PageBeyondItsBound", Resealed(9, '\x7f'), kDamaged},
        FileCase{"MoreEntriesThanWritten", Resealed(15, '\x02'), kDamaged}),
    [](const ::testing::TestParamInfo<FileCase>& info) {
      return std::string(info.param.name);
    });

#ifndef _WIN32  // Linux only: failures injected through the system-call table
struct WriteFailureCase {
  const char* name;
  const char* call;  // the system call that fails
  int error;
  const char* line;  // the log line, SNAPSHOTS standing for the directory
};

void PrintTo(const WriteFailureCase& c, std::ostream* os) { *os << c.name; }

class FireAlarmWriteTest
    : public FireAlarmTest,
      public ::testing::WithParamInterface<WriteFailureCase> {};

TEST_P(FireAlarmWriteTest, FailedWriteSaysWhyAndKeepsTheAnswerInMemory) {
  ReplaceProcedure("sp_lookupfirealerts", Entries({"fire/exit_a.mpg"}));
  platform::FailSyscallAt(GetParam().call, 1, GetParam().error);
  EXPECT_EQ(Video("10.1.1.7"), "1 vsp://10.9.9.9/fire/exit_a.mpg MPEG1 MPEG");
  FireAlarmMemory::FinishWriting();
  venue_.Stop();
  EXPECT_EQ(Video("10.1.1.7"), "1 vsp://10.9.9.9/fire/exit_a.mpg MPEG1 MPEG");
  EXPECT_EQ(log_.Count(Placed(GetParam().line)), 1);
  // Nothing the failed write made stays behind, and the stop's last attempt
  // saved the answer.
  EXPECT_EQ(testing::ListDirectory(snapshots_), "FireAlarm.answers\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FireAlarmWriteTest,
    ::testing::Values(WriteFailureCase{"Create", "open", EACCES,
                                       "fire alarm answers not saved (create "
                                       "\"SNAPSHOTS/FireAlarm.answers.new\": "
                                       "Permission denied)"},
                      WriteFailureCase{"Write", "write", ENOSPC,
                                       "fire alarm answers not saved (write "
                                       "\"SNAPSHOTS/FireAlarm.answers.new\": "
                                       "No space left on device)"},
                      WriteFailureCase{"Flush", "fsync", EIO,
                                       "fire alarm answers not saved (flush "
                                       "\"SNAPSHOTS/FireAlarm.answers.new\": "
                                       "Input/output error)"},
                      WriteFailureCase{"Rename", "rename", EROFS,
                                       "fire alarm answers not saved (rename "
                                       "\"SNAPSHOTS/FireAlarm.answers.new\": "
                                       "Read-only file system)"}),
    [](const ::testing::TestParamInfo<WriteFailureCase>& info) {
      return std::string(info.param.name);
    });

// A flush that takes two seconds, as on a slow or failing disk.
int SlowFsync(int fd) {
  std::this_thread::sleep_for(std::chrono::seconds(2));
  return platform::SystemSyscalls().fsync(fd);
}

TEST_F(FireAlarmTest, AnswersWithoutWaitingForTheDisk) {
  platform::SyscallFunctions slow_disk;
  slow_disk.fsync = SlowFsync;
  platform::ReplaceSyscalls(slow_disk);
  // Each call changes an answer: the entry, the default, the page.
  const auto start = std::chrono::steady_clock::now();
  RememberTheVenue();
  Video("10.1.1.8");
  // Milliseconds the four calls took together: less than one flush takes, so
  // none of them waited for one.
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start)
                .count(),
            2000);
  // A stopped library has put every answer in the file.
  ExitDatabase();
  fire_alarm::Answers saved;
  const std::string bytes = testing::ReadFileBytes(FireAlarmMemory::Path());
  EXPECT_TRUE(fire_alarm::Decode(bytes.data(), bytes.size(), &saved));
  EXPECT_EQ(fire_alarm::Encode(saved),
            fire_alarm::Encode({{{"10.1.1.7", "fire/exit_a.mpg"}},
                                std::string("fire/all.mpg"),
                                std::string("fire/p.htm")}));
}

// Threads of this process.
int ThreadCount() {
  int threads = 0;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(tasks)) threads += entry->d_name[0] != '.';
    closedir(tasks);
  }
  return threads;
}

// ThreadCount once a thread has come and gone: a sanitizer's runtime starts a
// thread of its own with the process's first.
int ThreadsAtRest() {
  std::thread([] {}).join();
  return ThreadCount();
}

// True once `condition` holds, false when it still does not after ten seconds.
bool Eventually(const std::function<bool()>& condition) {
  for (int i = 0; i < 1000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

// The file's answers encoded again; "damaged" when it is not whole.
std::string SavedAnswers() {
  const std::string bytes = testing::ReadFileBytes(FireAlarmMemory::Path());
  fire_alarm::Answers saved;
  return fire_alarm::Decode(bytes.data(), bytes.size(), &saved)
             ? fire_alarm::Encode(saved)
             : "damaged";
}

const std::string kExitAOnly =
    fire_alarm::Encode({{{"10.1.1.7", "fire/exit_a.mpg"}}, {}, {}});

TEST_F(FireAlarmTest, LookupEndingDuringExitIsSavedBeforeExitReturns) {
  ReplaceProcedure("sp_lookupfirealerts", Entries({"fire/exit_a.mpg"}));
  // The lookup is still under way when ExitDatabase begins.
  AddFault("delay_procedure", "sp_lookupfirealerts", 500);
  // A writer started for its answer would still be flushing afterwards.
  platform::SyscallFunctions slow_disk;
  slow_disk.fsync = SlowFsync;
  platform::ReplaceSyscalls(slow_disk);
  const int threads = ThreadsAtRest();
  std::string answer;
  std::thread host([&] { answer = Video("10.1.1.7"); });
  while (Requests("rpc", "sp_lookupfirealerts").empty()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ExitDatabase();
  const std::string saved = SavedAnswers();
  host.join();
  EXPECT_EQ(answer + " / " + saved + " / " + std::to_string(ThreadCount()),
            "1 vsp://10.9.9.9/fire/exit_a.mpg MPEG1 MPEG / " + kExitAOnly +
                " / " + std::to_string(threads));
}

TEST_F(FireAlarmTest, FailedWriteIsRetriedByTheNextAnswerEvenUnchanged) {
  ReplaceProcedure("sp_lookupfirealerts", Entries({"fire/exit_a.mpg"}));
  platform::FailSyscallAt("write", 1, ENOSPC);
  const int threads = ThreadsAtRest();
  Video("10.1.1.7");
  // The writer has failed and ended.
  ASSERT_TRUE(Eventually([&] { return ThreadCount() == threads; }));
  ASSERT_FALSE(testing::PathExists(FireAlarmMemory::Path()));
  Video("10.1.1.7");
  EXPECT_TRUE(
      Eventually([] { return testing::PathExists(FireAlarmMemory::Path()); }));
  EXPECT_EQ(SavedAnswers(), kExitAOnly);
}

// A thread sent kPauseSignal stops where it is until ResumePausedThread (at
// most five seconds, so a pause that lands where another thread needs the
// paused one cannot hang the test).
constexpr int kPauseSignal = SIGUSR1;
std::atomic<bool> g_resume{false};

void PauseHere(int) {
  const timespec step{0, 1000000};
  for (int i = 0; i < 5000 && !g_resume.load(); ++i) nanosleep(&step, nullptr);
}

TEST_F(FireAlarmTest, LaterLookupsAnswerIsTheOneRemembered) {
  ReplaceProcedure("sp_lookupfirealerts", Entries({"fire/exit_a.mpg"}));
  // Long enough for this thread to be waiting for the lock when the first
  // lookup ends; short of the fire alarm's query time-out.
  AddFault("delay_procedure", "sp_lookupfirealerts", 500);
  struct sigaction pause = {}, before = {};
  pause.sa_handler = PauseHere;
  ASSERT_EQ(sigaction(kPauseSignal, &pause, &before), 0);
  // On one processor, an idle-class thread that releases the lock to this
  // thread is preempted on the spot: it is stopped right after its exchange.
  cpu_set_t cpus;
  ASSERT_EQ(sched_getaffinity(0, sizeof cpus, &cpus), 0);
  int first = 0;
  while (!CPU_ISSET(first, &cpus)) ++first;
  CPU_ZERO(&cpus);
  CPU_SET(first, &cpus);
  ASSERT_EQ(sched_setaffinity(0, sizeof cpus, &cpus), 0);
  std::string earlier;
  std::thread first_lookup([&] {
    const sched_param idle{0};
    (void)sched_setscheduler(0, SCHED_IDLE, &idle);
    earlier = Video("10.1.1.7");
  });
  while (Requests("rpc", "sp_lookupfirealerts").empty()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  {
    platform::LockHolder after_first(CatalogueLock());
    pthread_kill(first_lookup.native_handle(), kPauseSignal);
    ReplaceProcedure("sp_lookupfirealerts", Entries({"fire/exit_b.mpg"}));
  }
  const std::string later = Video("10.1.1.7");
  g_resume = true;
  first_lookup.join();
  sigaction(kPauseSignal, &before, nullptr);
  venue_.Stop();
  EXPECT_EQ(earlier + "|" + later + "|" + Video("10.1.1.7"),
            "1 vsp://10.9.9.9/fire/exit_a.mpg MPEG1 MPEG|"
            "1 vsp://10.9.9.9/fire/exit_b.mpg MPEG1 MPEG|"
            "1 vsp://10.9.9.9/fire/exit_b.mpg MPEG1 MPEG");
}

#endif  // _WIN32

}  // namespace
}  // namespace rondel
