# Reads rondel.dll's export and import tables (objdump -p) and checks that it exports
# exactly the export list's MSVC-decorated names (src/exports/export_list.h), nothing
# else, and imports from Windows system DLLs only: one file a venue drops beside its host.
#   cmake -DOBJDUMP=i686-w64-mingw32-objdump -DLIBRARY=rondel.dll -P check_dll_exports.cmake
cmake_policy(SET CMP0057 NEW)  # if(IN_LIST)
include(${CMAKE_CURRENT_LIST_DIR}/../../src/exports/export_list.cmake)
rondel_read_export_list(${CMAKE_CURRENT_LIST_DIR}/../../src/exports/export_list.h export)

execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${LIBRARY}")
endif()

# Exported names follow "[Ordinal/Name Pointer] Table" as "[   n] name"; imported DLLs are
# "DLL Name: X" lines.
string(REPLACE "\n" ";" lines "${listing}")
set(in_names FALSE)
set(exported)
set(imported)
foreach(line IN LISTS lines)
  if(line MATCHES "\\[Ordinal/Name Pointer\\] Table")
    set(in_names TRUE)
  elseif(in_names AND line MATCHES "^\t\\[ *[0-9]+\\] (.+)$")
    list(APPEND exported "${CMAKE_MATCH_1}")
  elseif(in_names)
    set(in_names FALSE)
  endif()
  if(line MATCHES "DLL Name: (.+)$")
    string(TOLOWER "${CMAKE_MATCH_1}" dll)
    list(APPEND imported "${dll}")
  endif()
endforeach()

set(failed FALSE)
foreach(name IN LISTS export_MSVC)
  if(NOT name IN_LIST exported)
    message(SEND_ERROR "not exported: ${name}")
    set(failed TRUE)
  endif()
endforeach()
foreach(name IN LISTS exported)
  if(NOT name IN_LIST export_MSVC)
    message(SEND_ERROR "exported but not listed: ${name}")
    set(failed TRUE)
  endif()
endforeach()
# What every Windows has: nothing of the compiler's runtime or of FreeTDS.
set(system_dlls kernel32.dll msvcrt.dll ws2_32.dll iphlpapi.dll shell32.dll advapi32.dll
  user32.dll)
foreach(dll IN LISTS imported)
  if(NOT dll IN_LIST system_dlls)
    message(SEND_ERROR "imports ${dll}, which is not a Windows system DLL")
    set(failed TRUE)
  endif()
endforeach()
list(LENGTH exported count)
if(NOT failed)
  message(STATUS "${count} exported names, as listed; imports: ${imported}")
endif()
