#include "venue_seeder.h"

#include <cstdio>

#include "row_writer.h"
#include "seed_steps.h"

namespace venuedb {

std::string DateText(int days) {
  // Civil date from a day count (days from 1970-01-01), after H. Hinnant's
  // algorithm.
  int z = days + 17532 + 719468;  // 2018-01-01 is day 17532
  int era = z / 146097;
  int doe = z - era * 146097;
  int yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int mp = (5 * doy + 2) / 153;
  int day = doy - (153 * mp + 2) / 5 + 1;
  int month = mp < 10 ? mp + 3 : mp - 9;
  int year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
  return text;
}

bool SeedVenue(sqlite3* db, const SeedOptions& options, SeedSummary* summary,
               std::string* error) {
  if (!Execute(db, "BEGIN IMMEDIATE", error)) return false;
  SeedContext context;
  context.db = db;
  context.options = options;
  bool done = SeedRegistry(&context, error) && SeedMedia(&context, error) &&
              SeedPlayLists(&context, error) && Execute(db, "COMMIT", error);
  if (!done) {
    std::string ignored;
    Execute(db, "ROLLBACK", &ignored);
    return false;
  }
  *summary = context.summary;
  return true;
}

std::string DescribeSeeding(const SeedOptions& options,
                            const SeedSummary& summary, double seconds) {
  char line[512];
  std::snprintf(
      line, sizeof line,
      "seeded %s: %d media (%d songs, %d films, %d ads), %lld files, %d rooms, "
      "%d file servers in %d groups (file server 1 at %s), %d queued "
      "selections, %d advertisements enabled, %d fire-alarm entries, "
      "%d trade logs, "
      "%d rows per ranked list, %d user play-list rows, play type %d, in %.2f "
      "s",
      options.db_path.c_str(), summary.medias, summary.songs, summary.films,
      summary.ads, static_cast<long long>(summary.files), summary.rooms,
      summary.file_servers, summary.groups, options.local_address.c_str(),
      summary.selections, summary.enabled_ads, summary.fire_alerts,
      summary.trade_logs, summary.chart_rows, summary.user_playlist,
      options.play_type, seconds);
  return line;
}

}  // namespace venuedb
