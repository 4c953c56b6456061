# Playback: the catalogue lookups and their media index.
set(RONDEL_PLAYBACK_SOURCES
  playback/media_index.cc
  playback/lookups.cc
  playback/song_total.cc)
