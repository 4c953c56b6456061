// rondel-snapshot over sets the library itself saved: verify gives the loader's
// own reason for every damaged file and agrees with the loader's verdict; the
// warnings, summary, dump and diff as an operator reads them.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <utime.h>

#include <sstream>
#include <string>
#include <vector>

#include "captured_log.h"
#include "catalogue/snapshot_store.h"
#include "catalogue/tables.h"
#include "catalogue_records.h"
#include "files.h"
#include "kept_files.h"
#include "playback/fire_alarm_memory.h"
#include "records/outbox.h"
#include "records/outbox_format.h"
#include "scratch_dir.h"
#include "snapshot_actions.h"
#include "snapshot_damage_cases.h"
#include "snapshot_files.h"

namespace rondel {
namespace tools {
namespace {

using testing::DamageCase;

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

ToolRun RunTool(const std::vector<std::string>& arguments) {
  std::ostringstream out, err;
  const int status = RunSnapshotTool(arguments, out, err);
  return {status, out.str(), err.str()};
}

// Saves the catalogue as it stands into `directory`, as start-up does.
void SaveSet(const std::string& directory) {
  setenv("RONDEL_SNAPSHOT_DIR", directory.c_str(), 1);
  SnapshotStore store;
  ASSERT_TRUE(store.SaveAllTables());
}

std::string ErrorLines(const std::string& report) {
  std::istringstream lines(report);
  std::string errors;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("error", 0) == 0) errors += line + "\n";
  }
  return errors;
}

class SnapshotVerifyTest : public ::testing::TestWithParam<DamageCase> {};

TEST_P(SnapshotVerifyTest, GivesTheLoadersReasonAndVerdict) {
  const DamageCase& c = GetParam();
  testing::ScratchDir dir;
  testing::FillCatalogue(11);
  SaveSet(dir.path());
  testing::ApplyDamage(dir.path(), c);

  const ToolRun verify = RunTool({"verify", dir.path()});
  ResetCatalogue();
  SnapshotStore store;
  const bool loaded = store.LoadAllTables();
  const std::string loader_errors =
      loaded ? "" : "error    " + store.LastLoad().reason + "\n";

  EXPECT_EQ(loaded, c.load_succeeds);
  EXPECT_EQ(verify.status, loaded ? 0 : 1) << verify.out;
  EXPECT_EQ(ErrorLines(verify.out), loader_errors);
  EXPECT_EQ(loader_errors, c.load_succeeds
                               ? std::string()
                               : "error    " + std::string(c.reason) + "\n");
}

INSTANTIATE_TEST_SUITE_P(Damage, SnapshotVerifyTest,
                         ::testing::ValuesIn(testing::kDamageCases),
                         [](const ::testing::TestParamInfo<DamageCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(SnapshotVerifyWarningsTest, LoadableOdditiesAreWarningsNotErrors) {
  testing::ScratchDir dir;
  ResetCatalogue();
  testing::ClearPlayLists();
  testing::AddMedia(7, kFilm, "a", {"/a"});
  MediaRecord& unended = testing::AddMedia(8, 5, "b");
  std::memset(unended.FileList, 'p', sizeof unended.FileList);
  testing::AddMedia(7, kSong, "again");
  testing::AddRoom(1, "room", "10.0.0.1");
  RoomRecord& full = testing::AddRoom(2, "", "10.0.0.1");
  std::memset(full.RoomInfo, 'i', sizeof full.RoomInfo);
  testing::AddFileServer(3, "10.0.9.1", 4);
  Catalogue& c = g_catalogue;
  c.all_sequence.entries[0] = 7;
  c.all_sequence.entries[2] = 8;
  c.all_sequence.count = 3;
  c.new_sequence.entries[0] = 99;
  c.new_sequence.count = 1;
  SaveSet(dir.path());
  // Counts two more media than the file holds.
  std::string counters = testing::ReadFileBytes(dir.File("TABLE_RECORDS.tbl"));
  testing::PutLe32(counters, 80, 5);
  testing::WriteFileBytes(dir.File("TABLE_RECORDS.tbl"), counters);

  const ToolRun verify = RunTool({"verify", dir.path()});
  EXPECT_EQ(verify.status, 0);
  EXPECT_EQ(
      verify.out,
      "ok       TABLE_RECORDS.tbl: 1 record\n"
      "ok       Rooms.tbl: 2 records\n"
      "ok       Medias.tbl: 3 records\n"
      "ok       FILE_SERVERS.tbl: 1 record\n"
      "ok       AllSequence.tbl: 3 entries\n"
      "ok       MonthSequence.tbl: 0 entries\n"
      "ok       WeekSequence.tbl: 0 entries\n"
      "ok       NewSequence.tbl: 1 entry\n"
      "ok       UserSequence.tbl: 0 entries\n"
      "warning  TABLE_RECORDS.tbl: MediaCount 5, Medias.tbl holds 3 records: "
      "the library serves 3\n"
      "warning  Rooms.tbl: record 1: RoomInfo fills its 20 bytes without a "
      "terminator\n"
      "warning  Medias.tbl: record 1 (media 8): file list does not end in an "
      "empty text\n"
      "warning  Medias.tbl: record 1 (media 8): Class 5, in no class index\n"
      "warning  Medias.tbl: media id 7 in records 0 and 2: lookups answer "
      "record 0\n"
      "warning  Rooms.tbl: address 10.0.0.1 in records 0 and 1: lookups "
      "answer record 0\n"
      "warning  AllSequence.tbl: entry 1 is 0: background play stops there "
      "(1 entry after it never played)\n"
      "warning  NewSequence.tbl: entry 0 names media 99, not in Medias.tbl\n"
      "verdict  the library loads this set (0 errors, 8 warnings)\n");
}

TEST(SnapshotSummaryTest, CountsClassesPlayListsAndIdentities) {
  testing::ScratchDir dir;
  testing::FillCatalogue(11);
  // A second record at a known address is never the one found.
  testing::AddFileServer(30, "10.0.9.1", 9);
  g_catalogue.user_sequence.entries[2] = 0;
  SaveSet(dir.path());

  const ToolRun summary = RunTool({"summary", dir.path()});
  EXPECT_EQ(summary.status, 0);
  EXPECT_EQ(summary.out,
            "TABLE_RECORDS.tbl  1 record\n"
            "Rooms.tbl          3 records, RoomCount 3\n"
            "Medias.tbl         5 records, MediaCount 5\n"
            "FILE_SERVERS.tbl   3 records, FileServerCount 3\n"
            "AllSequence.tbl    3 entries, 3 played\n"
            "MonthSequence.tbl  0 entries, 0 played\n"
            "WeekSequence.tbl   2 entries, 2 played\n"
            "NewSequence.tbl    1 entry, 1 played\n"
            "UserSequence.tbl   4 entries, 2 played\n"
            "media by class: film 2, song 2, ad 1, other 0\n"
            "file-server identity by address (first match wins):\n"
            "  10.0.9.1 -> FileServerId 12, GroupId 4\n"
            "  10.0.9.2 -> FileServerId 13, GroupId 5\n"
            "  10.0.9.1 -> FileServerId 12, GroupId 4 (record 0; record 2 "
            "unused)\n"
            "the library loads this set\n"
            "PlayRecords.outbox    absent: no plays kept\n"
            "PlayRecords.rejected  absent: none set aside\n"
            "FireAlarm.answers     absent: nothing remembered\n");
}

TEST(SnapshotDumpTest, JsonHoldsEveryFieldForAnyBytes) {
  testing::ScratchDir dir;
  ResetCatalogue();
  testing::ClearPlayLists();
  // A code page 936 name, and a text cut after the first byte of a character.
  MediaRecord& m =
      testing::AddMedia(7, kSong, "\xC4\xE3\xBA\xC3", {"/v/a b", "/v/\"q\""});
  testing::CopyText(m.MediaCode, sizeof m.MediaCode, "1234567");
  testing::CopyText(m.TextA, sizeof m.TextA, "\xB8\xE8");
  testing::CopyText(m.TextB, sizeof m.TextB, "x\xC4");
  m.NumberA = -1;
  m.GroupId = 4;
  SaveSet(dir.path());

  const struct {
    std::vector<std::string> arguments;
    std::string json;
  } cases[] = {
      {{"dump", dir.path(), "Medias", "--format", "json"},
       "{\"table\":\"Medias\",\"records\":[\n"
       "{\"MediaId\":7,\"MediaName\":\"你好\",\"MediaCode\":\"1234567\","
       "\"Class\":2,\"TextA\":\"歌\",\"TextB\":\"x\xEF\xBF\xBD\","
       "\"NumberA\":-1,\"NumberB\":0,\"NumberC\":0,\"GroupId\":4,"
       "\"FileList\":[\"/v/a b\",\"/v/\\\"q\\\"\"]}\n"
       "]}\n"},
      {{"dump", dir.path(), "medias.tbl", "--format", "json", "--raw"},
       "{\"table\":\"Medias\",\"records\":[\n"
       "{\"MediaId\":7,\"MediaName\":\"\\u00c4\\u00e3\\u00ba\\u00c3\","
       "\"MediaCode\":\"1234567\",\"Class\":2,\"TextA\":\"\\u00b8\\u00e8\","
       "\"TextB\":\"x\\u00c4\",\"NumberA\":-1,\"NumberB\":0,\"NumberC\":0,"
       "\"GroupId\":4,\"FileList\":[\"/v/a b\",\"/v/\\\"q\\\"\"]}\n"
       "]}\n"},
  };
  for (const auto& c : cases) {
    const ToolRun dump = RunTool(c.arguments);
    EXPECT_EQ(dump.status, 0) << dump.err;
    EXPECT_EQ(dump.out, c.json);
  }
}

class SnapshotDiffTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::FillCatalogue(11);
    SaveSet(before_.path());
    testing::FillCatalogue(11);
  }
  testing::ScratchDir before_;
  testing::ScratchDir after_;
};

TEST_F(SnapshotDiffTest, OneMediaOneRoomOnePlayListEntry) {
  testing::CopyText(g_catalogue.medias[2].MediaName, 100, "renamed");
  testing::AddRoom(99, "vip", "10.0.7.1");
  g_catalogue.all_sequence.entries[1] = 1199;
  SaveSet(after_.path());

  const ToolRun diff = RunTool({"diff", before_.path(), after_.path()});
  EXPECT_EQ(diff.status, 1);
  EXPECT_EQ(diff.out,
            "media: 0 added, 0 removed, 1 changed\n"
            "  ~ 112: MediaName \"media2\" -> \"renamed\"\n"
            "rooms: 1 added, 0 removed, 0 changed\n"
            "  + 10.0.7.1 RoomInfo \"vip\"\n"
            "file servers: no change\n"
            "play lists:\n"
            "  AllSequence (3 -> 3 entries): -1101@1 +1199@1\n"
            "  MonthSequence: no change (0 entries)\n"
            "  WeekSequence: no change (2 entries)\n"
            "  NewSequence: no change (1 entry)\n"
            "  UserSequence: no change (4 entries)\n");
}

TEST_F(SnapshotDiffTest, RemovedRecordsAndReorderedPlayList) {
  // The last media and file server dropped; the user list's last entry first.
  --g_catalogue.table_records.MediaCount;
  --g_catalogue.table_records.FileServerCount;
  g_catalogue.user_sequence.entries[0] = 11003;
  g_catalogue.user_sequence.entries[3] = 11000;
  SaveSet(after_.path());

  const ToolRun diff = RunTool({"diff", before_.path(), after_.path()});
  EXPECT_EQ(diff.status, 1);
  EXPECT_EQ(diff.out,
            "media: 0 added, 1 removed, 0 changed\n"
            "  - 114 MediaName \"media4\"\n"
            "rooms: no change\n"
            "file servers: 0 added, 1 removed, 0 changed\n"
            "  - 10.0.9.2 FileServerId 13\n"
            "play lists:\n"
            "  AllSequence: no change (3 entries)\n"
            "  MonthSequence: no change (0 entries)\n"
            "  WeekSequence: no change (2 entries)\n"
            "  NewSequence: no change (1 entry)\n"
            "  UserSequence (4 -> 4 entries): 11000@0>3 11003@3>0\n");
  EXPECT_EQ(RunTool({"diff", before_.path(), before_.path()}).status, 0);
}

// The kept files, written with the library's own encoders and damaged by hand.
std::string PlayEntry(int32_t media_id, const std::string& room,
                      const std::string& begin, const std::string& end,
                      int32_t song_type = 2) {
  std::string entry;
  outbox::EncodePlay({media_id, song_type, room, begin, end}, &entry);
  return entry;
}

std::string MarkEntry(uint32_t sent) {
  std::string entry;
  outbox::EncodeSentMark(sent, &entry);
  return entry;
}

std::string Played(int32_t media_id, const char* room, int minute) {
  char begin[32], end[32];
  std::snprintf(begin, sizeof begin, "2026-12-08 01:%02d:00", minute);
  std::snprintf(end, sizeof end, "2026-12-08 01:%02d:00", minute + 4);
  return PlayEntry(media_id, room, begin, end);
}

// Plays 1101 (sent), 1102, a play whose body lost a byte's worth of its
// checksum, 1103, and an append cut short after three bytes.
std::string DamagedOutbox() {
  std::string damaged = Played(1199, "10.0.0.29", 30);
  damaged[20] ^= 0x40;
  return std::string(outbox::kMagic, outbox::kMagicSize) +
         Played(1101, "10.0.0.21", 0) + MarkEntry(1) +
         Played(1102, "10.0.0.22", 10) + damaged +
         Played(1103, "10.0.0.23", 20) + std::string("\x10\x00\x00", 3);
}

// A code page 936 room name with a comma and quotes, a begin time ending in a
// byte no character starts with, an end time with a backslash.
std::string RejectedFile() {
  return std::string(outbox::kRejectedMagic, outbox::kMagicSize) +
         PlayEntry(2201, "\xC4\xE3\xBA\xC3,\"8\"", "2026-12-08 02:00:00\x80",
                   "02:04\\00", 1) +
         Played(2202, "10.0.0.24", 40);
}

std::string FireAlarmFile() {
  fire_alarm::Answers answers;
  answers.default_file = "fire.mpg";
  answers.page =
      "\xB5\xDA"
      "3"
      "\xD2\xB3";  // "page 3" in code page 936
  answers.files = {{"10.0.0.21", "floor1.mpg"}, {"10.0.0.31", "floor2.mpg"}};
  return fire_alarm::Encode(answers);
}

struct KeptCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> files;  // name, bytes
  std::vector<std::string> arguments;  // "DIR" stands for the directory
  int status;
  std::string out;  // the directory's path shown as DIR
};

