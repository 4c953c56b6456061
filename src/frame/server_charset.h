// ClientCharset=server: the client character set that follows the database's
// own code page, so that a venue's varchar texts pass as their stored bytes
// whatever its collation (a Latin-1 collated database holding GBK bytes reads
// them as CP1252, unconverted).
//
// The first connection that opens to a database asks it its default code page
// (one SQL batch); the answer is remembered for the life of the process, per
// server and database, and every later login names it. A database that cannot
// say keeps GB18030, the Chinese venues' set, with one log line.
#ifndef RONDEL_FRAME_SERVER_CHARSET_H_
#define RONDEL_FRAME_SERVER_CHARSET_H_

#include <string>

namespace rondel {

// Whether a ClientCharset setting asks to follow the server ("server", any
// case).
bool FollowsServerCharset(const char* setting);

// The character set learned for `database` ("host:port \"name\""), or empty
// when none was learned yet. REQUIRES: CatalogueLock() held.
std::string LearnedServerCharset(const std::string& database);

// Asks the open connection `db` (a DBPROCESS*) its database's code page and
// remembers the client character set that keeps its texts as stored:
// GB18030 for 936, UTF-8 for 65001, CP<n> otherwise; GB18030 with one log line
// when the database answers without a code page. Returns the set remembered,
// or empty (nothing remembered) when the connection died while asking.
// REQUIRES: CatalogueLock() held; no results pending on db.
std::string LearnServerCharset(void* db, const std::string& database);

// The client character set for a database code page (see above).
std::string CharsetForCodePage(int code_page);

}  // namespace rondel

#endif  // RONDEL_FRAME_SERVER_CHARSET_H_
