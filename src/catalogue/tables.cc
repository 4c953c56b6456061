// The catalogue's one instance and its reset.
#include "catalogue/tables.h"

#include <cstring>

namespace rondel {

// No initialiser: zero static storage, so the untouched pages of the 94 MB
// media table are never made resident.
Catalogue g_catalogue;
int32_t g_play_type = 2;

namespace {

// The number of leading Medias records any writer may have touched since the
// last reset.
int medias_written = 0;

constexpr int kClassIndexEntriesCleared = 20;

}  // namespace

void NoteMediasWritten(int records) {
  if (records > kMediaCapacity) records = kMediaCapacity;
  if (records > medias_written) medias_written = records;
}

void ResetCatalogue() {
  Catalogue& c = g_catalogue;
  std::memset(&c.table_records, 0, sizeof c.table_records);
  std::memset(c.rooms, 0, sizeof c.rooms);
  std::memset(c.file_servers, 0, sizeof c.file_servers);
  // Records beyond the highest position any writer reported are still zero from
  // load; not clearing them keeps their pages out of memory.
  if (medias_written > 0) {
    std::memset(c.medias, 0,
                sizeof(MediaRecord) * static_cast<size_t>(medias_written));
  }
  medias_written = 0;
  std::memset(c.film_index, 0,
              sizeof(ClassIndexEntry) * kClassIndexEntriesCleared);
  std::memset(c.song_index, 0,
              sizeof(ClassIndexEntry) * kClassIndexEntriesCleared);
  std::memset(c.ad_index, 0,
              sizeof(ClassIndexEntry) * kClassIndexEntriesCleared);
  g_play_type = 2;
}

namespace {

template <int kCapacity>
void Clear(PlayList<kCapacity>& list) {
  // Loaders write entries only below the count they keep; the rest is still
  // zero (and its pages stay untouched).
  const int used = list.count < 0           ? 0
                   : list.count > kCapacity ? kCapacity
                                            : list.count;
  std::memset(list.entries, 0, sizeof(int32_t) * static_cast<size_t>(used));
  list.count = 0;
}

}  // namespace

void ClearPlayLists() {
  Catalogue& c = g_catalogue;
  Clear(c.all_sequence);
  Clear(c.month_sequence);
  Clear(c.week_sequence);
  Clear(c.new_sequence);
  Clear(c.user_sequence);
  Clear(c.prefix86_list);
}

}  // namespace rondel
