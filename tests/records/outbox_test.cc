// The play outbox file: its bytes, and what a fresh outbox (the next process)
// reads back after torn or damaged writes, failed writes and cutting out sent
// plays; the rejected-plays file beside it after the same damage.
#include "records/outbox.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "captured_log.h"
#include "files.h"
#include "platform/file.h"
#ifndef _WIN32
#include "platform/syscall_test_hooks.h"
#endif
#include "records/outbox_format.h"
#include "scratch_dir.h"

namespace rondel {
namespace {

using testing::ReadFileBytes;
using testing::WriteFileBytes;

PlayRecord Play(int media_id) {
  return PlayRecord{media_id, 2, "10.0.0.9", "B", "E"};
}

std::string PlayEntry(int media_id) {
  std::string entry;
  outbox::EncodePlay(Play(media_id), &entry);
  return entry;
}

class OutboxTest : public ::testing::Test {
 protected:
  std::string Directory() const { return dir_.path() + "/"; }
  std::string FilePath() const { return dir_.File(outbox::kFileName); }
  // The media ids of the unsent plays, as a fresh outbox (the next process)
  // reads them.
  std::vector<int> KeptIds() const {
    PlayOutbox fresh(Directory(), 100);
    std::vector<int> ids;
    for (const PlayRecord& play : fresh.Oldest(100))
      ids.push_back(play.media_id);
    return ids;
  }
  void Keep(std::initializer_list<int> ids) {
    PlayOutbox outbox(Directory(), 100);
    for (int id : ids) ASSERT_TRUE(outbox.Keep(Play(id)));
  }

