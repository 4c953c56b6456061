# Playback: the catalogue lookups, the random generator and the playback exports' work.
set(RONDEL_PLAYBACK_SOURCES
  playback/lookups.cc
  playback/random.cc
  playback/song_total.cc)