void PrintTo(const KeptCase& c, std::ostream* os) { *os << c.name; }

class KeptFilesTest : public ::testing::TestWithParam<KeptCase> {};

TEST_P(KeptFilesTest, ShowsWhatTheLibraryReadsOfIt) {
  const KeptCase& c = GetParam();
  testing::ScratchDir dir;
  for (const auto& [name, bytes] : c.files) {
    if (bytes == "(a directory)") {
      ASSERT_EQ(mkdir(dir.File(name).c_str(), 0700), 0);
      continue;
    }
    testing::WriteFileBytes(dir.File(name), bytes);
    const utimbuf written = {1796702400, 1796702400};  // 2026-12-08 04:00 UTC
    ASSERT_EQ(utime(dir.File(name).c_str(), &written), 0);
  }
  std::vector<std::string> arguments = c.arguments;
  for (std::string& a : arguments) {
    if (a == "DIR") a = dir.path();
  }
  const ToolRun run = RunTool(arguments);
  std::string out = run.out;
  for (size_t at; (at = out.find(dir.path())) != std::string::npos;) {
    out.replace(at, dir.path().size(), "DIR");
  }
  EXPECT_EQ(run.status, c.status) << run.err;
  EXPECT_EQ(out, c.out);
}

const KeptCase kKeptCases[] = {
    {"OutboxSummary",
     {{"PlayRecords.outbox", DamagedOutbox()}},
     {"summary", "DIR", "PlayRecords.outbox"},
     0,
     "PlayRecords.outbox: 3 plays kept: 1 sent, 2 unsent, oldest unsent "
     "begun \"2026-12-08 01:10:00\", newest \"2026-12-08 01:20:00\"; 67 "
     "damaged bytes skipped; a torn end of 3 bytes; written 2026-12-08 "
     "04:00:00 UTC\n"},
    {"OutboxVerify",
     {{"PlayRecords.outbox", DamagedOutbox()}},
     {"verify", "DIR", "playrecords.OUTBOX"},
     1,
     "error    PlayRecords.outbox: 67 bytes at offset 155 do not decode: "
     "skipped, the entries after them are read (the library sets them aside "
     "at its next load)\n"
     "warning  PlayRecords.outbox: 3 bytes at offset 289 end the file "
     "undecoded, a write cut short: cut off before the next append\n"
     "verdict  PlayRecords.outbox is damaged: 67 bytes skipped, 3 plays (2 "
     "unsent) read (1 error, 1 warning)\n"},
    {"OutboxDump",
     {{"PlayRecords.outbox", DamagedOutbox()}},
     {"dump", "DIR", "PlayRecords.outbox"},
     1,
     "Offset  Entry      MediaId  RoomAddress  BeginTime            EndTime  "
     "            SongType  State\n"
     "8       play       1101     10.0.0.21    2026-12-08 01:00:00  "
     "2026-12-08 01:04:00  2         sent\n"
     "75      sent mark                                                       "
     "                     first 1 sent\n"
     "88      play       1102     10.0.0.22    2026-12-08 01:10:00  "
     "2026-12-08 01:14:00  2         unsent\n"
     "155     damaged                                                         "
     "                     67 bytes skipped\n"
     "222     play       1103     10.0.0.23    2026-12-08 01:20:00  "
     "2026-12-08 01:24:00  2         unsent\n"
     "289     torn end                                                        "
     "                     3 bytes cut off\n"},
    {"OutboxDumpJson",
     {{"PlayRecords.outbox", DamagedOutbox()}},
     {"dump", "DIR", "PlayRecords.outbox", "--format", "json"},
     1,
     "{\"file\":\"PlayRecords.outbox\",\"entries\":[\n"
     "{\"offset\":8,\"size\":67,\"entry\":\"play\",\"MediaId\":1101,"
     "\"RoomAddress\":\"10.0.0.21\",\"BeginTime\":\"2026-12-08 01:00:00\","
     "\"EndTime\":\"2026-12-08 01:04:00\",\"SongType\":2,\"sent\":true},\n"
     "{\"offset\":75,\"size\":13,\"entry\":\"sent mark\",\"Sent\":1},\n"
     "{\"offset\":88,\"size\":67,\"entry\":\"play\",\"MediaId\":1102,"
     "\"RoomAddress\":\"10.0.0.22\",\"BeginTime\":\"2026-12-08 01:10:00\","
     "\"EndTime\":\"2026-12-08 01:14:00\",\"SongType\":2,\"sent\":false},\n"
     "{\"offset\":155,\"size\":67,\"entry\":\"damaged\"},\n"
     "{\"offset\":222,\"size\":67,\"entry\":\"play\",\"MediaId\":1103,"
     "\"RoomAddress\":\"10.0.0.23\",\"BeginTime\":\"2026-12-08 01:20:00\","
     "\"EndTime\":\"2026-12-08 01:24:00\",\"SongType\":2,\"sent\":false},\n"
     "{\"offset\":289,\"size\":3,\"entry\":\"torn end\"}\n"
     "]}\n"},
    {"OutboxSummaryJson",
     {{"PlayRecords.outbox", DamagedOutbox()},
      {"PlayRecords.rejected", RejectedFile()}},
     {"summary", "DIR", "PlayRecords.outbox", "--json"},
     0,
     "{\"file\":\"PlayRecords.outbox\",\"state\":\"damaged\",\"error\":null,"
     "\"size\":292,\"written\":\"2026-12-08T04:00:00Z\",\"plays\":3,"
     "\"sent\":1,\"unsent\":2,\"oldest_unsent\":{\"MediaId\":1102,"
     "\"RoomAddress\":\"10.0.0.22\",\"BeginTime\":\"2026-12-08 01:10:00\","
     "\"EndTime\":\"2026-12-08 01:14:00\",\"SongType\":2},"
     "\"newest_unsent\":{\"MediaId\":1103,\"RoomAddress\":\"10.0.0.23\","
     "\"BeginTime\":\"2026-12-08 01:20:00\",\"EndTime\":\"2026-12-08 "
     "01:24:00\",\"SongType\":2},\"first_unsent_set_aside\":false,"
     "\"damaged_bytes\":67,\"torn_bytes\":3,\"kept_aside\":[],\"findings\":["
     "{\"level\":\"error\",\"offset\":155,\"size\":67,\"text\":"
     "\"PlayRecords.outbox: 67 bytes at offset 155 do not decode: skipped, "
     "the entries after them are read (the library sets them aside at its "
     "next load)\"},{\"level\":\"warning\",\"offset\":289,\"size\":3,"
     "\"text\":\"PlayRecords.outbox: 3 bytes at offset 289 end the file "
     "undecoded, a write cut short: cut off before the next append\"}]}\n"},
    {"OutboxFirstUnsentAlreadySetAside",
     {{"PlayRecords.outbox",
       std::string(outbox::kMagic, 8) + Played(2202, "10.0.0.24", 40)},
      {"PlayRecords.rejected", RejectedFile()}},
     {"verify", "DIR", "PlayRecords.outbox"},
     0,
     "warning  PlayRecords.outbox: its oldest unsent play is the last one set "
     "aside in PlayRecords.rejected (before a stop): the library's next load "
     "lets it leave unsent\n"
     "verdict  PlayRecords.outbox is whole: 1 play (1 unsent) (0 errors, 1 "
     "warning)\n"},
    {"OutboxAbsentWithBytesKeptAside",
     {{"PlayRecords.outbox.damaged", "garbage"}},
     {"verify", "DIR", "PlayRecords.outbox"},
     0,
     "warning  PlayRecords.outbox.damaged: 7 bytes set aside earlier, for "
     "someone to look at\n"
     "verdict  PlayRecords.outbox is absent: no plays kept (0 errors, 1 "
     "warning)\n"},
    {"OutboxOfAnotherMagic",
     {{"PlayRecords.outbox", "RNDLREJ1 and more"}},
     {"verify", "DIR", "PlayRecords.outbox"},
     1,
     "error    PlayRecords.outbox: not a play outbox (it begins \"RNDLREJ1\"): "
     "the library sets its 17 bytes aside at its next load\n"
     "verdict  PlayRecords.outbox is not a file of its kind: nothing is read "
     "(1 error, 0 warnings)\n"},
    {"OutboxUnreadable",
     {{"PlayRecords.outbox", "(a directory)"}},
     {"summary", "DIR", "PlayRecords.outbox"},
     0,
     "PlayRecords.outbox: unreadable: read \"DIR/PlayRecords.outbox\": Is a "
     "directory\n"},
    {"RejectedSummary",
     {{"PlayRecords.rejected", RejectedFile()}},
     {"summary", "DIR", "PlayRecords.rejected"},
     0,
     "PlayRecords.rejected: 2 plays set aside; written 2026-12-08 04:00:00 "
     "UTC\n"},
    {"RejectedCsvForEnteringByHand",
     {{"PlayRecords.rejected", RejectedFile()}},
     {"dump", "DIR", "PlayRecords.rejected", "--format", "csv"},
     0,
     "MediaId,RoomAddress,BeginTime,EndTime,SongType\r\n"
     "2201,\"你好,\"\"8\"\"\",2026-12-08 02:00:00\\x80,02:04\\\\00,1\r\n"
     "2202,10.0.0.24,2026-12-08 01:40:00,2026-12-08 01:44:00,2\r\n"},
    {"FireAlarmSummary",
     {{"FireAlarm.answers", FireAlarmFile()}},
     {"summary", "DIR", "FireAlarm.answers"},
     0,
     "FireAlarm.answers: 2 addresses remembered, default \"fire.mpg\", page "
     "\"第3页\"; written 2026-12-08 04:00:00 UTC\n"},
    {"FireAlarmDump",
     {{"FireAlarm.answers", FireAlarmFile()}},
     {"dump", "DIR", "FireAlarm.answers"},
     0,
     "Step     Address    Answer\n"
     "default             fire.mpg\n"
     "page                第3页\n"
     "file     10.0.0.21  floor1.mpg\n"
     "file     10.0.0.31  floor2.mpg\n"},
    {"FireAlarmWhole",
     {{"FireAlarm.answers", FireAlarmFile()}},
     {"verify", "DIR", "FireAlarm.answers"},
     0,
     "verdict  FireAlarm.answers is whole: 2 addresses, a default, a page (0 "
     "errors, 0 warnings)\n"},
    {"FireAlarmChecksum",
     {{"FireAlarm.answers", FireAlarmFile().substr(0, 12) + "\xFF\xFF\xFF\xFF" +
                                FireAlarmFile().substr(16)}},
     {"verify", "DIR", "FireAlarm.answers", "--json"},
     1,
     "{\"file\":\"FireAlarm.answers\",\"state\":\"damaged\",\"error\":null,"
     "\"size\":76,\"written\":\"2026-12-08T04:00:00Z\",\"fault\":\"Checksum "
     "0xffffffff does not match the body\",\"default\":null,\"page\":null,"
     "\"files\":[],\"findings\":[{\"level\":\"error\",\"offset\":null,"
     "\"size\":0,\"text\":\"FireAlarm.answers: Checksum 0xffffffff does not "
     "match the body: nothing is served from it\"}]}\n"},
    {"FireAlarmCutShort",
     {{"FireAlarm.answers", FireAlarmFile().substr(0, 40)}},
     {"summary", "DIR", "FireAlarm.answers"},
     0,
     "FireAlarm.answers: damaged: BodyLength 60, but 24 bytes follow the "
     "header; written 2026-12-08 04:00:00 UTC\n"},
    {"FireAlarmAbsent",
     {},
     {"verify", "DIR", "FireAlarm.answers"},
     0,
     "verdict  FireAlarm.answers is absent: nothing remembered (0 errors, 0 "
     "warnings)\n"},
};