  testing::ScratchDir dir_;
};

TEST_F(OutboxTest, ChecksumIsCrc32) {
  EXPECT_EQ(outbox::Crc32("123456789", 9), 0xCBF43926u);
}

TEST_F(OutboxTest, FileHoldsMagicPlaysAndSentMarksByteForByte) {
  PlayOutbox outbox(Directory(), 100);
  PlayRecord play;
  play.media_id = 7;
  play.song_type = 2;
  play.room_address = "\xb7\xbf";  // code page 936 bytes, kept as they are
  play.begin_time = "B";
  play.end_time = "E";
  ASSERT_TRUE(outbox.Keep(play));
  ASSERT_TRUE(outbox.Keep(play));
  ASSERT_EQ(outbox.Oldest(1), std::vector<PlayRecord>{play});
  outbox.MarkSent();
  outbox.EndSending();
  const std::string kPlay(
      "\x10\x00\x00\x00\xab\x7b\x76\x57\x01\x07\x00\x00\x00\x02\x00\x00\x00"
      "\x02\xb7\xbf\x01\x42\x01\x45",
      24);
  const std::string kMarkOne(
      "\x05\x00\x00\x00\x18\xc3\x5e\x04\x02\x01\x00\x00\x00", 13);
  EXPECT_EQ(ReadFileBytes(FilePath()), "RNDLPLY1" + kPlay + kPlay + kMarkOne);
}

TEST_F(OutboxTest, TextsOfAnyLengthAreKeptWhole) {
  // 255 bytes still go in a play as today's files hold it (its bytes are
  // above); a longer text makes a long play.
  std::vector<PlayRecord> plays = {
      {1, 2, std::string(255, 'r'), "B", "E"},
      {2, 2, "10.0.0.9", std::string(256, 'b'), std::string(70000, 'e')}};
  {
    PlayOutbox outbox(Directory(), 100);
    for (const PlayRecord& play : plays) ASSERT_TRUE(outbox.Keep(play));
  }
  PlayOutbox fresh(Directory(), 100);
  EXPECT_EQ(fresh.Oldest(3), plays);
  EXPECT_EQ(ReadFileBytes(FilePath()).size(),
            8 + (8 + 12 + 255 + 2) + (8 + 21 + 8 + 256 + 70000));
}

struct DamageCase {
  const char* name;
  // Changes the bytes of a file holding plays 1, 2 and 3.
  std::string (*damage)(const std::string& file);
  std::vector<int> kept;  // after a fresh outbox kept play 4 behind them
  std::string aside;      // what the damage left in PlayRecords.outbox.damaged
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

const size_t kEntry = PlayEntry(1).size();
const size_t kMagic = outbox::kMagicSize;

class OutboxDamageTest : public OutboxTest,
                         public ::testing::WithParamInterface<DamageCase> {};

TEST_P(OutboxDamageTest, SkipsDamagedEntriesCutsATornTailAndAppendsAfterIt) {
  Keep({1, 2, 3});
  const std::string damaged = GetParam().damage(ReadFileBytes(FilePath()));
  WriteFileBytes(FilePath(), damaged);
  testing::CapturedLog log(dir_.File("module.log"));
  Keep({4});
  EXPECT_EQ(KeptIds(), GetParam().kept);
  const std::string aside = FilePath() + ".damaged";
  EXPECT_EQ(testing::PathExists(aside) ? ReadFileBytes(aside) : "(none)",
            GetParam().aside);
  EXPECT_EQ(log.CountContaining(outbox::kFileName + std::string(".damaged")),
            GetParam().aside == "(none)" ? 0 : 1);
}

std::string Flip(std::string file, size_t at) {
  file[at] = static_cast<char>(file[at] ^ 0x40);
  return file;
}

// The entry at `index` (0: play 1) of the undamaged file.
std::string EntryAt(int index) { return PlayEntry(index + 1); }

std::string Mark(uint32_t sent) {
  std::string mark;
  outbox::EncodeSentMark(sent, &mark);
  return mark;
}

const std::string kNone = "(none)";

INSTANTIATE_TEST_SUITE_P(
    Cases, OutboxDamageTest,
    ::testing::Values(
        DamageCase{"Untouched",
                   [](const std::string& f) { return f; },
                   {1, 2, 3, 4},
                   kNone},
        DamageCase{
            "LastBodyCutShort",
            [](const std::string& f) { return f.substr(0, f.size() - 3); },
            {1, 2, 4},
            kNone},
        DamageCase{"LastHeaderCutShort",
                   [](const std::string& f) {
                     return f.substr(0, kMagic + 2 * kEntry + 5);
                   },
                   {1, 2, 4},
                   kNone},
        DamageCase{"LastBodyChanged",
                   [](const std::string& f) {
                     return Flip(f, kMagic + 2 * kEntry + 12);
                   },
                   {1, 2, 4},
                   kNone},
        DamageCase{
            "MiddleChecksumChanged",
            [](const std::string& f) { return Flip(f, kMagic + kEntry + 5); },
            {1, 3, 4},
            Flip(EntryAt(1), 5)},
        DamageCase{
            "MiddleBodyChanged",
            [](const std::string& f) { return Flip(f, kMagic + kEntry + 14); },
            {1, 3, 4},
            Flip(EntryAt(1), 14)},
        DamageCase{"MiddleLengthTooLong",
                   [](const std::string& f) {
                     std::string d = f;
                     d[kMagic + kEntry] = 60;  // runs into play 3
                     return d;
                   },
                   {1, 3, 4},
                   [] {
                     std::string e = EntryAt(1);
                     e[0] = 60;
                     return e;
                   }()},
        DamageCase{"FirstTwoEntriesZeroed",
                   [](const std::string& f) {
                     return f.substr(0, kMagic) +
                            std::string(2 * kEntry, '\0') +
                            f.substr(kMagic + 2 * kEntry);
                   },
                   {3, 4},
                   std::string(2 * kEntry, '\0')},
        DamageCase{
            // Plays 1 and 2 were sent: the mark still counts the play that
            // cannot be read.
            "PlayBeforeASentMarkChanged",
            [](const std::string& f) { return Flip(f + Mark(2), kMagic + 14); },
            {3, 4},
            Flip(EntryAt(0), 14)},
        // Plays 1 and 2 go again rather than be lost.
        DamageCase{"SentMarkChanged",
                   [](const std::string& f) {
                     return Flip(f + Mark(2) + PlayEntry(9),
                                 kMagic + 3 * kEntry + 9);
                   },
                   {1, 2, 3, 9, 4},
                   Flip(Mark(2), 9)},
        DamageCase{
            "ZeroBytesAfterTheEnd",
            [](const std::string& f) { return f + std::string(512, '\0'); },
            {1, 2, 3, 4},
            kNone},
        DamageCase{"MarkOfPlaysNeverKept",
                   [](const std::string& f) { return f + Mark(9); },
                   {1, 2, 3, 4},
                   Mark(9)},
        DamageCase{"MagicCutShort",
                   [](const std::string& f) { return f.substr(0, 5); },
                   {4},
                   kNone},
        DamageCase{"NotAnOutbox",
                   [](const std::string&) { return std::string(64, 'x'); },
                   {4},
                   std::string(64, 'x')}),
    [](const ::testing::TestParamInfo<DamageCase>& info) {
      return std::string(info.param.name);
    });

// The rejected-plays file holds plays 1, 2 and 3 and is damaged; play 4 is
// set aside behind them.
struct RejectedCase {
  const char* name;
  std::string (*damage)(const std::string& file);
  std::string after;  // the file after play 4 was set aside
  std::string aside;  // the file moved out of the way, or "(none)"
};

void PrintTo(const RejectedCase& c, std::ostream* os) { *os << c.name; }

class RejectedDamageTest : public OutboxTest,
                           public ::testing::WithParamInterface<RejectedCase> {
};

const std::string kRejected =
    "RNDLREJ1" + PlayEntry(1) + PlayEntry(2) + PlayEntry(3);

TEST_P(RejectedDamageTest, KeepsEveryWholeEntryAndAppendsBehindThem) {
  const std::string path = dir_.File(outbox::kRejectedFileName);
  WriteFileBytes(path, GetParam().damage(kRejected));
  PlayOutbox outbox(Directory(), 100);
  EXPECT_TRUE(outbox.SetAside(Play(4)));
  EXPECT_EQ(ReadFileBytes(path), GetParam().after);
  const std::string moved = path + ".damaged";
  EXPECT_EQ(testing::PathExists(moved) ? ReadFileBytes(moved) : kNone,
            GetParam().aside);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RejectedDamageTest,
    ::testing::Values(
        RejectedCase{"Untouched", [](const std::string& f) { return f; },
                     kRejected + PlayEntry(4), kNone},
        RejectedCase{
            "MiddleEntryChanged",
            [](const std::string& f) { return Flip(f, kMagic + kEntry + 14); },
            Flip(kRejected, kMagic + kEntry + 14) + PlayEntry(4), kNone},
        RejectedCase{
            "LastEntryCutShort",
            [](const std::string& f) { return f.substr(0, f.size() - 3); },
            kRejected.substr(0, kMagic + 2 * kEntry) + PlayEntry(4), kNone},
        RejectedCase{"MagicCutShort",
                     [](const std::string&) { return std::string("RNDL"); },
                     "RNDLREJ1" + PlayEntry(4), kNone},
        RejectedCase{"NotARejectedFile",
                     [](const std::string& f) { return "RNDLPLY1" + f; },
                     "RNDLREJ1" + PlayEntry(4), "RNDLPLY1" + kRejected}),
    [](const ::testing::TestParamInfo<RejectedCase>& info) {
      return std::string(info.param.name);
    });

#ifndef _WIN32  // Linux only: failures injected through the system-call table
TEST_F(OutboxTest, FailedWriteLeavesNothingOfThePlay) {
  PlayOutbox outbox(Directory(), 100);
  ASSERT_TRUE(outbox.Keep(Play(1)));
  platform::SetWriteBudget(10);
  EXPECT_FALSE(outbox.Keep(Play(2)));
  platform::SetWriteBudget(-1);
  ASSERT_TRUE(outbox.Keep(Play(3)));
  EXPECT_EQ(KeptIds(), (std::vector<int>{1, 3}));
}

// Bytes delivered by pread since the counting began.
long long g_bytes_read = 0;

ssize_t CountingPRead(int fd, void* data, size_t length, off_t offset) {
  const ssize_t got =
      platform::SystemSyscalls().pread(fd, data, length, offset);
  if (got > 0) g_bytes_read += got;
  return got;
}

// The outbox the replacement of which is refused, as on a system where
// another program holds it open.
std::string g_held_outbox;

int RenameRefusedOverHeldOutbox(const char* from, const char* to) {
  if (g_held_outbox == to) {
    errno = EACCES;
    return -1;
  }
  return platform::SystemSyscalls().rename(from, to);
}

TEST_F(OutboxTest, DamagedOutboxThatCannotBeRewrittenKeepsPlaysBehindIt) {
  Keep({1, 2, 3});
  WriteFileBytes(FilePath(),
                 Flip(ReadFileBytes(FilePath()), kMagic + kEntry + 14));
  g_held_outbox = FilePath();
  platform::SyscallFunctions refusing;
  refusing.rename = RenameRefusedOverHeldOutbox;
  platform::ReplaceSyscalls(refusing);
  std::vector<bool> kept;
  std::vector<int> sent;
  {
    PlayOutbox outbox(Directory(), 100);
    for (int id = 4; id <= 6; ++id) kept.push_back(outbox.Keep(Play(id)));
    for (const PlayRecord& play : outbox.Oldest(2)) {
      sent.push_back(play.media_id);
      outbox.MarkSent();
    }
    outbox.EndSending();  // the rewrite is refused again
  }
  platform::ResetSyscalls();
  const std::string aside = ReadFileBytes(FilePath() + ".damaged");
  PlayOutbox next(Directory(), 100);  // its marks read as they were meant
  std::vector<int> unsent;
  for (const PlayRecord& play : next.Oldest(10))
    unsent.push_back(play.media_id);
  EXPECT_EQ(kept, std::vector<bool>(3, true));
  EXPECT_EQ(sent, (std::vector<int>{1, 3}));
  EXPECT_EQ(aside, Flip(EntryAt(1), 14));  // once, however many tries
  EXPECT_EQ(unsent, (std::vector<int>{4, 5, 6}));
  EXPECT_EQ(ReadFileBytes(FilePath()),
            "RNDLPLY1" + PlayEntry(4) + PlayEntry(5) + PlayEntry(6));
}

TEST_F(OutboxTest, SettingAsideReadsOnlyTheEndOfTheRejectedFile) {
  const std::string path = dir_.File(outbox::kRejectedFileName);
  std::string file = "RNDLREJ1", added;
  for (int id = 0; file.size() < (4 << 20); ++id) file += PlayEntry(id);
  WriteFileBytes(path, file);
  platform::SyscallFunctions counting;
  counting.pread = CountingPRead;
  platform::ReplaceSyscalls(counting);
  g_bytes_read = 0;
  PlayOutbox outbox(Directory(), 100);
  for (int id = 1; id <= 10; ++id) {
    ASSERT_TRUE(outbox.SetAside(Play(id)));
    added += PlayEntry(id);
  }
  platform::ResetSyscalls();
  EXPECT_LT(g_bytes_read, 256 * 1024);
  EXPECT_EQ(ReadFileBytes(path), file + added);
}

#endif  // _WIN32

TEST_F(OutboxTest, SentPlaysAreCutOutThenTheEmptiedFileRemoved) {
  PlayOutbox outbox(Directory(), 100, /*compact_after=*/4);
  for (int id = 1; id <= 10; ++id) ASSERT_TRUE(outbox.Keep(Play(id)));
  ASSERT_EQ(outbox.Oldest(6).size(), 6u);
  for (int i = 0; i < 6; ++i) outbox.MarkSent();
  outbox.EndSending();
  EXPECT_EQ(
      ReadFileBytes(FilePath()),
      "RNDLPLY1" + PlayEntry(7) + PlayEntry(8) + PlayEntry(9) + PlayEntry(10));
  ASSERT_TRUE(outbox.Keep(Play(11)));
  EXPECT_EQ(KeptIds(), (std::vector<int>{7, 8, 9, 10, 11}));
  ASSERT_EQ(outbox.Oldest(10).size(), 5u);
  for (int i = 0; i < 5; ++i) outbox.MarkSent();
  outbox.EndSending();
  EXPECT_FALSE(testing::PathExists(FilePath()));
}

}  // namespace
}  // namespace rondel
