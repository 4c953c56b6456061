# Reads rondel.dll's import table (objdump -p) and checks that every function it imports is
# one the oldest Windows it is built for has (the list in windows_xp_sp3_imports.txt), and
# that its header asks for no newer system: a DLL importing a missing function, or marked
# for a newer subsystem version, fails to load there with no word from the library.
#   cmake -DOBJDUMP=i686-w64-mingw32-objdump -DLIBRARY=rondel.dll -DLIST=...txt
#         -P check_dll_imports.cmake
cmake_policy(SET CMP0057 NEW)  # if(IN_LIST)

execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${LIBRARY}")
endif()

# The list: "dll function" per line; '#' starts a comment.
file(STRINGS ${LIST} list_lines)
set(available)
foreach(line IN LISTS list_lines)
  if(line MATCHES "^([^# \t]+)[ \t]+([^ \t]+)")
    string(TOLOWER "${CMAKE_MATCH_1}" dll)
    list(APPEND available "${dll}!${CMAKE_MATCH_2}")
  endif()
endforeach()

# Imports follow "DLL Name: X" as "\t<vma>\t <hint>  <name>" lines up to a blank line.
string(REPLACE "\n" ";" lines "${listing}")
set(dll "")
set(imported)
set(missing)
foreach(line IN LISTS lines)
  if(line MATCHES "DLL Name: (.+)$")
    string(TOLOWER "${CMAKE_MATCH_1}" dll)
  elseif(dll AND line MATCHES "^\t[0-9a-f]+\t +[0-9]+ +([A-Za-z_0-9@?$]+)")
    list(APPEND imported "${dll}!${CMAKE_MATCH_1}")
    if(NOT "${dll}!${CMAKE_MATCH_1}" IN_LIST available)
      list(APPEND missing "${dll}!${CMAKE_MATCH_1}")
    endif()
  elseif(line STREQUAL "")
    set(dll "")
  endif()
  if(line MATCHES "^MajorSubsystemVersion[ \t]+([0-9]+)")
    set(subsystem_major ${CMAKE_MATCH_1})
  elseif(line MATCHES "^MinorSubsystemVersion[ \t]+([0-9]+)")
    set(subsystem_minor ${CMAKE_MATCH_1})
  endif()
endforeach()

list(LENGTH imported count)
if(count EQUAL 0)
  message(FATAL_ERROR "no imports read from ${LIBRARY}: has objdump's listing changed?")
endif()
if(missing)
  string(REPLACE ";" "\n  " shown "${missing}")
  message(FATAL_ERROR "${LIBRARY} imports functions Windows XP SP3 does not have:\n  ${shown}\n"
    "Look them up at run time (GetProcAddress) with a fallback, or, if the function is in "
    "Windows XP SP3's system DLL, add it to ${LIST}.")
endif()
if(NOT DEFINED subsystem_major OR subsystem_major GREATER 5 OR
   (subsystem_major EQUAL 5 AND subsystem_minor GREATER 1))
  message(FATAL_ERROR "${LIBRARY} asks for subsystem version "
    "${subsystem_major}.${subsystem_minor}; Windows XP is 5.1")
endif()
message(STATUS "${count} imports, all in Windows XP SP3; subsystem version "
  "${subsystem_major}.${subsystem_minor}")
