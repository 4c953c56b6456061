// background_play_bench: GetRandPlayMediaID for a sequential type (a room
// walking a play list) and a random type (a song pick), one thread, against
// the parts each call cannot avoid, measured in the same run: the room lookup
// alone (FindRoom) and the calendar clock alone (CalendarSeconds). Also the
// sequential call from eight threads on one room, where every call contends
// for the same cursor. Links the core and fills the catalogue by hand, as
// start-up would: 512 rooms, 200 entries in WeekSequence and 50,000 songs.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <string>

#include "catalogue/class_index.h"
#include "catalogue/media_index.h"
#include "catalogue/tables.h"
#include "platform/clock.h"
#include "playback/lookups.h"
#include "rondel.h"

namespace {

constexpr int kRooms = 512;
constexpr int kSongs = 50000;

void FillCatalogue() {
  rondel::Catalogue& c = rondel::g_catalogue;
  for (int i = 0; i < kRooms; ++i) {
    rondel::RoomRecord& r = c.rooms[i];
    r.RoomId = i + 1;
    std::snprintf(r.RoomAddress, sizeof r.RoomAddress, "10.0.%d.%d",
                  (i + 1) / 256, (i + 1) % 256);
    r.PlayCursor = -1;
  }
  c.table_records.RoomCount = kRooms;
  for (int i = 0; i < kSongs; ++i) {
    c.medias[i].MediaId = 1000000 + i;
    c.medias[i].Class = rondel::kSong;
  }
  rondel::NoteMediasWritten(kSongs);
  c.table_records.MediaCount = kSongs;
  rondel::BuildClassIndexes();
  rondel::RebuildLookupIndexes();  // as start-up does last
  for (int i = 0; i < rondel::kSequenceCapacity; ++i)
    c.week_sequence.entries[i] = 5000 + i;
  c.week_sequence.count = rondel::kSequenceCapacity;
}

// The rooms asked for: the first of the table and the 64th (the room lookup
// goes through the address index, so the place in the table should not show).
constexpr const char* kFirstRoom = "10.0.0.1";
constexpr const char* kRoom64 = "10.0.0.64";

void BM_Sequential(benchmark::State& state, const char* room) {
  rondel::g_play_type = 7;
  for (auto _ : state) {
    int id = GetRandPlayMediaID(room);
    benchmark::DoNotOptimize(id);
    if (id < 5000) state.SkipWithError("no media");
  }
}

void BM_Random(benchmark::State& state) {
  rondel::g_play_type = 2;
  for (auto _ : state) {
    int id = GetRandPlayMediaID(kFirstRoom);
    benchmark::DoNotOptimize(id);
    if (id < 1000000) state.SkipWithError("no media");
  }
}

void BM_FindRoom(benchmark::State& state, const char* room) {
  for (auto _ : state) {
    const rondel::RoomRecord* found = rondel::FindRoom(room);
    benchmark::DoNotOptimize(found);
    if (found == nullptr) state.SkipWithError("no room");
  }
}

void BM_CalendarSeconds(benchmark::State& state) {
  for (auto _ : state) {
    int64_t seconds = rondel::platform::CalendarSeconds();
    benchmark::DoNotOptimize(seconds);
  }
}

BENCHMARK_CAPTURE(BM_Sequential, room1, kFirstRoom);
BENCHMARK_CAPTURE(BM_FindRoom, room1, kFirstRoom);
BENCHMARK_CAPTURE(BM_Sequential, room64, kRoom64);
BENCHMARK_CAPTURE(BM_FindRoom, room64, kRoom64);
BENCHMARK(BM_Random);
BENCHMARK(BM_CalendarSeconds);
BENCHMARK_CAPTURE(BM_Sequential, room1_8_threads, kFirstRoom)
    ->Threads(8)
    ->UseRealTime();

// Keeps the console report and remembers each run's time per call in
// nanoseconds, by the run's name up to its first '/' after the function's.
// For the threaded run, real time per iteration is the wall time over the
// calls of all threads: the process's throughput on one room, not one call's
// latency.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter()
      : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      std::string name = run.benchmark_name();
      name = name.substr(0, name.find('/', name.find('/') + 1));
      nanoseconds[name] =
          run.GetAdjustedRealTime() *
          benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
          benchmark::GetTimeUnitMultiplier(run.time_unit);
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> nanoseconds;
};

void PrintRow(const char* what, double call, const char* baseline_name,
              double baseline) {
  std::printf("%-26s %8.1f ns  %-20s %8.1f ns %8.2f\n", what, call,
              baseline_name, baseline, baseline > 0 ? call / baseline : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  FillCatalogue();
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::cout.flush();  // the reporter writes through std::cout, the table below
                      // through stdio
  std::map<std::string, double>& ns = reporter.nanoseconds;
  std::printf(
      "\nGetRandPlayMediaID, time per call (%d rooms; target < 50 ns)\n",
      kRooms);
  std::printf("%-26s %11s  %-20s %11s %8s\n", "call", "time", "baseline",
              "time", "ratio");
  PrintRow("7 sequential, room 1", ns["BM_Sequential/room1"], "FindRoom room 1",
           ns["BM_FindRoom/room1"]);
  PrintRow("7 sequential, room 64", ns["BM_Sequential/room64"],
           "FindRoom room 64", ns["BM_FindRoom/room64"]);
  PrintRow("2 random", ns["BM_Random"], "CalendarSeconds",
           ns["BM_CalendarSeconds"]);
  PrintRow("7 sequential, 8 threads", ns["BM_Sequential/room1_8_threads"],
           "1 thread", ns["BM_Sequential/room1"]);
  std::printf(
      "(8 threads on room 1: wall time over all threads' calls, one cursor)\n");
  std::fflush(stdout);
  benchmark::Shutdown();
  return 0;
}
