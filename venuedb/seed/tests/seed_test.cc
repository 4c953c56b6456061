// The seeder: deterministic venues of the sizes asked for, with GBK names kept
// as bytes and media classes that follow their codes.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "venue_fixture.h"

namespace venuedb {
namespace {

SeedOptions Options(std::vector<std::string> args) {
  args.insert(args.begin(), "seed");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  SeedOptions options;
  std::string error;
  EXPECT_TRUE(ParseSeedOptions(static_cast<int>(argv.size()), argv.data(),
                               &options, &error))
      << error;
  return options;
}

bool Rejected(std::vector<std::string> args) {
  args.insert(args.begin(), "seed");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  SeedOptions options;
  std::string error;
  return !ParseSeedOptions(static_cast<int>(argv.size()), argv.data(), &options,
                           &error) &&
         !error.empty();
}

TEST(SeedOptionsTest, DefaultsAndRanges) {
  SeedOptions defaults = Options({"--db", "v.db"});
  EXPECT_EQ(defaults.medias, 2000);
  EXPECT_EQ(defaults.files_per_media, 3);
  EXPECT_EQ(defaults.rooms, 64);
  EXPECT_EQ(defaults.file_servers, 4);
  EXPECT_EQ(defaults.groups, 2);
  EXPECT_EQ(defaults.local_address, "127.0.0.1");
  EXPECT_EQ(defaults.play_type, 2);
  EXPECT_EQ(defaults.queued, 3);
  SeedOptions largest =
      Options({"--db", "v.db", "--medias", "100000", "--rooms", "512",
               "--file-servers", "20", "--user-playlist", "100000",
               "--vary-files", "--local-address", "10.9.8.7"});
  EXPECT_EQ(largest.medias, 100000);
  EXPECT_TRUE(largest.vary_files);
  EXPECT_EQ(largest.local_address, "10.9.8.7");

  EXPECT_TRUE(Rejected({"--medias", "10"}));  // no --db
  EXPECT_TRUE(Rejected({"--db", "v.db", "--medias", "100001"}));
  EXPECT_TRUE(Rejected({"--db", "v.db", "--rooms", "513"}));
  EXPECT_TRUE(Rejected({"--db", "v.db", "--file-servers", "21"}));
  EXPECT_TRUE(Rejected({"--db", "v.db", "--files-per-media", "0"}));
  EXPECT_TRUE(Rejected({"--db", "v.db", "--queued", "51"}));
  EXPECT_TRUE(Rejected({"--db", "v.db", "--queued", "-1"}));
  EXPECT_TRUE(Rejected({"--db", "v.db", "--medias", "12x"}));
  EXPECT_TRUE(Rejected({"--db", "v.db", "--medias"}));
  EXPECT_TRUE(Rejected({"--db", "v.db", "--colour", "red"}));
  EXPECT_TRUE(
      Rejected({"--db", "v.db", "--local-address", "100.100.100.100.1000"}));
}

TEST(SeedVenueTest, SameOptionsGiveIdenticalTables) {
  SeedOptions options = Options(
      {"--db", "v.db", "--medias", "3000", "--vary-files", "--files-per-media",
       "4", "--rooms", "100", "--groups", "3", "--file-servers", "7"});
  DbHandle first = SeededVenue(options);
  DbHandle second = SeededVenue(options);
  std::string dump = DumpTables(first.get());
  EXPECT_GT(dump.size(), 100000u);
  EXPECT_EQ(dump, DumpTables(second.get()));

  options.play_type = 5;
  DbHandle third = SeededVenue(options);
  EXPECT_NE(dump, DumpTables(third.get()));
  EXPECT_EQ(
      QueryInt(third.get(),
               "SELECT Configure_Set01 FROM configures WHERE Configure_ID=1"),
      5);
}

TEST(SeedVenueTest, HonoursTheLargestSizes) {
  SeedSummary summary;
  DbHandle db = SeededVenue(
      Options({"--db", "v.db", "--medias", "100000", "--rooms", "512",
               "--file-servers", "20", "--user-playlist", "100000"}),
      &summary);
  sqlite3* v = db.get();
  EXPECT_EQ(QueryInt(v, "select count(*) from medias"), 100000);
  EXPECT_EQ(QueryInt(v, "SELECT count(*) FROM rooms"), 512);
  EXPECT_EQ(QueryInt(v, "SELECT count(*) FROM fileservers"), 20);
  EXPECT_EQ(QueryInt(v, "SELECT count(*) FROM MediaUserSet"), 100000);
  // Three files per media in each group that holds it; advertisements are in
  // every group.
  EXPECT_EQ(
      QueryInt(
          v,
          "SELECT count(*) FROM (SELECT group_id, media_id FROM media_files"
          " GROUP BY 1, 2 HAVING count(*) <> 3)"),
      0);
  EXPECT_EQ(QueryInt(v, "SELECT count(DISTINCT media_id) FROM media_files"),
            100000);
  EXPECT_EQ(QueryInt(v, "SELECT count(*) FROM media_files"), summary.files);
  EXPECT_EQ(summary.files, 3 * (100000 + summary.ads));
  // Distinct room addresses and numbers, each fitting the library's fields.
  EXPECT_EQ(QueryInt(v, "SELECT count(DISTINCT room_address) FROM rooms"), 512);
  EXPECT_EQ(QueryInt(v,
                     "SELECT max(length(CAST(room_info AS BLOB))) <= 19 AND"
                     " max(length(room_address)) <= 19 FROM rooms"),
            1);
  // File server 1 is the local one, in group 1; every address is distinct.
  auto first = Query(v,
                     "SELECT fileserver_IpAddress, group_id FROM fileservers"
                     " WHERE fileserver_id = 1");
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0][0].text, "127.0.0.1");
  EXPECT_EQ(first[0][1].number, 1);
  EXPECT_EQ(
      QueryInt(v,
               "SELECT count(DISTINCT fileserver_IpAddress) FROM fileservers"),
      20);
  EXPECT_EQ(QueryInt(v, "SELECT count(*) FROM media_charts"), 4 * 200);
}

