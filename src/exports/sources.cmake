# The exported layer: one file per family of host-facing functions.
set(RONDEL_EXPORT_SOURCES
  exports/lifecycle.cc
  exports/lookups.cc)
