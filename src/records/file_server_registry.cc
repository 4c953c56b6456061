#include "records/file_server_registry.h"

#include <cstring>

#include "frame/diag.h"
#include "frame/exchange.h"
#include "frame/settings.h"
#include "platform/net.h"

namespace rondel {

namespace {

constexpr char kRegistrySql[] =
    "select fileservers.fileserver_id, fileservers.fileserver_name, "
    "fileserver_IpAddress from fileservers";

// The registry's address column may be wider than an address; 31 characters
// are kept, and only a value short enough to be an address can match.
constexpr size_t kRegistryAddressSize = 32;

// "@group_id" and, for a named server, "@fileserver_id": a server id of 0
// means the whole group, which the procedures express by the parameter's
// absence.
struct GroupAndServer {
  Param params[2];
  size_t count;

  GroupAndServer(int32_t group_id, int32_t file_server_id)
      : params{Param::Int("@group_id", group_id),
               Param::Int("@fileserver_id", file_server_id)},
        count(file_server_id != 0 ? 2 : 1) {}
};

bool SendConnectionCount(Exchange& exchange, const char* procedure,
                         const ConnectionCount& count) {
  // The declared width of the address is 100; the frame sends any input's
  // maximum length as -1 (see the header).
  return exchange.Call(
      procedure,
      {Param::Int("@group_id", count.group_id),
       Param::Int("@fileserver_id", count.file_server_id),
       Param::Int("@connection_count", count.connections),
       count.address != nullptr
           ? Param::Text("@fileserver_ipaddress1", count.address, 100)
           : Param::NullText("@fileserver_ipaddress1"),
       Param::Int("@totalconnection_count", count.total_connections)});
}

// Sent when it goes out of scope, so that it follows the lock's release on
// every path, an exception's too.
struct LeaveNotice {
  ~LeaveNotice() { Broadcast("leave Critical"); }
};

}  // namespace

int IdentifyFileServer() {
  // The host-name lookup may wait on the network's resolver for as long as it
  // likes: it runs before the lock, so only this call waits with it.
  char host[platform::kMaxHostAddresses][platform::kAddressTextSize];
  const int host_count =
      platform::HostAddresses(host, platform::kMaxHostAddresses);
  // From here to the end under the lock: FileServerIP changes only under it,
  // so two calls cannot interleave their stores.
  Exchange exchange(Exchange::kDeferOpen);
  if (host_count <= 0) {
    // A host without a known address cannot be any registered server; the
    // old address must not stay in play URLs as if it were ours.
    StoreFileServerIp("");
    return 0;
  }
  if (!exchange.Reconnect()) return 0;
  // A failed send shows as a result loop that reads nothing.
  exchange.SqlExec(kRegistrySql);
  char row_address[kRegistryAddressSize] = "";
  int result = 0;
  exchange.ReadRows({Column::Text(3, row_address, sizeof row_address)}, [&] {
    result = 1;
    for (int i = 0; i < host_count; ++i) {
      if (std::strcmp(row_address, host[i]) == 0) {
        StoreFileServerIp(host[i]);
        return false;
      }
    }
    return true;
  });
  return result;
}

bool ReadServerGroup(int32_t server_id, int32_t* group_id) {
  Exchange exchange;
  if (!exchange.connected()) return false;
  if (!exchange.Call(
          "sp_getfileservers",
          {Param::Int("@id", server_id), Param::NullText("@ipaddress"),
           Param::NullInt("@group_id"), Param::NullText("@group_name", 0)})) {
    return false;
  }
  bool found = false;
  exchange.ReadRows({Column::Int(9, group_id)}, [&] {
    found = true;
    return true;
  });
  return found;
}

bool AddConnectionCount(const ConnectionCount& count) {
  Exchange exchange;
  return SendConnectionCount(exchange, "sp_addfileserverconnectioninfo", count);
}

bool ModifyConnectionCount(const ConnectionCount& count) {
  Broadcast("into Critical");
  LeaveNotice leave_notice;  // declared before the exchange: sent after it ends
  Exchange exchange(Exchange::kDeferOpen);
  Broadcast("into Critical1");
  exchange.Reconnect();
  Broadcast("have into Critical");
  const bool accepted =
      SendConnectionCount(exchange, "sp_modifyfileserverconnectioninfo", count);
  if (accepted) Broadcast("good return");
  return accepted;
}

void ReadConnectionCount(int32_t group_id, int32_t file_server_id,
                         int32_t* connections, char* address) {
  Exchange exchange;
  const GroupAndServer params(group_id, file_server_id);
  if (!exchange.Call("sp_getfileserverconnectioninfo", params.params,
                     params.count)) {
    return;
  }
  char row_address[host::kAddressSize] = "";
  exchange.ReadRows({Column::Int(3, connections),
                     Column::Text(4, row_address, sizeof row_address)},
                    [&] {
                      std::memcpy(address, row_address,
                                  std::strlen(row_address) + 1);
                      return true;
                    });
}

void DeleteConnectionCount(int32_t group_id, int32_t file_server_id) {
  Exchange exchange;
  const GroupAndServer params(group_id, file_server_id);
  if (exchange.CallSendOnly("sp_deletefileserverconnectioninfo", params.params,
                            params.count)) {
    exchange.Confirm();
  }
}

bool SetGroupState(int32_t is_valid, int32_t group_id) {
  Exchange exchange;
  return exchange.Call(
      "sp_modifyservergroup",
      {Param::Int("@curid", group_id), Param::Int("@isvalid", is_valid)});
}

}  // namespace rondel
