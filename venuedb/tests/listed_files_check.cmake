# Configures a copy of venuedb/ once whole and once without each listed file in turn:
# the whole copy must configure, every copy with a file missing must fail. Also embeds a
# schema that does not exist, which must fail. Run with
#   cmake -DSOURCE=<venuedb dir> -DWORK=<scratch dir> -P listed_files_check.cmake
set(missing_cases
  sql/schema.sql
  sql/procedures.sql
  seed/sources.cmake
  seed/media_seeder.cc
  seed/tests/CMakeLists.txt
  tests/CMakeLists.txt
  tests/protocol_test.cc
  tests/cli_clients_test.cc
  bench/CMakeLists.txt
  src/session.cc)

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
# A stand-in for the top-level project: the packages venuedb expects, fakes for the rest.
file(WRITE "${WORK}/CMakeLists.txt" [=[
cmake_minimum_required(VERSION 3.20)
project(venuedb_listed_files LANGUAGES C CXX)
set(CMAKE_CXX_STANDARD 17)
find_package(SQLite3 REQUIRED)
find_package(Threads REQUIRED)
add_library(fake_sybdb INTERFACE)
add_library(freetds::sybdb ALIAS fake_sybdb)
add_library(rondel_test_support INTERFACE)
set(RONDEL_BUILD_TESTS ON)
set(RONDEL_BUILD_BENCH ON)
add_subdirectory(venuedb)
]=])

function(configure_copy name expect_success)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S "${WORK}" -B "${WORK}/build-${name}"
    RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE errors)
  if(expect_success AND NOT result EQUAL 0)
    message(FATAL_ERROR "the whole copy does not configure:\n${errors}")
  elseif(NOT expect_success AND result EQUAL 0)
    message(SEND_ERROR "configured without ${name}")
  endif()
  file(REMOVE_RECURSE "${WORK}/build-${name}")
endfunction()

file(COPY "${SOURCE}/" DESTINATION "${WORK}/venuedb")
configure_copy(whole TRUE)
foreach(path ${missing_cases})
  string(MAKE_C_IDENTIFIER "${path}" name)
  file(RENAME "${WORK}/venuedb/${path}" "${WORK}/aside")
  configure_copy(${name} FALSE)
  file(RENAME "${WORK}/aside" "${WORK}/venuedb/${path}")
endforeach()

execute_process(
  COMMAND ${CMAKE_COMMAND} -DSCHEMA=${WORK}/none.sql
          -DPROCEDURES=${SOURCE}/sql/procedures.sql -DOUT=${WORK}/embedded.cc
          -P ${SOURCE}/cmake/embed_sql.cmake
  RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
if(result EQUAL 0)
  message(SEND_ERROR "embedded a schema that does not exist")
endif()
file(REMOVE_RECURSE "${WORK}")
