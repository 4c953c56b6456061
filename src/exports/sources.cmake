# The exported layer: one file per family of host-facing functions, and the check of
# rondel.h against the export list (export_list.cc).
set(RONDEL_EXPORT_SOURCES
  exports/export_list.cc
  exports/background_play.cc
  exports/file_server_registry.cc
  exports/fire_alarm.cc
  exports/lifecycle.cc
  exports/lookups.cc
  exports/next_video.cc
  exports/play_records.cc)
