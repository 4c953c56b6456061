# Catalogue sources, in two lists: the tables, class indexes and snapshot store; the loaders
# and the start-up stage.
include(catalogue/tables_sources.cmake)
include(catalogue/loading_sources.cmake)
set(RONDEL_CATALOGUE_SOURCES ${RONDEL_CATALOGUE_TABLES_SOURCES} ${RONDEL_CATALOGUE_LOADING_SOURCES})
