// lookup_bench: GetMediaInfo's lookup over a full catalogue of 100,000 media
// against the plain first-match scan of the media table, measured in the same
// run and reported as ratios. Links the core directly and fills the catalogue
// by hand, as start-up would.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <string>

#include "catalogue/media_index.h"
#include "catalogue/tables.h"
#include "playback/lookups.h"

namespace {

constexpr int kMedias = 100000;
constexpr int32_t kLastId =
    100000 * 7;  // ids are 7, 14, ...: the last record's id
constexpr int32_t kMissingId = 123457;  // not a multiple of 7: never found

void FillCatalogue() {
  rondel::Catalogue& c = rondel::g_catalogue;
  for (int i = 0; i < kMedias; ++i) {
    rondel::MediaRecord& m = c.medias[i];
    m.MediaId = (i + 1) * 7;
    std::snprintf(m.MediaName, sizeof(m.MediaName), "media %d", i + 1);
    std::snprintf(m.MediaCode, sizeof(m.MediaCode), "%07d", 1000000 + i);
    m.Class = rondel::kSong;
    m.GroupId = 1;
    std::snprintf(m.FileList, sizeof(m.FileList), "/media/%d.mpg", i + 1);
  }
  rondel::NoteMediasWritten(kMedias);
  c.table_records.MediaCount = kMedias;
  rondel::RebuildLookupIndexes();
}

// The outputs GetMediaInfo copies, as a host passes them.
struct Outputs {
  char name[100];
  char code[10];
  int media_class;
  char text_a[20];
  char text_b[20];
  int number_a, number_b, number_c, group_id;
};

// The baseline: the first record with the id, found by walking the table in
// order, with the same copies into the outputs.
bool ScanMediaInfo(int32_t media_id, Outputs* out) {
  const rondel::Catalogue& c = rondel::g_catalogue;
  const int count = c.table_records.MediaCount;
  for (int i = 0; i < count; ++i) {
    const rondel::MediaRecord& m = c.medias[i];
    int32_t id;
    std::memcpy(&id, &m.MediaId, sizeof(id));
    if (id != media_id) continue;
    std::memcpy(out->name, m.MediaName, sizeof(out->name));
    std::memcpy(out->code, m.MediaCode, sizeof(out->code));
    std::memcpy(&out->media_class, &m.Class, 4);
    std::memcpy(out->text_a, m.TextA, sizeof(out->text_a));
    std::memcpy(out->text_b, m.TextB, sizeof(out->text_b));
    std::memcpy(&out->number_a, &m.NumberA, 4);
    std::memcpy(&out->number_b, &m.NumberB, 4);
    std::memcpy(&out->number_c, &m.NumberC, 4);
    std::memcpy(&out->group_id, &m.GroupId, 4);
    return true;
  }
  return false;
}

bool LibraryMediaInfo(int32_t media_id, Outputs* out) {
  return rondel::LookUpMediaInfo(media_id, out->name, out->code,
                                 &out->media_class, out->text_a, out->text_b,
                                 &out->number_a, &out->number_b, &out->number_c,
                                 &out->group_id);
}

template <bool (*Lookup)(int32_t, Outputs*)>
void BM_MediaInfo(benchmark::State& state) {
  const int32_t id = static_cast<int32_t>(state.range(0));
  const bool expected = id == kLastId;
  Outputs out;
  for (auto _ : state) {
    bool found = Lookup(id, &out);
    benchmark::DoNotOptimize(found);
    benchmark::DoNotOptimize(out);
    if (found != expected) state.SkipWithError("wrong answer");
  }
}

BENCHMARK_TEMPLATE(BM_MediaInfo, LibraryMediaInfo)
    ->Name("library/last")
    ->Arg(kLastId);
BENCHMARK_TEMPLATE(BM_MediaInfo, LibraryMediaInfo)
    ->Name("library/missing")
    ->Arg(kMissingId);
BENCHMARK_TEMPLATE(BM_MediaInfo, ScanMediaInfo)
    ->Name("scan/last")
    ->Arg(kLastId);
BENCHMARK_TEMPLATE(BM_MediaInfo, ScanMediaInfo)
    ->Name("scan/missing")
    ->Arg(kMissingId);

// Keeps the console report and remembers each run's time per lookup in
// nanoseconds.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal, so that saved output stays plain text.
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

}  // namespace

int main(int argc, char** argv) {
  FillCatalogue();
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::cout.flush();  // the reporter writes through std::cout, the table below
                      // through stdio
  std::printf("\nGetMediaInfo over %d media, time per lookup\n", kMedias);
  std::printf("%-14s %14s %14s %10s %10s\n", "media", "rondel", "plain scan",
              "scan/rondel", "target");
  for (const char* which : {"last", "missing"}) {
    double library = reporter.nanoseconds[std::string("library/") + which];
    double scan = reporter.nanoseconds[std::string("scan/") + which];
    std::printf("%-14s %11.1f ns %11.1f ns %10.0fx %10s\n", which, library,
                scan, library > 0 ? scan / library : 0.0, "<= 1000 ns");
  }
  std::fflush(stdout);
  benchmark::Shutdown();
  return 0;
}