TEST(SeedVenueTest, VariedFileCountsStayWithinTheLimit) {
  DbHandle db =
      SeededVenue(Options({"--db", "v.db", "--medias", "500", "--vary-files",
                           "--files-per-media", "5", "--groups", "1"}));
  auto counts =
      Query(db.get(), "SELECT count(*) FROM media_files GROUP BY media_id");
  ASSERT_EQ(counts.size(), 500u);
  std::set<int64_t> seen;
  for (const auto& row : counts) seen.insert(row[0].number);
  EXPECT_EQ(*seen.begin(), 1);
  EXPECT_EQ(*seen.rbegin(), 5);
  EXPECT_EQ(seen.size(), 5u);
}

// A text is valid GBK when every byte >= 0x80 leads a pair with a trail byte
// 0x40..0xFE.
bool IsGbk(const std::string& text, bool* has_pairs) {
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) continue;
    if (lead == 0x80 || lead == 0xFF || i + 1 == text.size()) return false;
    unsigned char trail = static_cast<unsigned char>(text[++i]);
    if (trail < 0x40 || trail == 0x7F || trail == 0xFF) return false;
    *has_pairs = true;
  }
  return true;
}

TEST(SeedVenueTest, ChineseNamesAreStoredAsGbkBytes) {
  DbHandle db = SeededVenue(Options({"--db", "v.db"}));
  auto first = Query(db.get(),
                     "SELECT typeof(media_name), media_name FROM medias"
                     " WHERE media_id = 1");
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0][0].text, "text");
  EXPECT_EQ(first[0][1].text, "\xD6\xDC\xBD\xDC\xC2\xD7");
  int chinese = 0;
  for (const auto& row :
       Query(db.get(),
             "SELECT media_name, artist_name FROM medias"
             " UNION ALL SELECT language_name, '' FROM languages"
             " UNION ALL SELECT room_info, '' FROM rooms")) {
    for (const Cell& cell : row) {
      bool has_pairs = false;
      EXPECT_TRUE(IsGbk(cell.text, &has_pairs)) << cell.text;
      EXPECT_LE(cell.text.size(), 99u);
      if (has_pairs) ++chinese;
    }
  }
  EXPECT_GT(chinese, 1000);
  // Columns that land in 20-byte fields hold at most 19 bytes.
  EXPECT_EQ(
      QueryInt(db.get(),
               "SELECT max(length(CAST(artist_name AS BLOB))) FROM medias") <=
          19,
      true);
}

