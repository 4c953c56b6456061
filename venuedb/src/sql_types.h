// The SQL Server types a declaration names ("nvarchar(20)", "numeric(9,2)",
// "varchar(max)", "money", ...), how each travels as a column or returned
// parameter, and how a value is converted into one.
#ifndef VENUEDB_SRC_SQL_TYPES_H_
#define VENUEDB_SRC_SQL_TYPES_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "tokens.h"
#include "value.h"

namespace venuedb {

struct SqlType {
  enum Base {
    kUnknown,  // not a SQL Server spelling: the column follows its values
    kTinyInt,
    kSmallInt,
    kInt,
    kBigInt,
    kBit,
    kFloat,
    kReal,
    kNumeric,
    kDecimal,
    kMoney,
    kSmallMoney,
    kDateTime,
    kSmallDateTime,
    kChar,
    kVarchar,
    kStoredText,  // text: SQLite keeps every spelling of it as "TEXT", the
                  // type venuedb's own schema declares its texts with, so it
                  // travels as varchar of 8000 bytes (as it always has)
    kText,        // SQL Server's text: a table column whose CREATE TABLE
                  // spelled it otherwise than "TEXT" (declared_type.h)
    kNChar,
    kNVarchar,
    kNText,
  };
  Base base = kUnknown;
  uint32_t length = 0;  // characters of a char kind, 0 for (max)
  bool max = false;     // varchar(max), nvarchar(max)
  uint8_t precision = 18;
  uint8_t scale = 0;
};

// Reads a declaration as SQLite keeps it; quotes and brackets around the type
// name are ignored ("[nvarchar](20)"), case is not significant. Lengths outside
// SQL Server's (char 1-8000, nchar 1-4000, precision 1-38, scale up to
// precision) give kUnknown.
SqlType ParseSqlType(std::string_view declared);

// SQLite cannot read "(max)" after a type name: writes each varchar(max),
// nvarchar(max) and varbinary(max) outside quotes and comments as
// varchar(-1) (and so on) in place, a text of the same length, so every
// position in it stays where it was. ParseSqlType reads (-1) as (max).
void WriteMaxLengths(std::string* sql);

// How a column or returned parameter of the type travels: the numeric kinds
// NOT NULL as their fixed types, nullable as the N types; (max) kinds as PLP
// from TDS 7.2, as TEXT / NTEXT before. REQUIRES: type.base != kUnknown.
ColumnInfo ColumnFor(const SqlType& type, bool nullable, uint32_t tds_version);

// Whether the column's texts travel as UTF-16 (converted from the stored code
// page).
bool IsWide(WireType type);
// Whether the column carries text (bytes as stored or UTF-16).
bool IsTextual(WireType type);

// A value converted into the type, as SQL Server converts an assigned value:
// integers (a number as text too) range-checked, bit 0 or 1, float and real
// as reals, numeric and money rounded to their scale and checked against
// their precision (integral ones as integers, others as reals), texts cut to
// their length (bytes of the stored GB18030 text for char kinds, characters
// for the N kinds). Datetimes and NULL stay as they are. Returns false when
// the value does not fit.
bool ConvertTo(const SqlType& type, const Value& in, Value* out);

// An error as SQL Server reports it (class 16).
struct SqlError {
  int32_t number = 0;
  std::string message;
};
// The error for a value written to a column of the type that does not fit:
// 220 "Arithmetic overflow error for data type tinyint, value = 300." for
// tinyint and smallint; 8115 "Arithmetic overflow error converting expression
// to data type int." for the other integers and money, "... converting
// numeric to data type numeric." for numeric and decimal.
SqlError WriteOverflow(const SqlType& type, const Value& value);
// The error for a procedure parameter sent as `from` (a SQL Server type name:
// "int", "numeric", ...) that does not fit its declared type: 8114 "Error
// converting data type int to tinyint."
SqlError ParamOverflow(const SqlType& type, const std::string& from);

// A number (an integer, a real, or decimal text such as "-12.345") times
// 10^scale, rounded half away from zero, as sign and magnitude. False (0)
// when it is not a number or needs more than 38 digits.
bool ScaledDecimal(const Value& v, int scale, unsigned __int128* magnitude,
                   bool* negative);
// A datetime value (its text) as days since 1900-01-01 and milliseconds
// since midnight; false (0, 0) when it is not one.
bool ParseDateTimeValue(const Value& v, int32_t* days, uint32_t* ms);

// The name of the type as SQL Server spells it in messages ("smallint").
const char* SqlTypeName(SqlType::Base base);

// Datetime text ("YYYY-MM-DD[ HH:MM[:SS[.fff]]]", also with a 'T') as days
// since 1900-01-01 and milliseconds since midnight. False when it is not one.
bool ParseDateTime(std::string_view text, int32_t* days, uint32_t* ms);
// Days since 1900-01-01 and milliseconds to "YYYY-MM-DD HH:MM:SS.mmm".
std::string DateTimeText(int32_t days, uint32_t ms);

}  // namespace venuedb

#endif  // VENUEDB_SRC_SQL_TYPES_H_
