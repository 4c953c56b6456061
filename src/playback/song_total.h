// GetSongTotal's exchange: the number of media rows in the database against a
// number.
#ifndef RONDEL_PLAYBACK_SONG_TOTAL_H_
#define RONDEL_PLAYBACK_SONG_TOTAL_H_

namespace rondel {

// One exchange asking the database how many media rows it holds: true when some
// row of the count is below `number` (signed). False when the exchange fails
// before that. REQUIRES: the catalogue lock not held by the caller.
bool SongTotalBelow(int number);

}  // namespace rondel

#endif  // RONDEL_PLAYBACK_SONG_TOTAL_H_