TEST(SeedVenueTest, MediaClassesFollowTheirCodes) {
  SeedSummary summary;
  DbHandle db =
      SeededVenue(Options({"--db", "v.db", "--medias", "5000"}), &summary);
  auto classes = Query(
      db.get(), "SELECT class_id, count(*) FROM media_class_of GROUP BY 1");
  ASSERT_EQ(classes.size(), 3u);
  EXPECT_EQ(classes[0][1].number, summary.films);
  EXPECT_EQ(classes[1][1].number, summary.songs);
  EXPECT_EQ(classes[2][1].number, summary.ads);
  EXPECT_GT(summary.films, 0);
  EXPECT_GT(summary.ads, 0);
  // Songs include 7-digit codes that start with 8 and with 6.
  EXPECT_GT(
      QueryInt(db.get(),
               "SELECT count(*) FROM medias m JOIN media_class_of c USING"
               " (media_id) WHERE c.class_id = 2 AND length(media_code) = 7"
               " AND substr(media_code, 1, 1) = '8'"),
      0);
  EXPECT_GT(
      QueryInt(db.get(),
               "SELECT count(*) FROM medias m JOIN media_class_of c USING"
               " (media_id) WHERE c.class_id = 2 AND length(media_code) = 7"
               " AND substr(media_code, 1, 1) = '6'"),
      0);
  EXPECT_EQ(QueryInt(db.get(), "SELECT count(DISTINCT media_code) FROM medias"),
            5000);
  EXPECT_EQ(
      QueryInt(db.get(), "SELECT max(length(media_code)) FROM medias") <= 9,
      true);
  // Every advertisement row names an advertisement.
  EXPECT_EQ(
      QueryInt(db.get(),
               "SELECT count(*) FROM advertisements a JOIN media_class_of c"
               " USING (media_id) WHERE c.class_id <> 3"),
      0);
}

TEST(SeedVenueTest, SmallVenuesStillHaveAnAdvertisement) {
  SeedSummary summary;
  DbHandle db = SeededVenue(Options({"--db", "v.db", "--medias", "3", "--rooms",
                                     "0", "--user-playlist", "0"}),
                            &summary);
  EXPECT_EQ(summary.ads, 1);
  EXPECT_EQ(
      QueryInt(db.get(),
               "SELECT count(*) FROM advertisements WHERE is_enabled = 1"),
      1);
  EXPECT_EQ(QueryInt(db.get(), "SELECT count(*) FROM rooms"), 0);
  EXPECT_EQ(QueryInt(db.get(), "SELECT count(*) FROM room_selections"), 0);
}

// The one value of a query, as text.
std::string Value(sqlite3* db, const std::string& sql) {
  auto rows = Query(db, sql);
  if (rows.empty() || rows[0].empty()) return "(no value)";
  const Cell& cell = rows[0][0];
  return cell.kind == Cell::kInt    ? std::to_string(cell.number)
         : cell.kind == Cell::kText ? cell.text
                                    : "NULL";
}

struct PlaybackCase {
  const char* what;
  const char* sql;
  const char* expected;
};

