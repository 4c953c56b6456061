// Builders of the reply tokens. Each appends one token to a ByteWriter; the
// caller hands the bytes to its Channel. tds72 is true for TDS 7.2 and later
// (8-byte row counts, 4-byte user types and line numbers); false for 7.1.
#ifndef VENUEDB_SRC_TOKENS_H_
#define VENUEDB_SRC_TOKENS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "collation.h"
#include "value.h"
#include "wire.h"

namespace venuedb {

// Chinese_PRC_CI_AS: LCID 0x0804 with the usual comparison flags (the bytes
// of kDefaultCollation; a column's own are in ColumnInfo::collation).
extern const uint8_t kCollation[5];

enum DoneStatus : uint16_t {
  kDoneFinal = 0x0000,
  kDoneMore = 0x0001,
  kDoneError = 0x0002,
  kDoneCount = 0x0010,
  kDoneAttention = 0x0020,
};

enum DoneToken : uint8_t { kDone = 0xFD, kDoneProc = 0xFE, kDoneInProc = 0xFF };

// How a column or returned parameter travels.
// The numeric kinds travel as INTN/FLTN when nullable and as the fixed types
// (INT1 0x30, INT2 0x34, INT4 0x38, INT8 0x7F, FLT8 0x3E: no length byte in
// the type or the value) when not, as SQL Server sends them.
enum class WireType {
  kInt1,         // INTN 1 / INT1 (tinyint, 0 to 255)
  kInt2,         // INTN 2 / INT2 (smallint)
  kInt4,         // INTN 4 / INT4 (int)
  kInt8,         // INTN 8 / INT8 (bigint)
  kFloat8,       // FLTN 8 / FLT8 (float)
  kVarchar,      // BIGVARCHAR with the collation, bytes as stored
  kChar,         // BIGCHAR with the collation: always max_length bytes, blank
                 // padded
  kNVarchar,     // NVARCHAR with the collation, UTF-16LE
  kNChar,        // NCHAR with the collation: UTF-16LE padded with U+0020 to
                 // max_length bytes
  kBit,          // BITN 1 / BIT: 0 or 1
  kFloat4,       // FLTN 4 / FLT4 (real)
  kNumeric,      // NUMERICN with precision and scale (also when NOT NULL)
  kDecimal,      // DECIMALN, the same
  kMoney,        // MONEYN 8 / MONEY: value x 10000, high 4 bytes first
  kMoney4,       // MONEYN 4 / MONEY4 (smallmoney)
  kDateTime,     // DATETIMN 8 / DATETIME: days since 1900, 1/300 s ticks
  kDateTime4,    // DATETIMN 4 / DATETIM4: days since 1900, minutes
  kText,         // TEXT with the collation and a text pointer
  kNText,        // NTEXT, the same in UTF-16LE
  kVarcharMax,   // BIGVARCHAR 0xFFFF: the value in chunks (PLP, TDS 7.2+)
  kNVarcharMax,  // NVARCHAR 0xFFFF, the same in UTF-16LE
};

struct ColumnInfo {
  WireType type = WireType::kVarchar;
  uint16_t max_length = 8000;  // bytes, for the text kinds
  bool nullable = true;        // COLMETADATA flag 0x0001
  std::string name_utf16;
  // The text kinds' collation: its bytes go in the type info, and a varchar
  // value's bytes are in its code page.
  const Collation* collation = &kDefaultCollation;
  uint8_t precision = 0;  // kNumeric, kDecimal
  uint8_t scale = 0;
  std::string table_utf16;  // kText, kNText: the table it comes from, if any
};

void PutEnvChangeText(ByteWriter* w, uint8_t type, const std::string& new_utf16,
                      const std::string& old_utf16);
// ENVCHANGE 7: the database's collation, no old value.
void PutEnvChangeCollation(ByteWriter* w, const Collation& collation);
// version is the TDS version as a 32-bit number (0x74000004 for 7.4).
void PutLoginAck(ByteWriter* w, uint32_t version, const std::string& program);
void PutDone(ByteWriter* w, bool tds72, DoneToken token, uint16_t status,
             uint16_t command, uint64_t count);
// token is 0xAA (ERROR) or 0xAB (INFO). Texts in UTF-16LE.
void PutMessage(ByteWriter* w, bool tds72, uint8_t token, int32_t number,
                uint8_t state, uint8_t severity,
                const std::string& message_utf16,
                const std::string& server_utf16,
                const std::string& procedure_utf16, int32_t line);
void PutColMetadata(ByteWriter* w, bool tds72,
                    const std::vector<ColumnInfo>& columns);
// The value encodings shared by rows and returned parameters: an INTN or FLTN
// value with its length byte (length 0 is NULL), and a varchar value with its
// 2-byte length (0xFFFF is NULL), cut to at most `max_length` bytes at a
// character boundary of the collation's code page (GB18030).
// A non-nullable numeric column's value has no length byte (`nullable`
// false); PutNullValue is for nullable columns only (a NULL is length 0 for
// the one-byte-length kinds, NUMERICN and TEXT/NTEXT, 0xFFFF for the short
// texts, all ones in 8 bytes for PLP). A BIGCHAR value is cut like a varchar
// one, then padded with blanks to exactly max_length bytes.
void PutNullValue(ByteWriter* w, WireType type);
void PutIntValue(ByteWriter* w, WireType type, int64_t value,
                 bool nullable = true);
void PutFloatValue(ByteWriter* w, double value, bool nullable = true);
void PutBytesValue(ByteWriter* w, const void* data, size_t size,
                   size_t max_length);
void PutCharValue(ByteWriter* w, const void* data, size_t size,
                  size_t max_length);
// One row. For the UTF-16 kinds (kNVarchar, kNChar, kNText, kNVarcharMax)
// the value's text must already be UTF-16LE. A text longer than the column's
// max_length is cut to it (varchar: at a GB18030 character boundary). With
// nbc (TDS 7.3 and later) a row holding NULLs goes as NBCROW (0xD2: a bitmap
// of the NULL columns, then the other values) when that is shorter than ROW
// (0xD1). Numeric kinds take any value as a number (text parsed), datetimes
// their text; a value that is no such thing goes as 0 (1900-01-01).
void PutRow(ByteWriter* w, const std::vector<ColumnInfo>& columns,
            const std::vector<Value>& values, bool nbc = false);
void PutReturnStatus(ByteWriter* w, int32_t status);
// name_utf16 includes the leading "@".
void PutReturnValue(ByteWriter* w, bool tds72, uint16_t ordinal,
                    const std::string& name_utf16, const ColumnInfo& type,
                    const Value& value);

}  // namespace venuedb

#endif  // VENUEDB_SRC_TOKENS_H_
