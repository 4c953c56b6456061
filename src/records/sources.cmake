# Venue records: play accounting and authorization, the file-server registry.
set(RONDEL_RECORDS_SOURCES records/file_server_registry.cc)
