#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "../src/sqlite_handles.h"
#include "../src/store.h"
#include "../src/venue_shape.h"
#include "seed.h"
#include "seed_options.h"
#include "venue_seeder.h"

namespace venuedb {

namespace {

constexpr char kSeedHelp[] =
    "Creates the database FILE (schema and procedures) when it is new and\n"
    "fills it with a generated venue: media with their files, rooms, file\n"
    "servers in groups, play lists and queued selections. The same options\n"
    "give the same rows. Prints one line of what it wrote and how long it\n"
    "took.\n"
    "exit status: 0 seeded; 1 the database could not be made or written,\n"
    "named on standard error; 2 a usage error.\n";

}  // namespace

int SeedMain(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::printf("%s\n%s", SeedUsage(), kSeedHelp);
      return 0;
    }
    if (arg == "--version") {
      std::printf("venuedb %s\n", RONDEL_VERSION);
      return 0;
    }
  }
  SeedOptions options;
  std::string error;
  if (!ParseSeedOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "venuedb seed: %s\n%s", error.c_str(), SeedUsage());
    return 2;
  }
  VenueShape shape = VenueShape::kGbk;
  if (!ParseVenueShape(options.venue, &shape)) {
    std::fprintf(stderr, "venuedb seed: --venue \"%s\": not a shape (%s)\n%s",
                 options.venue.c_str(), VenueShapeNames(), SeedUsage());
    return 2;
  }
  const Collation* collation = options.collation_given
                                   ? FindCollation(options.collation)
                                   : &VenueShapeCollation(shape);
  if (collation == nullptr) {
    std::fprintf(stderr, "venuedb seed: --collation: %s (error %d)\n%s",
                 InvalidCollationMessage(options.collation).c_str(),
                 kInvalidCollationError, SeedUsage());
    return 2;
  }
  auto start = std::chrono::steady_clock::now();
  if (!InitVenueDatabase(options.db_path, shape, *collation, &error)) {
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
