#include "catalogue/class_index.h"

#include <cstdint>

#include "catalogue/tables.h"

namespace rondel {

void BuildClassIndexes() {
  Catalogue& c = g_catalogue;
  int32_t count = c.table_records.MediaCount;
  if (count < 0) count = 0;
  if (count > kMediaCapacity) count = kMediaCapacity;

  int32_t films = 0;
  int32_t songs = 0;
  int32_t ads = 0;
  for (int32_t i = 0; i < count; ++i) {
    const MediaRecord& media = c.medias[i];
    const int32_t media_class = media.Class;
    ClassIndexEntry* entry;
    switch (media_class) {
      case kFilm:
        entry = &c.film_index[films++];
        break;
      case kSong:
        entry = &c.song_index[songs++];
        break;
      case kAd:
        entry = &c.ad_index[ads++];
        break;
      default:
        continue;
    }
    entry->MediaId = media.MediaId;
    entry->CataloguePosition = i;
  }
  c.table_records.FilmCount = films;
  c.table_records.SongCount = songs;
  c.table_records.AdCount = ads;
}

}  // namespace rondel