// What the next-video, background-play and fire-alarm procedures read, in the
// default venue: 64 rooms, 2000 media (40 of them advertisements), file
// servers 1 and 3 in group 1, 2 and 4 in group 2.
const PlaybackCase kPlaybackCases[] = {
    {"queuing rooms: every second one",
     "SELECT count(DISTINCT room_id) || ' rooms, odd ids: ' || min(room_id % 2)"
     " FROM room_selections",
     "32 rooms, odd ids: 1"},
    {"selections per queuing room",
     "SELECT min(n) || '-' || max(n) FROM"
     " (SELECT count(*) AS n FROM room_selections GROUP BY room_id)",
     "1-3"},
    {"queued media are songs or films with files in group 1",
     "SELECT count(*) FROM room_selections WHERE media_id NOT IN"
     " (SELECT media_id FROM media_files WHERE group_id = 1)"
     " OR media_id IN (SELECT media_id FROM advertisements)",
     "0"},
    {"play lists name only songs and films with files in group 1",
     "SELECT count(*) || ' of ' || ((SELECT count(*) FROM media_charts) +"
     " (SELECT count(*) FROM MediaUserSet)) FROM (SELECT media_id FROM"
     " media_charts UNION ALL SELECT MediaUserSet_MediaId FROM MediaUserSet)"
     " WHERE media_id NOT IN (SELECT media_id FROM media_files WHERE"
     " group_id = 1) OR media_id IN (SELECT media_id FROM advertisements)",
     "0 of 1000"},
    {"the queue is in selection order, nothing delivered",
     "SELECT count(*) FROM room_selections a JOIN room_selections b"
     " ON a.selection_id < b.selection_id"
     " WHERE a.queued_at >= b.queued_at OR a.state <> 0",
     "0"},
    {"advertisements enabled, every tenth not",
     "SELECT sum(is_enabled) || ' of ' || count(*) FROM advertisements",
     "36 of 40"},
    {"advertisements have files in every group",
     "SELECT count(*) FROM advertisements a WHERE (SELECT count(DISTINCT"
     " group_id) FROM media_files f WHERE f.media_id = a.media_id) <> 2",
     "0"},
    {"one count row per server, at its registered address and group",
     "SELECT group_concat(row, ' ') FROM (SELECT c.fileserver_id || '@g' ||"
     " c.group_id || (CASE WHEN c.fileserver_ipaddress = f.fileserver_IpAddress"
     " AND c.group_id = f.group_id THEN '' ELSE ' differs' END) AS row"
     " FROM fileserver_connections c JOIN fileservers f USING (fileserver_id)"
     " ORDER BY c.fileserver_id)",
     "1@g1 2@g2 3@g1 4@g2"},
    {"connection counts below 40",
     "SELECT min(connection_count) >= 0 AND max(connection_count) < 40"
     " FROM fileserver_connections",
     "1"},
    {"fire-alarm videos of rooms 1, 5, 9, ...",
     "SELECT group_concat(entry, ' ') FROM (SELECT r.room_id || ':' ||"
     " a.video_file AS entry FROM fire_alerts a JOIN rooms r"
     " ON r.room_address = a.ipaddress WHERE a.is_enabled = 1"
     " AND r.room_id IN (1, 2, 5, 9, 53) ORDER BY r.room_id)",
     "1:fire_floor1.mpg 5:fire_floor1.mpg 9:fire_floor1.mpg "
     "53:fire_floor2.mpg"},
    {"disabled drill entries",
     "SELECT group_concat(entry, ' ') FROM (SELECT r.room_id || ':' ||"
     " a.video_file AS entry FROM fire_alerts a JOIN rooms r"
     " ON r.room_address = a.ipaddress WHERE a.is_enabled = 0"
     " ORDER BY r.room_id)",
     "5:fire_drill.mpg 21:fire_drill.mpg 37:fire_drill.mpg 53:fire_drill.mpg"},
    {"default fire video and page",
     "SELECT default_video_file || ' ' || home_page FROM fire_alarm_settings",
     "fire_default.mpg http://127.0.0.1/fire/evacuation.htm"},
};

TEST(SeedVenueTest, PlaybackFindsSelectionsAdsCountsAndFireAlarm) {
  SeedSummary summary;
  DbHandle db = SeededVenue(Options({"--db", "v.db"}), &summary);
  for (const PlaybackCase& c : kPlaybackCases) {
    EXPECT_EQ(Value(db.get(), c.sql), c.expected) << c.what;
  }
  EXPECT_EQ(summary.selections,
            QueryInt(db.get(), "SELECT count(*) FROM room_selections"));
  EXPECT_EQ(summary.enabled_ads, 36);
  EXPECT_EQ(summary.fire_alerts, 16);
}

