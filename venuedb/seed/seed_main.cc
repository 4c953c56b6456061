#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "../src/sqlite_handles.h"
#include "../src/store.h"
#include "seed.h"
#include "seed_options.h"
#include "venue_seeder.h"

namespace venuedb {

int SeedMain(int argc, char** argv) {
  SeedOptions options;
  std::string error;
  if (!ParseSeedOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "venuedb seed: %s\n%s", error.c_str(), SeedUsage());
    return 2;
  }
  auto start = std::chrono::steady_clock::now();
  if (!InitDatabase(options.db_path, &error)) {
    std::fprintf(stderr, "venuedb seed: %s\n", error.c_str());
    return 1;
  }
  DbHandle db = OpenDatabase(options.db_path, &error);
  if (db == nullptr) {
    std::fprintf(stderr, "venuedb seed: %s\n", error.c_str());
    return 1;
  }
  SeedSummary summary;
  bool seeded = SeedVenue(db.get(), options, &summary, &error);
  db.reset();  // closed before the time is taken, as part of the seeding
  if (!seeded) {
    std::fprintf(stderr, "venuedb seed: %s\n", error.c_str());
    return 1;
  }
  std::chrono::duration<double> elapsed =
      std::chrono::steady_clock::now() - start;
  std::printf("%s\n",
              DescribeSeeding(options, summary, elapsed.count()).c_str());
  return 0;
}

}  // namespace venuedb
