# The seeder of "venuedb seed". VENUEDB_SEED_CORE_SOURCES writes a venue into an open
# database and needs only SQLite; seed_main.cc adds the command, which needs the server's
# store (venuedb/src/store.cc) for InitDatabase and OpenDatabase.
set(VENUEDB_SEED_CORE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/seed_options.cc
  ${CMAKE_CURRENT_LIST_DIR}/row_writer.cc
  ${CMAKE_CURRENT_LIST_DIR}/sample_text.cc
  ${CMAKE_CURRENT_LIST_DIR}/registry_seeder.cc
  ${CMAKE_CURRENT_LIST_DIR}/media_seeder.cc
  ${CMAKE_CURRENT_LIST_DIR}/play_list_seeder.cc
  ${CMAKE_CURRENT_LIST_DIR}/venue_seeder.cc)
set(VENUEDB_SEED_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/seed_main.cc
  ${VENUEDB_SEED_CORE_SOURCES})
