// The shapes a venue's database comes in. Every shape holds the same rows; what
// differs is how its tables declare the columns the video servers read, and so
// how the server sends them:
//   kGbk      texts as varchar in the Chinese_PRC collation (GBK bytes),
//   numbers
//             as int: the shape of most venues, and venuedb's own schema
//   kUnicode  the texts the video servers read as nvarchar, nchar, ntext and
//             nvarchar(max) (sent as UTF-16), numbers as bit, tinyint, smallint
//             and numeric where a venue's tables might declare them so
//   kLatin1   venuedb's own schema under SQL_Latin1_General_CP1_CI_AS: the GBK
//             bytes of a Chinese venue held in Latin-1 varchar columns, as a
//             server installed with its default collation keeps them
#ifndef VENUEDB_SRC_VENUE_SHAPE_H_
#define VENUEDB_SRC_VENUE_SHAPE_H_

#include <sqlite3.h>

#include <string>

#include "collation.h"

namespace venuedb {

enum class VenueShape { kGbk, kUnicode, kLatin1 };

// The shape named "gbk", "unicode" or "latin1"; false for any other name.
bool ParseVenueShape(const std::string& name, VenueShape* shape);
// The names above, for usage texts: "gbk, unicode, latin1".
const char* VenueShapeNames();

// The database default collation a shape's database is created with.
const Collation& VenueShapeCollation(VenueShape shape);

// Re-declares the columns the shape changes in db's venue tables (their stored
// CREATE TABLE text; the tables' layout and rows are untouched). Call it on a
// database just made by InitDatabase, before rows are written, so that every
// value is stored with the new declaration's affinity. kGbk and kLatin1 change
// nothing. Returns false with a message in *error if a table or column the
// shape names is not declared as expected.
bool ApplyVenueShape(sqlite3* db, VenueShape shape, std::string* error);

// InitDatabase(path, error, collation), then ApplyVenueShape on the new
// database. Returns false with a message in *error if either fails.
bool InitVenueDatabase(const std::string& path, VenueShape shape,
                       const Collation& collation, std::string* error);

}  // namespace venuedb

#endif  // VENUEDB_SRC_VENUE_SHAPE_H_