// What the records and registry procedures find in the default venue.
const PlaybackCase kRecordCases[] = {
    {"trade logs: ids from the table's sequence",
     "SELECT count(*) || ' logs, ids ' || min(tradelog_id) || '-' ||"
     " max(tradelog_id) || ', sequence ' || (SELECT seq FROM sqlite_sequence"
     " WHERE name = 'trade_logs') || ', closed ' || sum(state = 1) FROM"
     " trade_logs",
     "24 logs, ids 1-24, sequence 24, closed 16"},
    {"closed logs of rooms 1, 5, 9, ..., open ones of rooms 1, 9, 17, ...",
     "SELECT group_concat(entry, ' ') FROM (SELECT r.room_id || (CASE t.state"
     " WHEN 1 THEN 'c' ELSE 'o' END) AS entry FROM trade_logs t JOIN rooms r"
     " ON r.room_address = t.room_address WHERE r.room_id <= 17"
     " ORDER BY t.tradelog_id)",
     "1c 5c 9c 13c 17c 1o 9o 17o"},
    {"closed logs have a close time after their open time, open ones none",
     "SELECT count(*) FROM trade_logs WHERE (state = 1) <> (modified_at >"
     " created_at) OR (state = 0 AND modified_at IS NOT NULL)",
     "0"},
    {"trade logs are of songs that exist",
     "SELECT count(*) FROM trade_logs t LEFT JOIN media_class_of c USING"
     " (media_id) WHERE coalesce(c.class_id, 0) <> 2",
     "0"},
    {"authorization rules: room and media, media, room, and an exception",
     "SELECT group_concat(rule, ' | ') FROM (SELECT coalesce(room_address,"
     " '*') || ' ' || (CASE WHEN media_id IS NULL THEN '*' ELSE 'm' END) ||"
     " ' ' || allowed || ' ' || reason AS rule FROM authorizations"
     " ORDER BY authorization_id)",
     "10.0.1.11 m 0 film not licensed for this room | * m 0 withdrawn by the"
     " publisher | 10.0.1.12 * 0 room closed for cleaning | 10.0.1.12 m 1 "},
    {"server groups, all in service",
     "SELECT group_concat(group_id || ':' || group_name || ':' || is_valid,"
     " ' ') FROM server_groups",
     "1:Group 1:1 2:Group 2:1"},
    {"no plays recorded yet", "SELECT count(*) FROM play_records", "0"},
};

TEST(SeedVenueTest, RecordsFindTradeLogsRulesAndGroups) {
  SeedSummary summary;
  DbHandle db = SeededVenue(Options({"--db", "v.db"}), &summary);
  for (const PlaybackCase& c : kRecordCases) {
    EXPECT_EQ(Value(db.get(), c.sql), c.expected) << c.what;
  }
  EXPECT_EQ(summary.trade_logs, 24);
}

// Rooms that queued, the fewest and most selections of one, and whether every
// queue time is a valid date-time of its own.
constexpr char kQueueShape[] =
    "SELECT count(*) || ' rooms, ' || coalesce(min(n) || '-' || max(n), '-')"
    " || ', stamps ' || (SELECT count(DISTINCT datetime(queued_at)) ="
    " count(*) FROM room_selections) FROM"
    " (SELECT count(*) AS n FROM room_selections GROUP BY room_id)";

TEST(SeedVenueTest, QueuedOptionBoundsEachRoomsSelections) {
  const struct {
    std::vector<std::string> args;
    const char* shape;
  } cases[] = {
      {{"--queued", "0"}, "0 rooms, -, stamps 1"},
      {{"--queued", "1"}, "32 rooms, 1-1, stamps 1"},
      {{"--queued", "50", "--rooms", "512"}, "256 rooms, 1-50, stamps 1"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--db", "v.db", "--medias", "300"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    DbHandle db = SeededVenue(Options(args));
    EXPECT_EQ(Value(db.get(), kQueueShape), c.shape) << c.args[1];
  }
}

}  // namespace
}  // namespace venuedb