INSTANTIATE_TEST_SUITE_P(Files, KeptFilesTest, ::testing::ValuesIn(kKeptCases),
                         [](const ::testing::TestParamInfo<KeptCase>& info) {
                           return std::string(info.param.name);
                         });

// A mark behind a damaged stretch: the stretch may have held plays, so the
// library counts only the plays before it as sent; the tool must agree.
TEST(KeptFilesCountTest, UnsentAsTheOutboxLoadCountsThem) {
  testing::ScratchDir dir;
  std::string damaged = Played(1199, "10.0.0.29", 30);
  damaged[20] ^= 0x40;
  testing::WriteFileBytes(dir.File(outbox::kFileName),
                          std::string(outbox::kMagic, outbox::kMagicSize) +
                              Played(1101, "10.0.0.21", 0) +
                              Played(1102, "10.0.0.22", 10) + damaged +
                              Played(1103, "10.0.0.23", 20) +
                              Played(1104, "10.0.0.24", 30) + MarkEntry(4));

  const PlaysFile read = ReadPlaysFile(dir.path(), PlaysFileKind::kOutbox);
  testing::CapturedLog log(dir.File("module.log"));
  PlayOutbox library(dir.path() + "/", 100);
  EXPECT_EQ(read.unsent(), library.Unsent());
}

