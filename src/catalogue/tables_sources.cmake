# The tables, the class indexes and the snapshot store.
set(RONDEL_CATALOGUE_TABLES_SOURCES
  catalogue/tables.cc
  catalogue/class_index.cc
  catalogue/snapshot_store.cc)
