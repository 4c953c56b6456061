// Ranked lists, the user play list, the selections rooms have queued,
// authorizations and the trade logs of the evening so far.
//
// The play lists (the charts and the user play list) and the selections name
// only songs and films with files in group 1, the local file server's: a video
// server loads its catalogue from its group's media, and background play
// answers play-list entries as they stand, so an entry of another group would
// be an id the host cannot play.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "row_writer.h"
#include "seed_random.h"
#include "seed_steps.h"

namespace venuedb {

namespace {

constexpr uint64_t kPlayListSeed = 0x504C41594C495354ull;

void Shuffle(std::vector<int>* items, SeedRandom* random) {
  for (size_t i = items->size(); i > 1; --i) {
    std::swap(
        (*items)[i - 1],
        (*items)[static_cast<size_t>(random->Below(static_cast<int>(i)))]);
  }
}

// Writes `rows` ranks of one chart from `order`, starting over when it runs
// out.
void WriteChart(RowWriter* chart, const char* name,
                const std::vector<int>& order, int rows, int plays_per_rank) {
  if (order.empty()) return;
  for (int rank = 1; rank <= rows; ++rank) {
    chart->Text(1, name).Int(2, rank).Int(
        3, order[static_cast<size_t>(rank - 1) % order.size()]);
    chart->Int(4, int64_t{rows - rank + 1} * plays_per_rank).Run();
  }
}

bool SeedCharts(SeedContext* context, SeedRandom* random, std::string* error) {
  RowWriter chart(
      context->db,
      "INSERT INTO media_charts (chart_name, chart_rank, media_id, play_count)"
      " VALUES (?, ?, ?, ?)");
  const int rows = context->options.playlist_rows;
  struct Ranked {
    const char* name;
    int plays_per_rank;
  };
  const std::vector<int>& songs = context->group_one_songs;
  for (const Ranked& ranked :
       {Ranked{"all", 50}, Ranked{"week", 3}, Ranked{"month", 10}}) {
    std::vector<int> order = songs;
    Shuffle(&order, random);
    WriteChart(&chart, ranked.name, order, rows, ranked.plays_per_rank);
  }
  // The newest songs are those added last, which have the highest ids.
  std::vector<int> newest(songs.rbegin(), songs.rend());
  WriteChart(&chart, "new", newest, rows, 1);
  context->summary.chart_rows = songs.empty() ? 0 : rows;
  return RowWritersOk({&chart}, error);
}

bool SeedUserPlayList(SeedContext* context, SeedRandom* random,
                      std::string* error) {
  const std::vector<int>& pool = context->group_one_playable;
  RowWriter entry(
      context->db,
      "INSERT INTO MediaUserSet (MediaUserSet_ID, MediaUserSet_MediaId,"
      " MediaUserSet_Shunxu) VALUES (?, ?, ?)");
  if (pool.empty()) return RowWritersOk({&entry}, error);
  // Entries were reordered after they were added: row order differs from play
  // order.
  std::vector<int> positions(
      static_cast<size_t>(context->options.user_playlist));
  for (size_t k = 0; k < positions.size(); ++k)
    positions[k] = static_cast<int>(k + 1) * 10;
  Shuffle(&positions, random);
  for (size_t k = 0; k < positions.size(); ++k) {
    entry.Int(1, static_cast<int64_t>(k + 1));
    entry.Int(2, pool[static_cast<size_t>(
                     random->Below(static_cast<int>(pool.size())))]);
    entry.Int(3, positions[k]).Run();
  }
  context->summary.user_playlist = context->options.user_playlist;
  return RowWritersOk({&entry}, error);
}

// Every other room has one to --queued media of group 1 queued, oldest first.
bool SeedSelections(SeedContext* context, SeedRandom* random,
                    std::string* error) {
  RowWriter selection(
      context->db,
      "INSERT INTO room_selections (selection_id, room_id, media_id, queued_at,"
      " state) VALUES (?, ?, ?, ?, 0)");
  const std::vector<int>& pool = context->group_one_playable;
  if (pool.empty() || context->options.queued == 0)
    return RowWritersOk({&selection}, error);
  // Queued from 19:00 on 2026-01-01 (day 2922 after 2018-01-01), one every
  // seven seconds; the largest venues run into the next day.
  int seconds = 19 * 3600;
  for (size_t room = 0; room < context->room_addresses.size(); room += 2) {
    for (int n = random->Between(1, context->options.queued); n > 0; --n) {
      char stamp[48];
      seconds += 7;
      std::snprintf(stamp, sizeof stamp, "%s %02d:%02d:%02d",
                    DateText(2922 + seconds / 86400).c_str(),
                    seconds / 3600 % 24, seconds / 60 % 60, seconds % 60);
      selection.Int(1, ++context->summary.selections)
          .Int(2, static_cast<int64_t>(room + 1));
      selection.Int(3, pool[static_cast<size_t>(
                           random->Below(static_cast<int>(pool.size())))]);
      selection.Text(4, stamp).Run();
    }
  }
  return RowWritersOk({&selection}, error);
}

// A film not licensed for room 2, a song withdrawn everywhere, room 3 closed
// except for one song. Parts that the venue is too small for are left out.
bool SeedAuthorizations(SeedContext* context, std::string* error) {
  RowWriter rule(
      context->db,
      "INSERT INTO authorizations (room_address, media_id, allowed, reason)"
      " VALUES (?, ?, ?, ?)");
  const std::vector<std::string>& rooms = context->room_addresses;
  const std::vector<int>& songs = context->song_ids;
  if (rooms.size() >= 2 && !context->film_ids.empty()) {
    rule.Text(1, rooms[1]).Int(2, context->film_ids[0]).Int(3, 0);
    rule.Text(4, "film not licensed for this room").Run();
  }
  if (songs.size() >= 2) {
    rule.Null(1)
        .Int(2, songs[1])
        .Int(3, 0)
        .Text(4, "withdrawn by the publisher")
        .Run();
  }
  if (rooms.size() >= 3) {
    rule.Text(1, rooms[2])
        .Null(2)
        .Int(3, 0)
        .Text(4, "room closed for cleaning")
        .Run();
    if (!songs.empty())
      rule.Text(1, rooms[2]).Int(2, songs[0]).Int(3, 1).Text(4, "").Run();
  }
  return RowWritersOk({&rule}, error);
}

// Rooms 1, 5, 9, ... paid for one song each between 18:00 and 19:00 (closed
// logs); rooms 1, 9, 17, ... have one more open since 19:30. Ids come from the
// table's own sequence, as sp_addlog's do, so the next sp_addlog follows them.
bool SeedTradeLogs(SeedContext* context, SeedRandom* random,
                   std::string* error) {
  RowWriter log(
      context->db,
      "INSERT INTO trade_logs (room_address, media_id, state, reserved,"
      " created_at, modified_at) VALUES (?, ?, ?, ?, ?, ?)");
  const std::vector<std::string>& rooms = context->room_addresses;
  const std::vector<int>& songs = context->song_ids;
  if (songs.empty()) return RowWritersOk({&log}, error);
  auto song = [&] {
    return songs[static_cast<size_t>(
        random->Below(static_cast<int>(songs.size())))];
  };
  auto stamp = [](int hour, int minute) {
    char text[32];
    std::snprintf(text, sizeof text, "2026-01-01 %02d:%02d:00", hour, minute);
    return std::string(text);
  };
  for (size_t i = 0; i < rooms.size(); i += 4) {
    const int minute = static_cast<int>(i / 4) % 56;
    log.Text(1, rooms[i]).Int(2, song()).Int(3, 1).Text(4, "paid at the bar");
    log.Text(5, stamp(18, minute)).Text(6, stamp(18, minute + 4)).Run();
    ++context->summary.trade_logs;
  }
  for (size_t i = 0; i < rooms.size(); i += 8) {
    log.Text(1, rooms[i]).Int(2, song()).Int(3, 0).Null(4);
    log.Text(5, stamp(19, 30 + static_cast<int>(i / 8) % 30)).Null(6).Run();
    ++context->summary.trade_logs;
  }
  return RowWritersOk({&log}, error);
}

}  // namespace

bool SeedPlayLists(SeedContext* context, std::string* error) {
  SeedRandom random(kPlayListSeed);
  return SeedCharts(context, &random, error) &&
         SeedUserPlayList(context, &random, error) &&
         SeedSelections(context, &random, error) &&
         SeedAuthorizations(context, error) &&
         SeedTradeLogs(context, &random, error);
}

}  // namespace venuedb