struct UsageCase {
  std::vector<std::string> arguments;
  std::string first_line;  // of standard error
};

TEST(SnapshotUsageTest, NamesTheArgumentAndTheReason) {
  const UsageCase cases[] = {
      {{}, "rondel-snapshot: no command given"},
      {{"show", "d"},
       "rondel-snapshot: \"show\": not a command (verify, summary, dump or "
       "diff)"},
      {{"summary"}, "rondel-snapshot: summary: DIR is missing"},
      {{"verify", "d", "--json"},
       "rondel-snapshot: --json: needs a FILE (PlayRecords.outbox, "
       "PlayRecords.rejected or FireAlarm.answers); the tables have no JSON "
       "verify"},
      {{"summary", "d", "Plays.log"},
       "rondel-snapshot: \"Plays.log\": not a kept file (PlayRecords.outbox, "
       "PlayRecords.rejected or FireAlarm.answers)"},
      {{"dump", "d"}, "rondel-snapshot: dump: TABLE or FILE is missing"},
      {{"dump", "d", "Medias", "--format", "xml"},
       "rondel-snapshot: --format: \"xml\" is not table, csv or json"},
      {{"dump", "d", "Medias", "--all"},
       "rondel-snapshot: \"--all\": not an option of dump"},
      {{"diff", "d"}, "rondel-snapshot: diff: needs DIR1 and DIR2, 1 given"},
  };
  for (const UsageCase& c : cases) {
    const ToolRun run = RunTool(c.arguments);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')), c.first_line);
    EXPECT_EQ(run.out, "");
  }
  const ToolRun help = RunTool({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(help.out.rfind("usage: rondel-snapshot verify DIR [FILE]", 0), 0u);
  EXPECT_EQ(RunTool({"--version"}).out,
            std::string("rondel-snapshot ") + RONDEL_VERSION + "\n");
}

}  // namespace
}  // namespace tools
}  // namespace rondel
