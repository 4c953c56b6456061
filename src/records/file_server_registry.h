// The venue's file-server registry: whether this machine is a registered file
// server (and so the address play URLs name), a server's group, the connection
// counts video servers keep per file server, and a group's validity flag.
//
// Each function is one whole exchange (frame/exchange.h) on a connection of its
// own; none reads or changes the in-memory catalogue.
// REQUIRES (all): the catalogue lock not held by the calling thread.
//
// Every integer goes as SQLINT4 (maxlen -1, datalen -1). The address of a
// connection count, "@fileserver_ipaddress1", is declared varchar(100) by the
// database but goes with maxlen -1: the client library refuses a positive
// maximum length on an input (frame/exchange.h), and the server sizes the
// value by its own length.
#ifndef RONDEL_RECORDS_FILE_SERVER_REGISTRY_H_
#define RONDEL_RECORDS_FILE_SERVER_REGISTRY_H_

#include <cstddef>
#include <cstdint>

#include "exports/host_interface.h"

namespace rondel {

// Compares this host's addresses (platform::HostAddresses: at most 32, loopback
// last) with the address column of every "fileservers" row, row by row, each
// row against the host's addresses in order. At the first equal pair that
// address becomes FileServerIP and the answer is 1; the rows after it are not
// read. Otherwise 1 when any row came, 0 when none did; FileServerIP is then
// unchanged. When this host's addresses cannot be listed, or the list is
// empty, FileServerIP is emptied and the answer is 0 without asking the
// database; with no connection the answer is 0, FileServerIP unchanged.
// The addresses are listed before the lock is taken (the host-name lookup may
// wait on the resolver, and no other database call waits with it); the lock is
// held from then to the end, so FileServerIP is replaced only under it.
//
//   host 10.0.0.5, 10.0.0.6; rows 10.0.0.9, 10.0.0.6, 10.0.0.5
//   -> FileServerIP "10.0.0.6", 1 (the third row is not read)
int IdentifyFileServer();

// "sp_getfileservers" with "@id" = `server_id` and "@ipaddress", "@group_id",
// "@group_name" sent as NULL; column 9 (the server group) of every row is
// fetched into *group_id, which thus holds the last row's and is untouched when
// none comes. True when a row was read.
// REQUIRES: group_id != nullptr.
bool ReadServerGroup(int32_t server_id, int32_t* group_id);

// One file server's connection count as the video servers report it.
// `address` may be null (sent as NULL); an empty text is sent as NULL too.
struct ConnectionCount {
  int32_t group_id;
  int32_t file_server_id;
  int32_t connections;
  int32_t total_connections;
  const char* address;
};

// "sp_addfileserverconnectioninfo" with "@group_id", "@fileserver_id",
// "@connection_count", "@fileserver_ipaddress1", "@totalconnection_count" in
// this order (the total after the address). True when the call was sent and
// the server accepted it.
bool AddConnectionCount(const ConnectionCount& count);

// As AddConnectionCount with "sp_modifyfileserverconnectioninfo", and with
// five diagnostic texts on every path, in this order: "into Critical" before
// taking the lock, "into Critical1" once it is held, "have into Critical" after
// the connection attempt (opened or not), "good return" when the server
// accepted the call, "leave Critical" after releasing the lock.
bool ModifyConnectionCount(const ConnectionCount& count);

// "sp_getfileserverconnectioninfo" with "@group_id" and, when
// `file_server_id` is not 0, "@fileserver_id". Every row fetches column 3 into
// *connections and copies column 4 (cut to 19 characters) into `address`, so
// both hold the last row's values, and stay untouched when no row comes (or no
// connection opens).
// REQUIRES: connections != nullptr; address != nullptr, holding
// host::kAddressSize bytes.
void ReadConnectionCount(int32_t group_id, int32_t file_server_id,
                         int32_t* connections, char* address);

// "sp_deletefileserverconnectioninfo" with "@group_id" and, when
// `file_server_id` is not 0, "@fileserver_id"; the server's confirmation is
// awaited but not judged, so the caller learns nothing of the outcome.
void DeleteConnectionCount(int32_t group_id, int32_t file_server_id);

// "sp_modifyservergroup" with "@curid" = `group_id`, then "@isvalid" =
// `is_valid`. True when the call was sent and the server accepted it.
bool SetGroupState(int32_t is_valid, int32_t group_id);

}  // namespace rondel

#endif  // RONDEL_RECORDS_FILE_SERVER_REGISTRY_H_
