#include "seed_options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace venuedb {

namespace {

// One integer option with its inclusive range.
struct IntOption {
  const char* name;
  int SeedOptions::*field;
  long low;
  long high;
};

const IntOption kIntOptions[] = {
    {"--medias", &SeedOptions::medias, 0, 100000},
    {"--files-per-media", &SeedOptions::files_per_media, 1, 16},
    {"--rooms", &SeedOptions::rooms, 0, 512},
    {"--file-servers", &SeedOptions::file_servers, 1, 20},
    {"--groups", &SeedOptions::groups, 1, 20},
    {"--user-playlist", &SeedOptions::user_playlist, 0, 100000},
    {"--playlist-rows", &SeedOptions::playlist_rows, 0, 100000},
    {"--play-type", &SeedOptions::play_type, INT_MIN, INT_MAX},
    {"--queued", &SeedOptions::queued, 0, 50},
};

bool ParseInt(const char* text, long low, long high, int* out) {
  errno = 0;
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < low || value > high)
    return false;
  *out = static_cast<int>(value);
  return true;
}

}  // namespace

const char* SeedUsage() {
  return "usage: venuedb seed --db FILE [options] | --help | --version\n"
         "  --medias N           media to write (2000; 0..100000)\n"
         "  --files-per-media K  files per media and server group (3; 1..16)\n"
         "  --vary-files         give each media 1..K files instead of K\n"
         "  --rooms N            rooms (64; 0..512)\n"
         "  --file-servers N     file servers (4; 1..20)\n"
         "  --groups G           server groups (2; 1..20)\n"
         "  --user-playlist N    rows of the user play list (200; 0..100000)\n"
         "  --playlist-rows N    rows of each ranked list: all, week, month, "
         "new (200)\n"
         "  --local-address A    address of file server 1, in group 1 "
         "(127.0.0.1)\n"
         "  --play-type T        background play type in configures row 1 "
         "(2)\n"
         "  --queued N           selections queued in every second room: 1..N "
         "(3; 0..50, 0: none)\n"
         "  --collation NAME     the database's default collation "
         "(Chinese_PRC_CI_AS)\n"
         "  --venue SHAPE        gbk (varchar), unicode (nvarchar, bit, "
         "numeric) or\n"
         "                       latin1 (varchar, "
         "SQL_Latin1_General_CP1_CI_AS) "
         "(gbk)\n";
}

bool ParseSeedOptions(int argc, char** argv, SeedOptions* options,
                      std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--vary-files") == 0) {
      options->vary_files = true;
      continue;
    }
    if (std::strcmp(arg, "--db") != 0 &&
        std::strcmp(arg, "--local-address") != 0 &&
        std::strcmp(arg, "--collation") != 0 &&
        std::strcmp(arg, "--venue") != 0) {
      const IntOption* match = nullptr;
      for (const IntOption& option : kIntOptions) {
        if (std::strcmp(arg, option.name) == 0) match = &option;
      }
      if (match == nullptr) {
        *error = std::string("\"") + arg + "\": not an option of seed";
        return false;
      }
      if (i + 1 >= argc || !ParseInt(argv[i + 1], match->low, match->high,
                                     &(options->*(match->field)))) {
        *error = std::string(arg) +
                 (i + 1 < argc ? std::string(" \"") + argv[i + 1] + "\":"
                               : std::string(":")) +
                 " needs an integer from " + std::to_string(match->low) +
                 " to " + std::to_string(match->high);
        return false;
      }
      ++i;
      continue;
    }
    if (i + 1 >= argc || argv[i + 1][0] == '\0') {
      *error = std::string(arg) + " needs a value";
      return false;
    }
    std::string value = argv[++i];
    if (std::strcmp(arg, "--db") == 0) {
      options->db_path = value;
    } else if (std::strcmp(arg, "--collation") == 0) {
      options->collation = value;
      options->collation_given = true;
    } else if (std::strcmp(arg, "--venue") == 0) {
      options->venue = value;
    } else if (value.size() > 19) {
      *error = "--local-address takes at most 19 characters";
      return false;
    } else {
      options->local_address = value;
    }
  }
  if (options->db_path.empty()) {
    *error = "--db FILE is required";
    return false;
  }
  return true;
}

}  // namespace venuedb
