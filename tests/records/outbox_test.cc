// The play outbox file: its bytes, and what a fresh outbox (the next process)
// reads back after torn or damaged writes, failed writes and cutting out sent
// plays.
#include "records/outbox.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

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
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

const size_t kEntry = PlayEntry(1).size();
const size_t kMagic = outbox::kMagicSize;

class OutboxDamageTest : public OutboxTest,
                         public ::testing::WithParamInterface<DamageCase> {};

TEST_P(OutboxDamageTest, ReadsUpToTheFirstBrokenEntryAndAppendsAfterIt) {
  Keep({1, 2, 3});
  WriteFileBytes(FilePath(), GetParam().damage(ReadFileBytes(FilePath())));
  Keep({4});
  EXPECT_EQ(KeptIds(), GetParam().kept);
}

std::string Flip(std::string file, size_t at) {
  file[at] = static_cast<char>(file[at] ^ 0x40);
  return file;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OutboxDamageTest,
    ::testing::Values(
        DamageCase{
            "Untouched", [](const std::string& f) { return f; }, {1, 2, 3, 4}},
        DamageCase{
            "LastBodyCutShort",
            [](const std::string& f) { return f.substr(0, f.size() - 3); },
            {1, 2, 4}},
        DamageCase{"LastHeaderCutShort",
                   [](const std::string& f) {
                     return f.substr(0, kMagic + 2 * kEntry + 5);
                   },
                   {1, 2, 4}},
        DamageCase{"LastBodyChanged",
                   [](const std::string& f) {
                     return Flip(f, kMagic + 2 * kEntry + 12);
                   },
                   {1, 2, 4}},
        DamageCase{
            "MiddleChecksumChanged",
            [](const std::string& f) { return Flip(f, kMagic + kEntry + 5); },
            {1, 4}},
        DamageCase{
            "ZeroBytesAfterTheEnd",
            [](const std::string& f) { return f + std::string(512, '\0'); },
            {1, 2, 3, 4}},
        DamageCase{"MarkOfPlaysNeverKept",
                   [](const std::string& f) {
                     std::string mark;
                     outbox::EncodeSentMark(9, &mark);
                     return f + mark;
                   },
                   {1, 2, 3, 4}},
        DamageCase{"MagicCutShort",
                   [](const std::string& f) { return f.substr(0, 5); },
                   {4}},
        DamageCase{"NotAnOutbox",
                   [](const std::string&) { return std::string(64, 'x'); },
                   {4}}),
    [](const ::testing::TestParamInfo<DamageCase>& info) {
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
