// What separates the words and statements of SQL text, read the same way by
// batches, transaction statements and procedure texts: blanks, "--" comments
// to the end of the line and "/* */" comments (an unclosed one runs to the
// end), and, between statements, ';'.
#ifndef VENUEDB_SRC_SQL_BLANKS_H_
#define VENUEDB_SRC_SQL_BLANKS_H_

#include <cstddef>
#include <string>

namespace venuedb {

// Where the next word or sign after sql[i] starts: past blanks and comments,
// and past ';' when `semicolons` (between statements; inside one, ';' ends
// it). sql.size() when nothing follows.
size_t SkipBlanks(const std::string& sql, size_t i, bool semicolons = true);

}  // namespace venuedb

#endif  // VENUEDB_SRC_SQL_BLANKS_H_
