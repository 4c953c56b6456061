# Playback: the catalogue lookups.
set(RONDEL_PLAYBACK_SOURCES
  playback/lookups.cc
  playback/song_total.cc)
