#include "catalogue/server_identity.h"

#include <algorithm>
#include <cstring>

#include "catalogue/tables.h"
#include "catalogue/text_field.h"
#include "platform/net.h"

namespace rondel {

namespace {

constexpr size_t kAddressFieldSize = sizeof g_catalogue.local_addresses[0];
static_assert(kAddressFieldSize == platform::kAddressTextSize,
              "address field width");

bool SameAddress(const char* local, const char* server) {
  return strncmp(local, server, kAddressFieldSize) == 0;
}

}  // namespace

void LoadLocalAddresses() {
  char found[kLocalAddressCapacity][platform::kAddressTextSize] = {};
  const int count = platform::HostAddresses(found, kLocalAddressCapacity);
  if (count < 0) return;
  memset(g_catalogue.local_addresses, 0, sizeof g_catalogue.local_addresses);
  for (int i = 0; i < std::min(count, kLocalAddressCapacity); ++i) {
    found[i][kAddressFieldSize - 1] = '\0';
    StoreTextField(g_catalogue.local_addresses[i], found[i]);
  }
}

bool IdentifyServer() {
  g_catalogue.identity_file_server_id = 0;
  g_catalogue.identity_group_id = 0;
  const int32_t stored = g_catalogue.table_records.FileServerCount;
  const int servers = std::clamp(stored, 0, kFileServerCapacity);
  for (int i = 0; i < servers; ++i) {
    const FileServerRecord& server = g_catalogue.file_servers[i];
    if (server.ServerAddress[0] == '\0')
      continue;  // an empty address never matches
    for (int j = 0; j < kLocalAddressCapacity; ++j) {
      const char* local = g_catalogue.local_addresses[j];
      if (local[0] == '\0') break;
      if (SameAddress(local, server.ServerAddress)) {
        g_catalogue.identity_file_server_id = server.FileServerId;
        g_catalogue.identity_group_id = server.GroupId;
        return true;
      }
    }
  }
  return false;
}

}  // namespace rondel
