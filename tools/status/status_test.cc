// The status model against a real venuedb and real files, on Linux and under
// wine alike: one table of venue states, each compared as the whole report a
// technician reads (times, ports and the scratch directory normalised), with
// its exit status; and the log's two line formats. What the system itself
// says (a refused connection, a missing file) is the platform's text
// (status_test_texts.h). The command's own tests are status_command_test.cc.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "catalogue/snapshot_store.h"
#include "files.h"
#include "records/outbox_format.h"
#include "scratch_dir.h"
#include "snapshot_files.h"
#include "status_model.h"
#include "status_render.h"
#include "status_test_texts.h"
#include "test_system.h"
#include "venue_server.h"

namespace rondel {
namespace tools {
namespace {

using testing::ScratchDir;
using testing::VenueServer;

enum class Db { kUp, kDown, kWrongPassword, kNoSuchDatabase };
enum class Set { kWhole, kAbsent, kDamaged, kMidReplacement };
enum class Outbox { kEmpty, kKept, kDamaged, kSetAside };
enum class Conf { kPlain, kMissing, kBom, kNoFileServer, kPortOutOfRange };

std::string Play(int32_t media_id, const std::string& begin) {
  std::string entry;
  outbox::EncodePlay({media_id, 2, "10.0.0.21", begin, "2026-02-01 21:09:00"},
                     &entry);
  return entry;
}

// Replaces each run of digits between `before` and `after` with `with`.
void ReplaceNumbers(std::string& text, const std::string& before,
                    const std::string& after, const std::string& with) {
  for (size_t at = text.find(before); at != std::string::npos;
       at = text.find(before, at + 1)) {
    const size_t digits = at + before.size();
    size_t end = digits;
    while (end < text.size() &&
           std::isdigit(static_cast<unsigned char>(text[end])))
      ++end;
    if (end > digits && text.compare(end, after.size(), after) == 0) {
      text.replace(digits, end - digits, with);
    }
  }
}

// The report with what changes from run to run replaced: the scratch
// directory, ports, times, ages and the login's milliseconds.
std::string Normalised(std::string text, const std::string& scratch) {
  for (size_t at; (at = text.find(scratch)) != std::string::npos;) {
    text.replace(at, scratch.size(), "DIR");
  }
  ReplaceNumbers(text, "127.0.0.1:", "", "PORT");
  ReplaceNumbers(text, "DataBaseServerPort ", "\n", "PORT");
  ReplaceNumbers(text, " in ", " ms", "N");
  static const char kUtc[] = "dddd-dd-dd dd:dd:dd UTC";
  const size_t size = sizeof kUtc - 1;
  for (size_t at = 0; at + size <= text.size(); ++at) {
    bool time = true;
    for (size_t i = 0; i < size && time; ++i) {
      time = kUtc[i] == 'd'
                 ? std::isdigit(static_cast<unsigned char>(text[at + i])) != 0
                 : text[at + i] == kUtc[i];
    }
    if (time) text.replace(at, size, "T");
  }
  for (size_t end; (end = text.find(" ago)")) != std::string::npos;) {
    const size_t open = text.rfind('(', end);
    text.replace(open, end + 5 - open, "(AGE)");
  }
  return text;
}

// The parts of the report the table's states share.
std::string Settings(const std::string& password = "(empty)",
                     const std::string& database = "karaok",
                     const std::string& file_server = "10.9.9.9") {
  return "settings    DIR/Korvane.ini (--settings)\n"
         "  [MainServer] DataBaseServerIp   127.0.0.1\n"
         "  [MainServer] DataBaseServerPort PORT\n"
         "  [KTV] DataBaseName              " +
         database +
         "\n"
         "  [MainServer] UserName           sa\n"
         "  [MainServer] PassWord           " +
         password +
         "\n"
         "  [MainServer] ClientCharset      GB18030  (default)\n"
         "  [MainServer] FileServerIP       " +
         file_server +
         "\n"
         "  [VideoServer] KeepUnsentPlays   1  (default)\n"
         "  [VideoServer] RandPlayType      2  (default)\n";
}
const std::string kServing =
    "serving from the database: \"karaok\" on 127.0.0.1:PORT\n\n"
    "database    127.0.0.1:PORT \"karaok\" as sa: reachable; login accepted "
    "in N ms\n";
const std::string kDown =
    "database    127.0.0.1:PORT \"karaok\" as sa: unreachable: " +
    RefusedText() + "\n";
const std::string kUnreachable =
    "is unreachable (127.0.0.1:PORT: " + RefusedText() + ")";
std::string Offline(const std::string& why) {
  return "the database " + why +
         ", an offline start would serve the snapshot set written at T "
         "(AGE)\n\n";
}
const std::string kSetRecords =
    "TABLE_RECORDS 1, Rooms 3, Medias 5, FILE_SERVERS 2, AllSequence 0, "
    "MonthSequence 0, WeekSequence 0, NewSequence 0, UserSequence 0\n";
const std::string kSetWhole =
    "snapshots   DIR/VideoServertable/ (--snapshot-dir): writable; written T "
    "(AGE)\n"
    "  records   " +
    kSetRecords +
    "  verify    the library loads this set (0 errors, 0 warnings)\n";
const std::string kSetAside =
    "  set aside 0 plays\n"
    "  damaged bytes kept aside: none\n";
const std::string kNoPlays =
    "plays       none kept in the outbox\n" + kSetAside;
const std::string kTwoPlays =
    "plays       2 plays kept in the outbox, waiting for the database "
    "(oldest 2026-02-01 21:01:00, newest 2026-02-01 21:03:00)\n";
const std::string kRest =
    "fire alarm  no answers remembered (absent)\n"
    "log         DIR/rondel.log (--log): no such file yet\n";

struct StateCase {
  const char* name;
  Db db;
  Set set;
  Outbox outbox;
  Conf conf;
  int exit_status;
  std::string report;  // normalised
};

// A case by its name, in test listings.
void PrintTo(const StateCase& c, std::ostream* out) { *out << c.name; }

class StatusStateTest : public ::testing::TestWithParam<StateCase> {
 protected:
  void WriteSettings(const StateCase& c) {
    if (c.conf == Conf::kMissing) return;
    std::ofstream(scratch_.File("Korvane.ini"), std::ios::binary)
        << (c.conf == Conf::kBom ? "\xEF\xBB\xBF" : "")
        << "[MainServer]\nDataBaseServerIp=127.0.0.1\nDataBaseServerPort="
        << (c.conf == Conf::kPortOutOfRange ? 70000 : venue_.port())
        << "\nUserName=sa\nPassWord="
        << (c.db == Db::kWrongPassword ? "wrong" : "") << "\nFileServerIP="
        << (c.conf == Conf::kNoFileServer ? "" : "10.9.9.9")
        << "\nDataBaseServerPot=1433\n[KTV]\nDataBaseName="
        << (c.db == Db::kNoSuchDatabase ? "nosuch" : "karaok") << "\n";
  }
  void WriteSet(Set set) {
    if (set == Set::kAbsent) return;
    testing::SetEnv("RONDEL_SNAPSHOT_DIR", set_dir());
    testing::FillCatalogue(5);
    testing::ClearPlayLists();
    SnapshotStore store;
    ASSERT_TRUE(store.SaveAllTables());
    if (set == Set::kDamaged) {
      const std::string medias = set_dir() + "Medias.tbl";
      testing::WriteFileBytes(medias,
                              testing::ReadFileBytes(medias).substr(0, 500));
    }
    if (set == Set::kMidReplacement) {
      // Committed, Rooms.tbl.new not yet renamed over Rooms.tbl.
      std::ofstream(set_dir() + snapshot::kCommitFileName, std::ios::binary)
          << snapshot::CommitRecordBytes();
      ASSERT_EQ(0, std::rename((set_dir() + "Rooms.tbl").c_str(),
                               (set_dir() + "Rooms.tbl.new").c_str()));
    }
  }
  void WriteOutbox(Outbox kind) {
    if (kind == Outbox::kEmpty) return;
    if (kind == Outbox::kSetAside) {
      std::ofstream(set_dir() + "PlayRecords.rejected", std::ios::binary)
          << std::string(outbox::kRejectedMagic, outbox::kMagicSize)
          << Play(1201, "2026-02-01 20:00:00");
      return;
    }
    std::string damaged = Play(1199, "2026-02-01 21:05:00");
    damaged[20] ^= 0x40;
    std::ofstream(set_dir() + "PlayRecords.outbox", std::ios::binary)
        << std::string(outbox::kMagic, outbox::kMagicSize)
        << Play(1101, "2026-02-01 21:01:00")
        << (kind == Outbox::kDamaged ? damaged : "")
        << Play(1102, "2026-02-01 21:03:00");
  }
  std::string set_dir() const { return scratch_.File("VideoServertable/"); }

