// The client library's header and the casts between its handles and the
// frame's own types. Private to the frame: only session.cc, exchange.cc and
// exchange_results.cc include it, so no other code (and no public header)
// depends on DB-Library.
#ifndef RONDEL_FRAME_DB_LIBRARY_H_
#define RONDEL_FRAME_DB_LIBRARY_H_

// clang-format off
#include <sybfront.h>  // declares the types sqldb.h uses: keep it first
#include <sqldb.h>     // DB-Library with the SQLINT4 and SQLVARCHAR names
// clang-format on

#include "frame/session.h"

namespace rondel {

// The connection behind a session handle (null when not open).
inline DBPROCESS* Db(const Session& session) {
  return static_cast<DBPROCESS*>(session.handle());
}

// DB-Library takes parameter values and bind destinations as BYTE* although it
// only reads the former; these keep the casts in one place.
inline BYTE* ValueBytes(const void* value) {
  return static_cast<BYTE*>(const_cast<void*>(value));
}

}  // namespace rondel

#endif  // RONDEL_FRAME_DB_LIBRARY_H_
