# Playback: the catalogue lookups, the random generator and the playback exports' work.
set(RONDEL_PLAYBACK_SOURCES
  playback/background_play.cc
  playback/fire_alarm.cc
  playback/fire_alarm_memory.cc
  playback/lookups.cc
  playback/next_video.cc
  playback/random.cc
  playback/song_total.cc)
