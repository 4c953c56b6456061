// rondel-snapshot over sets the library itself saved: verify gives the loader's
// own reason for every damaged file and agrees with the loader's verdict; the
// warnings, summary, dump and diff as an operator reads them.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <sstream>
#include <string>
#include <vector>

#include "catalogue/snapshot_store.h"
#include "catalogue/tables.h"
#include "catalogue_records.h"
#include "files.h"
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
            "the library loads this set\n");
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

}  // namespace
}  // namespace tools
}  // namespace rondel
