// Every system call of a round of outbox work fails in turn: keeping plays
// (appends, the file created anew), sending them (sent marks, cutting sent
// plays out of the file, removing the emptied file). Whatever call fails, the
// next process delivers every play whose Keep answered true exactly once
// over both processes, a play whose Keep answered false at most once, and
// nothing else. And when the power fails after any operation of that round,
// losing what was never flushed, no play whose Keep answered true is lost
// (a round of sends may go out again: at most once more).
#include <errno.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "crash_file_system.h"
#include "files.h"
#include "platform/syscall_test_hooks.h"
#include "records/outbox.h"
#include "records/outbox_format.h"
#include "scratch_dir.h"
#include "syscall_sweep.h"

namespace rondel {
namespace {

PlayRecord Play(int media_id) {
  return PlayRecord{media_id, 2, "10.0.0.9", "B", "E"};
}

// Sends up to `max` of the oldest plays, each noted as delivered.
void SendRound(PlayOutbox& outbox, size_t max, std::map<int, int>* delivered) {
  for (const PlayRecord& play : outbox.Oldest(max)) {
    ++(*delivered)[play.media_id];
    outbox.MarkSent();
  }
  outbox.EndSending();
}

TEST(OutboxSweepTest, EveryFailedCallKeepsEachPlayDeliveredOnce) {
  // Sent marks cut plays out of the file once two of them make up half.
  constexpr uint32_t kCompactAfter = 2;
  std::unique_ptr<testing::ScratchDir> dir;
  std::string directory;
  std::map<int, int> delivered;
  std::set<int> kept;    // Keep answered true
  std::set<int> unsure;  // Keep answered false
  auto keep = [&](PlayOutbox& outbox, int id) {
    (outbox.Keep(Play(id)) ? kept : unsure).insert(id);
  };
  const long points = testing::SweepFailures(
      [&] {
        platform::ResetSyscalls();
        dir = std::make_unique<testing::ScratchDir>();
        directory = dir->path() + "/";
        delivered.clear();
        kept.clear();
        unsure.clear();
        PlayOutbox earlier(directory, 100, kCompactAfter);
        for (int id = 1; id <= 6; ++id) keep(earlier, id);
        SendRound(earlier, 2, &delivered);
      },
      [&] {
        PlayOutbox outbox(directory, 100, kCompactAfter);
        keep(outbox, 7);
        keep(outbox, 8);
        SendRound(outbox, 3, &delivered);  // cuts the sent plays out
        keep(outbox, 9);
        SendRound(outbox, 50, &delivered);  // all sent: the file goes
        keep(outbox, 10);                   // and is created anew
        return unsure.empty();
      },
      [&](long, bool) {
        PlayOutbox next(directory, 100, kCompactAfter);
        while (next.Unsent() > 0) {
          const size_t before = next.Unsent();
          SendRound(next, 50, &delivered);
          ASSERT_LT(next.Unsent(), before);
        }
        std::map<int, int> once;
        for (int id : kept) once[id] = 1;
        std::map<int, int> unsure_delivered;
        for (int id : unsure) {
          if (delivered.count(id) != 0) unsure_delivered[id] = delivered[id];
        }
        std::map<int, int> expected = once;
        for (const auto& [id, times] : unsure_delivered) {
          EXPECT_EQ(times, 1) << "play " << id;
          expected[id] = times;
        }
        EXPECT_EQ(delivered, expected);
        // A file whose plays were all sent may stay until the next round.
        const std::string listing = testing::ListDirectory(dir->path());
        EXPECT_TRUE(listing.empty() || listing == "PlayRecords.outbox\n")
            << listing;
      });
  EXPECT_GT(points, 20);
  RecordProperty("failure_points", static_cast<int>(points));
}

TEST(OutboxSweepTest, PowerCutAfterEveryOperationLosesNoKeptPlay) {
  constexpr uint32_t kCompactAfter = 2;
  long cut_points = 0;
  for (long cut = 1;; ++cut) {
    SCOPED_TRACE(::testing::Message() << "power cut after operation " << cut);
    testing::ScratchDir dir;
    const std::string directory = dir.path() + "/";
    std::map<int, int> delivered;
    std::set<int> kept;
    auto keep = [&](PlayOutbox& outbox, int id) {
      if (outbox.Keep(Play(id))) kept.insert(id);
    };
    {
      PlayOutbox earlier(directory, 100, kCompactAfter);
      for (int id = 1; id <= 6; ++id) keep(earlier, id);
      SendRound(earlier, 2, &delivered);
    }
    bool cut_happened;
    {
      testing::CrashFileSystem disk(dir.path());
      disk.CutPowerAfter(cut);
      PlayOutbox outbox(directory, 100, kCompactAfter);
      keep(outbox, 7);
      keep(outbox, 8);
      SendRound(outbox, 3, &delivered);
      keep(outbox, 9);
      SendRound(outbox, 50, &delivered);
      keep(outbox, 10);
      cut_happened = disk.cut();
      disk.LoseUnsyncedData();
    }
    PlayOutbox next(directory, 100, kCompactAfter);
    while (next.Unsent() > 0) {
      const size_t before = next.Unsent();
      SendRound(next, 50, &delivered);
      ASSERT_LT(next.Unsent(), before);
    }
    for (int id : kept) {
      EXPECT_GE(delivered[id], 1) << "play " << id << " lost";
      EXPECT_LE(delivered[id], 2) << "play " << id;
    }
    for (const auto& [id, times] : delivered) {
      EXPECT_TRUE(id >= 1 && id <= 10) << "play " << id << " never kept";
    }
    if (!cut_happened) break;
    ++cut_points;
  }
  EXPECT_GT(cut_points, 20);
  RecordProperty("cut_points", static_cast<int>(cut_points));
}

TEST(OutboxSweepTest, PowerCutWhileSettingDamageAsideLosesNoIntactPlay) {
  long cut_points = 0;
  for (long cut = 1;; ++cut) {
    SCOPED_TRACE(::testing::Message() << "power cut after operation " << cut);
    testing::ScratchDir dir;
    const std::string directory = dir.path() + "/";
    const std::string path = dir.File(outbox::kFileName);
    {
      PlayOutbox earlier(directory, 100);
      for (int id = 1; id <= 5; ++id) ASSERT_TRUE(earlier.Keep(Play(id)));
    }
    std::string file = testing::ReadFileBytes(path);
    const size_t entry = (file.size() - outbox::kMagicSize) / 5;
    file[outbox::kMagicSize + entry + 12] ^= 0x40;  // inside play 2
    testing::WriteFileBytes(path, file);
    std::map<int, int> delivered;
    bool cut_happened;
    {
      testing::CrashFileSystem disk(dir.path());
      disk.CutPowerAfter(cut);
      PlayOutbox outbox(directory, 100);
      SendRound(outbox, 2, &delivered);
      cut_happened = disk.cut();
      disk.LoseUnsyncedData();
    }
    PlayOutbox next(directory, 100);
    while (next.Unsent() > 0) {
      const size_t before = next.Unsent();
      SendRound(next, 50, &delivered);
      ASSERT_LT(next.Unsent(), before);
    }
    for (int id : {1, 3, 4, 5}) {
      EXPECT_GE(delivered[id], 1) << "play " << id << " lost";
      EXPECT_LE(delivered[id], 2) << "play " << id;
    }
    EXPECT_EQ(delivered.count(2), 0u);
    if (!cut_happened) break;
    ++cut_points;
  }
  EXPECT_GT(cut_points, 5);
  RecordProperty("cut_points", static_cast<int>(cut_points));
}

// A drain in which the server refuses the odd plays: each is set aside, then
// marked; one that cannot be set aside ends the drain.
void DrainRefusingOdd(PlayOutbox& outbox, std::map<int, int>* delivered) {
  for (const PlayRecord& play : outbox.Oldest(50)) {
    if (play.media_id % 2 == 0) {
      ++(*delivered)[play.media_id];
      outbox.MarkSent();
    } else if (outbox.SetAside(play)) {
      outbox.MarkSetAside();
    } else {
      break;
    }
  }
  outbox.EndSending();
}

// The media ids of the whole entries of the rejected-plays file.
std::vector<int> SetAsideIds(const std::string& path) {
  const std::string file =
      testing::PathExists(path) ? testing::ReadFileBytes(path) : "";
  std::vector<int> ids;
  outbox::Entry entry;
  size_t size = 0;
  for (size_t at = outbox::kMagicSize;
       at < file.size() &&
       outbox::DecodeEntry(file.data() + at, file.size() - at, &entry, &size) ==
           outbox::Decoded::kWhole;
       at += size) {
    ids.push_back(entry.play.media_id);
  }
  return ids;
}

TEST(OutboxSweepTest, PowerCutWhileSettingAsideNeitherLosesNorDoublesAPlay) {
  long cut_points = 0;
  for (long cut = 1;; ++cut) {
    SCOPED_TRACE(::testing::Message() << "power cut after operation " << cut);
    testing::ScratchDir dir;
    const std::string directory = dir.path() + "/";
    {
      PlayOutbox earlier(directory, 100);
      for (int id = 1; id <= 6; ++id) ASSERT_TRUE(earlier.Keep(Play(id)));
    }
    std::map<int, int> delivered;
    bool cut_happened;
    {
      testing::CrashFileSystem disk(dir.path());
      disk.CutPowerAfter(cut);
      PlayOutbox outbox(directory, 100);
      DrainRefusingOdd(outbox, &delivered);
      cut_happened = disk.cut();
      disk.LoseUnsyncedData();
    }
    PlayOutbox next(directory, 100);
    while (next.Unsent() > 0) {
      const size_t before = next.Unsent();
      DrainRefusingOdd(next, &delivered);
      ASSERT_LT(next.Unsent(), before);
    }
    for (int id : {2, 4, 6}) {
      EXPECT_GE(delivered[id], 1) << "play " << id << " lost";
      EXPECT_LE(delivered[id], 2) << "play " << id;
    }
    EXPECT_EQ(SetAsideIds(dir.File(outbox::kRejectedFileName)),
              (std::vector<int>{1, 3, 5}));
    if (!cut_happened) break;
    ++cut_points;
  }
  EXPECT_GT(cut_points, 10);
  RecordProperty("cut_points", static_cast<int>(cut_points));
}

}  // namespace
}  // namespace rondel
