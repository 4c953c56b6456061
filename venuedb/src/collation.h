// The collations the server knows: a name, the five bytes that stand for it on
// the wire, and the code page its varchar texts are stored and sent in.
//
// The five bytes (in COLMETADATA, RETURNVALUE, parameters and ENVCHANGE 7):
//   offset size meaning
//   0      2    LCID, little-endian (0x0804 Chinese PRC, 0x0409 English US)
//   2      1    comparison flags: 0xD0 = ignore kana, ignore width, case
//                insensitive (with the LCID's top 4 bits in the low nibble, 0)
//   3      1    binary flags and version (0)
//   4      1    SQL sort id: 0 for a Windows collation, 52 for
//                SQL_Latin1_General_CP1_CI_AS
//
// A database has one default collation, kept in the system table
// vdb_settings (row 'collation'); a column declared with COLLATE name has its
// own. SQLite knows the names too (RegisterCollations), so such a column's
// declaration is kept by SQLite and read back with its declared type.
#ifndef VENUEDB_SRC_COLLATION_H_
#define VENUEDB_SRC_COLLATION_H_

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace venuedb {

enum class CodePage {
  kGb18030,  // code page 936 texts, as glibc's GB18030
  kCp1252,   // Windows' Latin-1: every byte a character (see charset.h)
};

struct Collation {
  const char* name;  // as SQL Server spells it
  uint8_t bytes[5];
  CodePage code_page;
};

// Chinese_PRC_CI_AS (04 08 D0 00 00, GB18030): the default of a database
// created without --collation, and of one whose file names none.
extern const Collation kDefaultCollation;

// The collation named name (any case), or null when the server knows none by
// that name.
const Collation* FindCollation(const std::string& name);

// The names the server knows, comma-separated, for usage texts.
std::string CollationNames();

// SQL Server's refusal of an unknown name (error 448, class 16).
constexpr int32_t kInvalidCollationError = 448;
std::string InvalidCollationMessage(const std::string& name);

// Makes every known collation name usable in SQLite declarations and
// comparisons on db (case-insensitive for ASCII letters, and for CP1252's
// letters in a Latin-1 collation; a GB18030 character's trail byte is never
// folded). Returns SQLite's result code.
int RegisterCollations(sqlite3* db);

// The collation of a result column that is a table's column selected as it
// stands and declared with COLLATE name; otherwise database_default.
const Collation* ColumnCollation(sqlite3_stmt* stmt, int column,
                                 const Collation* database_default);

}  // namespace venuedb

#endif  // VENUEDB_SRC_COLLATION_H_
