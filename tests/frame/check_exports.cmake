# Compares the defined dynamic symbols of the library (demangled) with the expected list,
# one exact signature per line. Both missing and surplus names fail.
#   cmake -DNM=nm -DLIBRARY=librondel.so -DEXPECTED=exports.txt -P check_exports.cmake
execute_process(
  COMMAND ${NM} -D --defined-only -C ${LIBRARY}
  OUTPUT_VARIABLE listing
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()

# Lines are "address type name"; the name may hold blanks.
string(REPLACE ";" "\\;" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(actual)
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]+ [A-Za-z] (.+)$")
    list(APPEND actual "${CMAKE_MATCH_1}")
  elseif(NOT line STREQUAL "")
    message(FATAL_ERROR "unexpected nm line: ${line}")
  endif()
endforeach()

file(STRINGS ${EXPECTED} expected)
list(REMOVE_ITEM expected "")

set(failed FALSE)
foreach(name IN LISTS expected)
  list(FIND actual "${name}" at)
  if(at EQUAL -1)
    message(SEND_ERROR "not exported: ${name}")
    set(failed TRUE)
  endif()
endforeach()
foreach(name IN LISTS actual)
  list(FIND expected "${name}" at)
  if(at EQUAL -1)
    message(SEND_ERROR "exported but not expected: ${name}")
    set(failed TRUE)
  endif()
endforeach()
list(LENGTH actual actual_count)
list(LENGTH expected expected_count)
if(NOT failed)
  message(STATUS "${actual_count} exported symbols, as expected")
endif()
