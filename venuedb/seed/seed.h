// "venuedb seed": creates a fresh venue database and fills it with a sample
// venue.
#ifndef VENUEDB_SEED_SEED_H_
#define VENUEDB_SEED_SEED_H_

namespace venuedb {

// Runs "venuedb seed --db FILE [options]"; argv[0] is "seed". Replaces FILE
// with a fresh database (system tables, venue schema, procedures, login sa),
// writes the venue into it deterministically and prints a one-line summary on
// stdout. Options and their defaults: SeedUsage() in seed_options.h, described
// in venuedb/SCHEMA.md. Returns 0 on success, 2 for bad arguments (with the
// usage on stderr), 1 when the database cannot be created or filled (with the
// reason on stderr).
int SeedMain(int argc, char** argv);

}  // namespace venuedb

#endif  // VENUEDB_SEED_SEED_H_
