# rondel_read_export_list(LIST PREFIX): reads the export list (export_list.h) for the
# scripts that cannot include it. Sets, in the caller's scope, three lists in the list's
# order: PREFIX_NAMES (the functions), PREFIX_ITANIUM (librondel.so's symbols) and
# PREFIX_MSVC (the DLL's decorated names). Stops with an error on an entry of another shape
# than X(name, result, (parameters), "itanium", "msvc"), so that no entry is silently
# skipped; whether the entries say what the compiler says is for the build and the tests.
function(rondel_read_export_list list prefix)
  file(READ "${list}" text)
  # A macro is one logical line: join its continuation lines.
  string(REGEX REPLACE "\\\\\n" " " text "${text}")
  string(REGEX MATCHALL "\n#define RONDEL_[A-Z]+_EXPORTS\\(X\\)[^\n]*" bodies "${text}")
  if(NOT bodies)
    message(FATAL_ERROR "${list}: no RONDEL_..._EXPORTS(X) list")
  endif()
  set(name "[A-Za-z_][A-Za-z0-9_]*")
  set(quoted "\"([^\"]+)\"")
  set(entry "X\\( *(${name}) *, *[a-z]+ *, *\\([^)]*\\) *, *${quoted} *, *${quoted} *\\)")
  set(names)
  set(itanium)
  set(msvc)
  foreach(body IN LISTS bodies)
    string(REGEX MATCHALL "X\\(" opened "${body}")
    string(REGEX MATCHALL "${entry}" entries "${body}")
    list(LENGTH opened opened_count)
    list(LENGTH entries entry_count)
    if(NOT opened_count EQUAL entry_count)
      message(FATAL_ERROR "${list}: an entry does not read as X(name, result, "
        "(parameters), \"itanium\", \"msvc\"):\n${body}")
    endif()
    foreach(one IN LISTS entries)
      string(REGEX MATCH "${entry}" one "${one}")
      list(APPEND names "${CMAKE_MATCH_1}")
      list(APPEND itanium "${CMAKE_MATCH_2}")
      list(APPEND msvc "${CMAKE_MATCH_3}")
    endforeach()
  endforeach()
  set(${prefix}_NAMES "${names}" PARENT_SCOPE)
  set(${prefix}_ITANIUM "${itanium}" PARENT_SCOPE)
  set(${prefix}_MSVC "${msvc}" PARENT_SCOPE)
endfunction()
