# Writes, from the export list, the files the linkers take:
#   VERSION_SCRIPT      librondel.so's version script: the Itanium symbols global, all else local
#   MODULE_DEFINITION   rondel.dll's .def: each MSVC-decorated name bound to the function
#                       (mingw's i686 ld adds the leading underscore of the right-hand names)
# and first checks that the public header declares exactly the listed functions (their
# types are checked by the compiler, export_list.cc).
#   cmake -DEXPORT_LIST=export_list.h -DPUBLIC_HEADER=rondel.h -DVERSION_SCRIPT=rondel.map
#         -DMODULE_DEFINITION=rondel.def -P write_export_files.cmake
include(${CMAKE_CURRENT_LIST_DIR}/export_list.cmake)
rondel_read_export_list("${EXPORT_LIST}" export)

file(READ "${PUBLIC_HEADER}" header)
string(REGEX MATCHALL "RONDEL_API[ \n]+[a-z]+[ \n]+[A-Za-z_][A-Za-z0-9_]*\\(" declarations
  "${header}")
set(declared)
foreach(declaration IN LISTS declarations)
  string(REGEX MATCH "([A-Za-z_][A-Za-z0-9_]*)\\($" name "${declaration}")
  list(APPEND declared "${CMAKE_MATCH_1}")
endforeach()
set(unlisted ${declared})
list(REMOVE_ITEM unlisted ${export_NAMES})
set(undeclared ${export_NAMES})
list(REMOVE_ITEM undeclared ${declared})
if(unlisted OR undeclared)
  message(FATAL_ERROR "${PUBLIC_HEADER} and ${EXPORT_LIST} differ: declared but not "
    "listed: ${unlisted}; listed but not declared: ${undeclared}")
endif()

set(map "/* Written from export_list.h by write_export_files.cmake. */\n{\n  global:\n")
foreach(symbol IN LISTS export_ITANIUM)
  string(APPEND map "    ${symbol};\n")
endforeach()
string(APPEND map "  local: *;\n};\n")
file(WRITE "${VERSION_SCRIPT}" "${map}")

set(def "; Written from export_list.h by write_export_files.cmake.\nEXPORTS\n")
foreach(msvc itanium IN ZIP_LISTS export_MSVC export_ITANIUM)
  string(APPEND def "  \"${msvc}\" = ${itanium}\n")
endforeach()
file(WRITE "${MODULE_DEFINITION}" "${def}")
