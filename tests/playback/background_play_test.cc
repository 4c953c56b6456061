// Background play as the host calls it: every play type on one small
// catalogue, play-list counting and room cursors, the "no media" answers, and
// many threads on one room or one uncounted list. The clock is fixed, so every
// random pick is known: the first draws after seeding with the seconds used
// here are 28462 (T0), 28469 (T2), 28475 (T4) and 28479 (T5).
//
// Each test case runs in its own process, so cursors and found counts start
// fresh in each.
#include "playback/background_play.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/class_index.h"
#include "catalogue/tables.h"
#include "catalogue_records.h"
#include "platform/clock_test_hooks.h"
#include "rondel.h"

namespace rondel {
namespace {

using testing::AddMedia;
using testing::AddRoom;

constexpr int64_t kT0 = 1700000000;
constexpr const char* kRoomA = "10.0.0.1";
constexpr const char* kRoomB = "10.0.0.2";

template <int kCapacity>
void FillList(PlayList<kCapacity>& list, const std::vector<int32_t>& ids,
              int32_t stored_count) {
  for (size_t i = 0; i < ids.size(); ++i) list.entries[i] = ids[i];
  list.count = stored_count;
}

std::vector<int32_t> Ids(int32_t first, int32_t n) {
  std::vector<int32_t> ids;
  for (int32_t i = 0; i < n; ++i) ids.push_back(first + i);
  return ids;
}

// Films 101..104, songs 201..205, ads 301..303; Prefix86List 202, 204; play
// lists stored uncounted (All 4, Month 2, User 6 entries) or counted (Week 3,
// New 5). Rooms A and B with fresh cursors.
class BackgroundPlayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetCatalogue();
    for (int32_t id : Ids(101, 4)) AddMedia(id, kFilm);
    for (int32_t id : Ids(201, 5)) AddMedia(id, kSong);
    for (int32_t id : Ids(301, 3)) AddMedia(id, kAd);
    BuildClassIndexes();
    Catalogue& c = g_catalogue;
    FillList(c.prefix86_list, {202, 204}, 2);
    FillList(c.all_sequence, Ids(501, 4), 0);
    FillList(c.week_sequence, Ids(601, 3), 3);
    FillList(c.month_sequence, Ids(701, 2), 0);
    FillList(c.new_sequence, Ids(801, 5), 5);
    FillList(c.user_sequence, Ids(901, 6), 0);
    AddRoom(1, "room a", kRoomA);
    AddRoom(2, "room b", kRoomB);
  }
  void TearDown() override { platform::ClearClockOverride(); }

  // One call per address, the clock fixed at the matching second.
  static std::vector<int32_t> Calls(const std::vector<const char*>& addresses,
                                    const std::vector<int64_t>& seconds) {
    std::vector<int32_t> ids;
    for (size_t i = 0; i < addresses.size(); ++i) {
      platform::OverrideClock(0, seconds[i]);
      ids.push_back(GetRandPlayMediaID(addresses[i]));
    }
    return ids;
  }
};

struct PlayTypeCase {
  int32_t play_type;
  std::vector<int32_t> expected;
};

void PrintTo(const PlayTypeCase& c, std::ostream* os) {
  *os << "type " << c.play_type;
}

class PlayTypeTest : public BackgroundPlayTest,
                     public ::testing::WithParamInterface<PlayTypeCase> {};

