# Venue records: play accounting and authorization, the file-server registry.
set(RONDEL_RECORDS_SOURCES records/file_server_registry.cc)
list(APPEND RONDEL_RECORDS_SOURCES records/entry_scan.cc records/outbox.cc records/outbox_format.cc
  records/play_records.cc records/rejected_plays.cc)
