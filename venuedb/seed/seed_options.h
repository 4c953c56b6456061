// Options of "venuedb seed": how large a venue to write and where.
#ifndef VENUEDB_SEED_SEED_OPTIONS_H_
#define VENUEDB_SEED_SEED_OPTIONS_H_

#include <string>

namespace venuedb {

struct SeedOptions {
  std::string db_path;      // --db FILE (required)
  int medias = 2000;        // --medias N, 0..100000
  int files_per_media = 3;  // --files-per-media K, 1..16
  bool vary_files = false;  // --vary-files: 1..K files per media
  int rooms = 64;           // --rooms N, 0..512
  int file_servers = 4;     // --file-servers N, 1..20
  int groups = 2;           // --groups G, 1..20
  int user_playlist = 200;  // --user-playlist N, 0..100000
  int playlist_rows = 200;  // --playlist-rows N per chart, 0..100000
  std::string local_address =
      "127.0.0.1";    // --local-address A: file server 1 of group 1
  int play_type = 2;  // --play-type T: Configure_Set01 of Configure_ID 1
  int queued = 3;     // --queued N: a queuing room has 1..N selections, 0..50
  // --collation NAME: the database's default collation, checked by
  // InitDatabase's caller against the server's table (collation.h).
  std::string collation = "Chinese_PRC_CI_AS";
  bool collation_given = false;  // --collation was given
  // --venue SHAPE: how the tables are declared (venue_shape.h); latin1 also
  // makes SQL_Latin1_General_CP1_CI_AS the default unless --collation names one.
  std::string venue = "gbk";
};

// Parses the arguments of "venuedb seed"; argv[0] is "seed" and is skipped.
// Options not given keep their defaults. Returns false with a message in *error
// for an unknown option, a missing or malformed value, a value out of its
// range, or a missing --db.
bool ParseSeedOptions(int argc, char** argv, SeedOptions* options,
                      std::string* error);

// The usage text of "venuedb seed", one option per line.
const char* SeedUsage();

}  // namespace venuedb

#endif  // VENUEDB_SEED_SEED_OPTIONS_H_