  ScratchDir scratch_;
  VenueServer venue_;
};

TEST_P(StatusStateTest, ReportsWhatAStartWouldServe) {
  const StateCase& c = GetParam();
  ASSERT_NE(venue_.port(), 0);
  WriteSettings(c);
  WriteSet(c.set);
  WriteOutbox(c.outbox);
  if (c.db == Db::kDown) venue_.Stop();
  StatusSources sources;
  sources.settings_file = scratch_.File("Korvane.ini");
  sources.settings_from = "--settings";
  sources.snapshot_dir = set_dir();
  sources.snapshot_from = "--snapshot-dir";
  sources.log_file = scratch_.File("rondel.log");
  sources.log_from = "--log";
  const VenueStatus status = GatherStatus(sources);
  std::ostringstream report;
  PrintStatusText(status, report);
  EXPECT_EQ(c.report, Normalised(report.str(), scratch_.path()));
  EXPECT_EQ(c.exit_status, StatusExitCode(status));
}

// Every settings file of the table has a misspelt key.
const std::string kMisspelt =
    "  warning: [MainServer] DataBaseServerPot= is not a key this library "
    "reads; did you mean DataBaseServerPort?\n";

const StateCase kStates[] = {
    {"DatabaseUp", Db::kUp, Set::kWhole, Outbox::kEmpty, Conf::kPlain, 0,
     kServing + Settings() + kMisspelt + kSetWhole + kNoPlays + kRest},
    {"DatabaseDownPlaysKept", Db::kDown, Set::kWhole, Outbox::kKept,
     Conf::kPlain, 1,
     Offline(kUnreachable) + kDown + Settings() + kMisspelt + kSetWhole +
         kTwoPlays + kSetAside + kRest},
    {"WrongPassword", Db::kWrongPassword, Set::kWhole, Outbox::kEmpty,
     Conf::kPlain, 1,
     Offline("refuses the login (18456: Login failed for user 'sa'.)") +
         "database    127.0.0.1:PORT \"karaok\" as sa: reachable; login "
         "refused in N ms\n"
         "  server says 18456 (class 14, state 1): Login failed for user "
         "'sa'.\n" +
         Settings("********") + kMisspelt + kSetWhole + kNoPlays + kRest},
    {"NoSuchDatabase", Db::kNoSuchDatabase, Set::kWhole, Outbox::kEmpty,
     Conf::kPlain, 1,
     Offline("refuses the login (4060: Cannot open database \"nosuch\" "
             "requested by the login. The login failed.; 18456: Login failed "
             "for user 'sa'.)") +
         "database    127.0.0.1:PORT \"nosuch\" as sa: reachable; login "
         "refused in N ms\n"
         "  server says 4060 (class 11, state 1): Cannot open database "
         "\"nosuch\" requested by the login. The login failed.\n"
         "  server says 18456 (class 14, state 1): Login failed for user "
         "'sa'.\n" +
         Settings("(empty)", "nosuch") + kMisspelt + kSetWhole + kNoPlays +
         kRest},
    {"NothingToServe", Db::kDown, Set::kAbsent, Outbox::kEmpty, Conf::kPlain, 2,
     "NOTHING to serve: the database " + kUnreachable +
         " and no whole snapshot set (no directory "
         "DIR/VideoServertable/)\n\n" +
         kDown + Settings() + kMisspelt +
         "snapshots   DIR/VideoServertable/ (--snapshot-dir): no such "
         "directory\n" +
         kNoPlays + kRest},
    {"DamagedSet", Db::kDown, Set::kDamaged, Outbox::kEmpty, Conf::kPlain, 2,
     "NOTHING to serve: the database " + kUnreachable +
         " and no whole snapshot set (the library refuses this set: its load "
         "stops at Medias.tbl (1 error, 0 warnings))\n\n" +
         kDown + Settings() + kMisspelt +
         "snapshots   DIR/VideoServertable/ (--snapshot-dir): writable; "
         "written T (AGE)\n"
         "  records   TABLE_RECORDS 1, Rooms 3, Medias -, FILE_SERVERS 2, "
         "AllSequence 0, MonthSequence 0, WeekSequence 0, NewSequence 0, "
         "UserSequence 0\n"
         "  verify    the library refuses this set: its load stops at "
         "Medias.tbl (1 error, 0 warnings)\n"
         "  error    Medias.tbl: 420 bytes of records, 4710 expected\n" +
         kNoPlays + kRest},
    {"DamagedOutbox", Db::kUp, Set::kWhole, Outbox::kDamaged, Conf::kPlain, 0,
     kServing + Settings() + kMisspelt + kSetWhole + kTwoPlays +
         "  the outbox is damaged: 67 bytes skipped; the next start sets them "
         "aside\n" +
         kSetAside + kRest},
    {"SettingsMissing", Db::kUp, Set::kWhole, Outbox::kEmpty, Conf::kMissing, 3,
     Offline("is unreachable (127.0.0.1: " + RefusedText() + ")") +
         "database    127.0.0.1 (no DataBaseServerPort: the client library's "
         "default port) \"karaok\" as sa: unreachable: " +
         RefusedText() +
         "\n"
         "settings    DIR/Korvane.ini (--settings): cannot be read (open "
         "\"DIR/Korvane.ini\": " +
         NoSuchFileText() +
         "); the library would "
         "use these defaults\n"
         "  [MainServer] DataBaseServerIp   127.0.0.1  (default)\n"
         "  [MainServer] DataBaseServerPort (none: the client library's "
         "default)  (default)\n"
         "  [KTV] DataBaseName              karaok  (default)\n"
         "  [MainServer] UserName           sa  (default)\n"
         "  [MainServer] PassWord           (empty)  (default)\n"
         "  [MainServer] ClientCharset      GB18030  (default)\n"
         "  [MainServer] FileServerIP       (empty)  (default)\n"
         "  [VideoServer] KeepUnsentPlays   1  (default)\n"
         "  [VideoServer] RandPlayType      2  (default)\n"
         "  warning: FileServerIP is empty: play and fire-alarm URLs would "
         "name no server\n" +
         kSetWhole + kNoPlays + kRest},
    {"ByteOrderMark", Db::kUp, Set::kWhole, Outbox::kEmpty, Conf::kBom, 0,
     kServing + Settings() +
         "  warning: the file starts with a UTF-8 byte-order mark: read here, "
         "but the Windows library takes it for part of the first line, so its "
         "first section is not found there; save the file without it\n" +
         kMisspelt + kSetWhole + kNoPlays + kRest},
    {"EmptyFileServerIp", Db::kUp, Set::kWhole, Outbox::kEmpty,
     Conf::kNoFileServer, 0,
     kServing + Settings("(empty)", "karaok", "(empty)") +
         "  warning: FileServerIP is empty: play and fire-alarm URLs would "
         "name no server\n" +
         kMisspelt + kSetWhole + kNoPlays + kRest},
    {"PortOutOfRange", Db::kUp, Set::kWhole, Outbox::kEmpty,
     Conf::kPortOutOfRange, 1,
     Offline("is unreachable (127.0.0.1: " + RefusedText() + ")") +
         "database    127.0.0.1 (no DataBaseServerPort: the client library's "
         "default port) \"karaok\" as sa: unreachable: " +
         RefusedText() + "\n" + Settings() +
         "  warning: DataBaseServerPort 70000 is out of range (1-65535): the "
         "client library's default port is used\n" +
         kMisspelt + kSetWhole + kNoPlays + kRest},
    {"ReplacementInterrupted", Db::kDown, Set::kMidReplacement, Outbox::kEmpty,
     Conf::kPlain, 1,
     Offline(kUnreachable) + kDown + Settings() + kMisspelt + kSetWhole +
         "  a replacement was interrupted; the next start finishes it\n" +
         kNoPlays + kRest},
    {"PlaysSetAside", Db::kUp, Set::kWhole, Outbox::kSetAside, Conf::kPlain, 0,
     kServing + Settings() + kMisspelt + kSetWhole +
         "plays       none kept in the outbox\n"
         "  set aside 1 play\n"
         "    media 1201 in room 10.0.0.21, 2026-02-01 20:00:00 to 2026-02-01 "
         "21:09:00, song type 2\n"
         "  damaged bytes kept aside: none\n" +
         kRest},
};

INSTANTIATE_TEST_SUITE_P(States, StatusStateTest, ::testing::ValuesIn(kStates),
                         [](const auto& info) { return info.param.name; });

// Both line formats, and a repeat folded into a count, grouped by text and
// level in the order of their last appearance.
TEST(StatusLogTest, GroupsErrorLinesOfBothFormats) {
  ScratchDir scratch;
  const std::string log = scratch.File("rondel.log");
  std::ofstream(log)
      << "2026-12-08 05:08:46.169 login database server \"127.0.0.1\" error\n"
         "2026-12-08 05:08:46.171 Unable to connect\n"
         "2026-12-08 05:08:47.002 login database server \"127.0.0.1\" error\n"
         "2026-12-08 05:09:00.000 rondel[42]: notice: started from the "
         "snapshot set\n"
         "2026-12-08 05:09:01.500 rondel[42]: error: Unable to connect\n"
         "2026-12-08 05:10:01.500 rondel[42]: error: Unable to connect "
         "(repeated 1481 times)\n"
         "2026-12-08 05:10:02.000 rondel[42]: warning: database karaok "
         "stopped answering\n"
         "2026-12-08 05:10:03.000 rondel[42]: info: 3 kept plays delivered\n"
         "not a line of the log\n";
  const LogStatus status = ReadLogStatus(log, "--log");
  std::string problems;
  for (const LogLine& line : status.problems) {
    problems += line.level + " x" + std::to_string(line.count) + " " +
                line.first + " / " + line.last + " " + line.text + "\n";
  }
  EXPECT_EQ(
      "error x2 2026-12-08 05:08:46.169 / 2026-12-08 05:08:47.002 login "
      "database server \"127.0.0.1\" error\n"
      "error x1483 2026-12-08 05:08:46.171 / 2026-12-08 05:10:01.500 Unable "
      "to connect\n"
      "warning x1 2026-12-08 05:10:02.000 / 2026-12-08 05:10:02.000 database "
      "karaok stopped answering\n",
      problems);
  EXPECT_EQ("2026-12-08 05:09:00.000 started from the snapshot set",
            status.last_change);
}

}  // namespace
}  // namespace tools
}  // namespace rondel
