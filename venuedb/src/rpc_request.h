// Decoding an RPC request: procedure name, then parameters (name, status, type
// info, value).
#ifndef VENUEDB_SRC_RPC_REQUEST_H_
#define VENUEDB_SRC_RPC_REQUEST_H_

#include <cstdint>
#include <string>
#include <vector>

#include "charset.h"
#include "tokens.h"
#include "value.h"

namespace venuedb {

struct RpcParam {
  std::string
      name;  // as sent (GB18030 bytes), possibly empty for a positional one
  bool output = false;       // status bit 0x01
  bool use_default = false;  // status bit 0x02: the declared default applies
  uint8_t type_code = 0;     // the wire type byte
  uint32_t max_length =
      0;  // as declared on the wire (bytes; UTF-16 bytes for NVARCHAR)
  // "int", "varchar", "float", "datetime", "binary", "money", "numeric"
  std::string kind;
  Value value;  // integers as kInt, texts as GB18030 bytes, NULL as kNull
  ColumnInfo return_type;  // how a returned value travels back (typed as sent)
};

struct RpcRequest {
  // GB18030 bytes. A call by procedure id gets the name of a well-known id (10
  // is "sp_executesql"); empty for any other id.
  std::string name;
  uint16_t proc_id = 0;
  std::vector<RpcParam> params;
};

// The SQL Server name of the type the parameter was sent as, for messages:
// "int", "bigint", "bit", "float", "real", "numeric", "decimal", "money",
// "smallmoney", "datetime", "varchar", "nvarchar", "text", "varbinary", ...;
// for an EXEC argument in a batch, its kind ("int", "varchar").
std::string SentTypeName(const RpcParam& param);

// Parses an RPC payload (packet headers stripped). tds72 says whether
// ALL_HEADERS leads (and which byte separates batched calls: 0xFF or 0xFE from
// TDS 7.2, 0x80 before). Every length is checked against the protocol's rules
// (a DATETIMN value is 0, 4 or 8 bytes, a UTF-16 text has an even length, ...).
// A request holding a second call is refused; a trailing separator is
// accepted. Returns false with a message in *error.
bool ParseRpc(const std::string& payload, bool tds72, Charset* charset,
              RpcRequest* request, std::string* error);

}  // namespace venuedb

#endif  // VENUEDB_SRC_RPC_REQUEST_H_
