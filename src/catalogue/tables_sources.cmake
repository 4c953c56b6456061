# The tables, the class and media-id indexes and the snapshot store.
set(RONDEL_CATALOGUE_TABLES_SOURCES
  catalogue/tables.cc
  catalogue/class_index.cc
  catalogue/media_index.cc
  catalogue/room_index.cc
  catalogue/snapshot_check.cc
  catalogue/snapshot_commit.cc
  catalogue/snapshot_store.cc)
