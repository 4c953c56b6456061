# The exported layer: one file per family of host-facing functions.
set(RONDEL_EXPORT_SOURCES
  exports/background_play.cc
  exports/file_server_registry.cc
  exports/fire_alarm.cc
  exports/lifecycle.cc
  exports/lookups.cc
  exports/next_video.cc
  exports/play_records.cc)
