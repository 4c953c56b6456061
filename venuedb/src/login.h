// The two messages that open a connection: pre-login and LOGIN7.
#ifndef VENUEDB_SRC_LOGIN_H_
#define VENUEDB_SRC_LOGIN_H_

#include <cstdint>
#include <string>

namespace venuedb {

// Builds the answer to a pre-login request: encryption not supported (so the
// login comes in clear), no MARS. The request's contents do not change the
// answer.
std::string PreloginReply();

// What a LOGIN7 carries. The texts travel as UTF-16LE and are held here as the
// server's GB18030 bytes (the password after its bytes are decoded), like every
// other text of the server, so they compare with vdb_logins and go to the
// journal unchanged; database_utf16 keeps the name as sent.
struct LoginRequest {
  uint32_t tds_version = 0;  // as a number: 0x74000004 for 7.4
  uint32_t packet_size = 0;
  std::string host, user, password, app, server, library, language, database;
  std::string database_utf16;  // the database name as sent
};

// Parses a LOGIN7 payload (header stripped). Returns false when it is
// malformed.
bool ParseLogin7(const std::string& payload, LoginRequest* login);

// The first TDS version whose requests carry ALL_HEADERS and whose DONE
// tokens carry 8-byte counts.
constexpr uint32_t kTds72 = 0x72000000;

// The name of a TDS version as the journal records it ("7.4", "7.3B", ...).
std::string TdsVersionName(uint32_t version);

}  // namespace venuedb

#endif  // VENUEDB_SRC_LOGIN_H_
