// A library exporting the lifecycle, diagnostic and lookup functions (the base
// exports of the export list) but none of the playback, records or registry
// ones, as a build from before them did: the host command must still run the
// other actions and name what an action calling one of those lacks. Each
// function answers its type's zero (0, false: not found, not done).
#include "exports/export_list.h"
#include "rondel.h"

#define RONDEL_STUB(name, result, parameters, itanium_symbol, msvc_symbol) \
  result name parameters { return result(); }
RONDEL_BASE_EXPORTS(RONDEL_STUB)
#undef RONDEL_STUB
