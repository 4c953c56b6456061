// Writes a sample venue into a database that holds the venue schema and no
// venue rows.
#ifndef VENUEDB_SEED_VENUE_SEEDER_H_
#define VENUEDB_SEED_VENUE_SEEDER_H_

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "seed_options.h"

namespace venuedb {

// What one seeding wrote.
struct SeedSummary {
  int medias = 0;
  int songs = 0;
  int films = 0;
  int ads = 0;
  int enabled_ads = 0;  // advertisements rows with is_enabled 1
  int64_t files = 0;    // media_files rows, all groups
  int rooms = 0;
  int file_servers = 0;
  int groups = 0;
  int selections = 0;  // queued room selections
  int chart_rows = 0;  // rows of each of the four ranked lists
  int user_playlist = 0;
  int fire_alerts = 0;  // enabled fire-alarm entries
  int trade_logs = 0;   // closed and open
};

// Fills every venue table of db from options (db_path is not used),
// deterministically: the same options give the same rows, byte for byte. Runs
// in one transaction, rolled back on failure. REQUIRES: db holds schema.sql and
// its venue tables are empty. Returns false with a message in *error.
bool SeedVenue(sqlite3* db, const SeedOptions& options, SeedSummary* summary,
               std::string* error);

// The one-line account of a seeding that "venuedb seed" prints.
std::string DescribeSeeding(const SeedOptions& options,
                            const SeedSummary& summary, double seconds);

}  // namespace venuedb

#endif  // VENUEDB_SEED_VENUE_SEEDER_H_
