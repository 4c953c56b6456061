// The steps of one seeding and what they hand on to each other. Each step
// writes its tables with prepared statements inside the transaction SeedVenue
// holds, and draws from a generator of its own, so that the size of one part of
// the venue does not change the contents of another.
#ifndef VENUEDB_SEED_SEED_STEPS_H_
#define VENUEDB_SEED_SEED_STEPS_H_

#include <sqlite3.h>

#include <string>
#include <vector>

#include "seed_options.h"
#include "venue_seeder.h"

namespace venuedb {

struct SeedContext {
  sqlite3* db = nullptr;
  SeedOptions options;
  SeedSummary summary;
  // Written by SeedRegistry: room addresses by room id - 1.
  std::vector<std::string> room_addresses;
  // Written by SeedMedia: media ids by class, in id order; the songs and
  // films that have files in group 1 (the group of the local file server, so
  // the catalogue a video server on this machine serves), and of those the
  // songs.
  std::vector<int> song_ids;
  std::vector<int> film_ids;
  std::vector<int> ad_ids;
  std::vector<int> group_one_playable;
  std::vector<int> group_one_songs;
};

// Server groups, file servers, connection counts, rooms, configures and the
// fire alarm.
bool SeedRegistry(SeedContext* context, std::string* error);
// Languages, media, their files and the advertisements.
bool SeedMedia(SeedContext* context, std::string* error);
// Ranked lists and the user play list (of group 1's media: the play lists a
// video server on this machine loads name only media its catalogue holds),
// queued room selections, authorizations and trade logs.
// REQUIRES: SeedRegistry and SeedMedia ran.
bool SeedPlayLists(SeedContext* context, std::string* error);

// "YYYY-MM-DD" of the day `days` after 2018-01-01.
std::string DateText(int days);

}  // namespace venuedb

#endif  // VENUEDB_SEED_SEED_STEPS_H_
