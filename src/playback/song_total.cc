#include "playback/song_total.h"

#include "frame/exchange.h"

namespace rondel {

bool SongTotalBelow(int number) {
  Exchange exchange;
  if (!exchange.connected()) return false;
  if (!exchange.Sql("select count(*) from medias")) return false;
  int32_t rows = 0;
  bool below = false;
  // A failure part-way leaves the answer as far as it was found.
  exchange.ReadRows({Column::Int(1, &rows)}, [&] {
    if (rows < number) below = true;
    return true;
  });
  return below;
}

}  // namespace rondel
