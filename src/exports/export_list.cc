// Holds rondel.h to the export list: each function the list names is declared
// there with exactly the list's result and parameter types. (That rondel.h
// declares no function the list lacks is checked where the build writes the
// export files, write_export_files.cmake.)
#include "exports/export_list.h"

#include <type_traits>

#include "rondel.h"

#define RONDEL_CHECK_DECLARATION(name, result, parameters, itanium_symbol,    \
                                 msvc_symbol)                                 \
  static_assert(std::is_same<decltype(&::name), result(*) parameters>::value, \
                "rondel.h declares " #name " otherwise than the export list");
RONDEL_EXPORTS(RONDEL_CHECK_DECLARATION)
#undef RONDEL_CHECK_DECLARATION