// Four calls for room A at T0, T0, T2, T4, then one for room B at T5: random
// types pick entry (draw mod count), the same one twice within a second;
// sequential types walk room A from the first entry, and room B starts its own
// walk.
TEST_P(PlayTypeTest, AnswersItsSourceInItsManner) {
  g_play_type = GetParam().play_type;
  EXPECT_EQ(Calls({kRoomA, kRoomA, kRoomA, kRoomA, kRoomB},
                  {kT0, kT0, kT0 + 2, kT0 + 4, kT0 + 5}),
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    EveryPlayType, PlayTypeTest,
    ::testing::Values(PlayTypeCase{0, {302, 302, 303, 303, 301}},
                      PlayTypeCase{1, {103, 103, 102, 104, 104}},
                      PlayTypeCase{2, {203, 203, 205, 201, 205}},
                      PlayTypeCase{3, {202, 202, 204, 204, 204}},
                      PlayTypeCase{4, {301, 302, 303, 301, 301}},
                      PlayTypeCase{5, {501, 502, 503, 504, 501}},
                      PlayTypeCase{6, {503, 503, 502, 504, 504}},
                      PlayTypeCase{7, {601, 602, 603, 601, 601}},
                      PlayTypeCase{8, {602, 602, 603, 603, 601}},
                      PlayTypeCase{9, {701, 702, 701, 702, 701}},
                      PlayTypeCase{10, {701, 701, 702, 702, 702}},
                      PlayTypeCase{11, {801, 802, 803, 804, 801}},
                      PlayTypeCase{12, {803, 803, 805, 801, 805}},
                      PlayTypeCase{13, {901, 902, 903, 904, 901}},
                      PlayTypeCase{14, {905, 905, 906, 906, 904}}),
    [](const ::testing::TestParamInfo<PlayTypeCase>& info) {
      return "Type" + std::to_string(info.param.play_type);
    });

struct WeekListCase {
  const char* name;
  std::vector<int32_t> entries;
  int32_t stored_count;
  int32_t room_cursor;  // as a snapshot left it
  std::vector<int32_t> expected;
};

void PrintTo(const WeekListCase& c, std::ostream* os) { *os << c.name; }

class WeekListTest : public BackgroundPlayTest,
                     public ::testing::WithParamInterface<WeekListCase> {};

// Sequential WeekSequence calls for one room, after the list and the room's
// cursor are set as the case says.
TEST_P(WeekListTest, WalksTheCountedList) {
  const WeekListCase& c = GetParam();
  FillList(g_catalogue.week_sequence, c.entries, c.stored_count);
  g_catalogue.rooms[0].PlayCursor = c.room_cursor;
  g_play_type = 7;
  const std::vector<const char*> rooms(c.expected.size(), kRoomA);
  EXPECT_EQ(Calls(rooms, std::vector<int64_t>(rooms.size(), kT0)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    CountsAndCursors, WeekListTest,
    ::testing::Values(
        WeekListCase{
            "UncountedEndsAtFirstZero", {7, 9, 0, 4}, 0, -1, {7, 9, 7}},
        WeekListCase{
            "StoredCountUsedAsItStands", {7, 9, 0, 4}, 4, -1, {7, 9, 0, 4, 7}},
        WeekListCase{"FullListCountsAll200", Ids(1, 200), 0, 198, {200, 1}},
        WeekListCase{
            "CursorOfALongerListWraps", Ids(11, 20), 20, 150, {11, 12}},
        WeekListCase{"SnapshotCursorResumes", Ids(11, 20), 20, 4, {16, 17}},
        WeekListCase{
            "CursorBelowMinusOneStartsOver", Ids(11, 20), 20, -7, {11, 12}}),
    [](const ::testing::TestParamInfo<WeekListCase>& info) {
      return std::string(info.param.name);
    });

struct NoMediaCase {
  const char* name;
  int32_t play_type;
  const char* address;
  void (*change)();
};

void PrintTo(const NoMediaCase& c, std::ostream* os) { *os << c.name; }

class NoMediaTest : public BackgroundPlayTest,
                    public ::testing::WithParamInterface<NoMediaCase> {};

TEST_P(NoMediaTest, AnswersMinusOne) {
  GetParam().change();
  g_play_type = GetParam().play_type;
  EXPECT_EQ(GetRandPlayMediaID(GetParam().address), -1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NoMediaTest,
    ::testing::Values(
        NoMediaCase{"NullAddress", 13, nullptr, [] {}},
        NoMediaCase{"EmptyAddress", 13, "", [] {}},
        NoMediaCase{"UnknownRoom", 13, "10.0.0.9", [] {}},
        NoMediaCase{"NoRooms", 13, kRoomA,
                    [] { g_catalogue.table_records.RoomCount = 0; }},
        NoMediaCase{"EmptyAdIndex", 4, kRoomA,
                    [] { g_catalogue.table_records.AdCount = 0; }},
        NoMediaCase{"EmptyPrefix86List", 3, kRoomA,
                    [] { g_catalogue.prefix86_list.count = 0; }},
        NoMediaCase{"PlayType15", 15, kRoomA, [] {}},
        NoMediaCase{"PlayTypeMinus1", -1, kRoomA, [] {}}),
    [](const ::testing::TestParamInfo<NoMediaCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(BackgroundPlayTest, FailedCallsMoveNoCursor) {
  g_play_type = 13;
  EXPECT_EQ(Calls({nullptr, "", "10.0.0.9", kRoomA}, {kT0, kT0, kT0, kT0}),
            (std::vector<int32_t>{-1, -1, -1, 901}));
}

TEST_F(BackgroundPlayTest, RandomTypesIgnoreTheAddress) {
  g_play_type = 2;
  EXPECT_EQ(Calls({nullptr, "", "10.0.0.9"}, {kT0, kT0, kT0}),
            (std::vector<int32_t>{203, 203, 203}));
}

TEST_F(BackgroundPlayTest, EmptyListIsCountedAgainAtTheNextCall) {
  FillList(g_catalogue.week_sequence, {0, 0, 0}, 0);
  g_play_type = 8;
  EXPECT_EQ(GetRandPlayMediaID(nullptr), -1);
  g_catalogue.week_sequence.entries[0] = 5;
  EXPECT_EQ(GetRandPlayMediaID(nullptr), 5);
}

constexpr int kThreads = 8;

// Runs `body(thread)` on kThreads threads released together.
template <typename Body>
void RunTogether(Body body) {
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&go, &body, t] {
      while (!go.load()) std::this_thread::yield();
      body(t);
    });
  }
  go.store(true);
  for (std::thread& thread : threads) thread.join();
}

// NewSequence (801..805) from a snapshot cursor of 2: the calls of all threads
// together answer the list's next entries from entry 3 on, each exactly as
// often as one thread calling as many times would get it, and the cursor ends
// exactly that many steps on.
TEST_F(BackgroundPlayTest, ThreadsOnOneRoomStepItsCursorOncePerCall) {
  constexpr int kCallsEach = 999;
  g_catalogue.rooms[0].PlayCursor = 2;
  g_play_type = 11;
  std::vector<std::map<int32_t, int>> tallies(kThreads);
  RunTogether([&tallies](int t) {
    for (int i = 0; i < kCallsEach; ++i)
      ++tallies[t][GetRandPlayMediaID(kRoomA)];
  });
  std::map<int32_t, int> all, expected;
  for (const auto& tally : tallies)
    for (const auto& [id, n] : tally) all[id] += n;
  for (int k = 0; k < kThreads * kCallsEach; ++k) ++expected[801 + (3 + k) % 5];
  EXPECT_EQ(all, expected);
  EXPECT_EQ(GetRandPlayMediaID(kRoomA), 801 + (3 + kThreads * kCallsEach) % 5);
}

// Eight rooms ask at once for AllSequence, stored uncounted: each room walks
// the four entries, and the count found is kept, so a zero put into the list
// afterwards is answered at its turn instead of ending the list.
TEST_F(BackgroundPlayTest, ConcurrentFirstCallsCountAListOnce) {
  std::vector<std::string> addresses;
  for (int t = 0; t < kThreads; ++t) {
    addresses.push_back("10.0.1." + std::to_string(t));
    AddRoom(10 + t, "", addresses.back());
  }
  g_play_type = 5;
  std::vector<std::vector<int32_t>> walks(kThreads);
  RunTogether([&](int t) {
    for (int i = 0; i < 6; ++i)
      walks[t].push_back(GetRandPlayMediaID(addresses[t].c_str()));
  });
  EXPECT_EQ(walks, std::vector<std::vector<int32_t>>(
                       kThreads, {501, 502, 503, 504, 501, 502}));
  g_catalogue.all_sequence.entries[2] = 0;
  EXPECT_EQ(GetRandPlayMediaID(addresses[0].c_str()), 0);
}

}  // namespace
}  // namespace rondel
