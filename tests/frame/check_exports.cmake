# Compares the defined dynamic symbols of the library with the export list's Itanium
# symbols (src/exports/export_list.h). Both missing and surplus names fail.
#   cmake -DNM=nm -DLIBRARY=librondel.so [-DEXPORT_LIST=export_list.h] -P check_exports.cmake
# EXPORT_LIST defaults to the list of this source tree.
if(NOT EXPORT_LIST)
  set(EXPORT_LIST ${CMAKE_CURRENT_LIST_DIR}/../../src/exports/export_list.h)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/../../src/exports/export_list.cmake)
rondel_read_export_list("${EXPORT_LIST}" export)

execute_process(
  COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE listing
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()

# Lines are "address type name".
string(REPLACE "\n" ";" lines "${listing}")
set(actual)
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]+ [A-Za-z] ([^ ]+)$")
    list(APPEND actual "${CMAKE_MATCH_1}")
  elseif(NOT line STREQUAL "")
    message(FATAL_ERROR "unexpected nm line: ${line}")
  endif()
endforeach()

set(failed FALSE)
foreach(name symbol IN ZIP_LISTS export_NAMES export_ITANIUM)
  list(FIND actual "${symbol}" at)
  if(at EQUAL -1)
    message(SEND_ERROR "not exported: ${symbol} (${name})")
    set(failed TRUE)
  endif()
endforeach()
foreach(symbol IN LISTS actual)
  list(FIND export_ITANIUM "${symbol}" at)
  if(at EQUAL -1)
    message(SEND_ERROR "exported but not listed: ${symbol}")
    set(failed TRUE)
  endif()
endforeach()
list(LENGTH actual actual_count)
if(NOT failed)
  message(STATUS "${actual_count} exported symbols, as listed")
endif()
