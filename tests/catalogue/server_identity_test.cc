// This host's address list and the identification of this video server among
// the venue's file servers.
#include "catalogue/server_identity.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "catalogue/tables.h"
#include "platform/net_test_hooks.h"

namespace rondel {
namespace {

class ServerIdentityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetCatalogue();
    memset(g_catalogue.local_addresses, 0, sizeof g_catalogue.local_addresses);
  }
  void TearDown() override { platform::ClearHostAddressOverride(); }

  static void AddServer(int32_t id, const char* address, int32_t group_id) {
    TableRecords& counters = g_catalogue.table_records;
    FileServerRecord& server =
        g_catalogue.file_servers[counters.FileServerCount++];
    server.FileServerId = id;
    strncpy(server.ServerAddress, address, sizeof server.ServerAddress - 1);
    server.GroupId = group_id;
  }
  static std::vector<std::string> LocalAddresses() {
    std::vector<std::string> list;
    for (const auto& entry : g_catalogue.local_addresses) {
      if (entry[0] == '\0') break;
      list.emplace_back(entry);
    }
    return list;
  }
};

TEST_F(ServerIdentityTest,
       FirstFileServerInTableOrderWinsWhateverTheLocalOrder) {
  platform::OverrideHostAddresses({"10.0.0.1", "10.0.0.2"});  // A then B
  LoadLocalAddresses();
  AddServer(3, "10.0.0.2", 2);  // B
  AddServer(7, "10.0.0.1", 4);  // A
  EXPECT_TRUE(IdentifyServer());
  EXPECT_EQ(g_catalogue.identity_file_server_id, 3);
  EXPECT_EQ(g_catalogue.identity_group_id, 2);
}

TEST_F(ServerIdentityTest, NoMatchLeavesIdentityZero) {
  platform::OverrideHostAddresses({"10.0.0.1"});
  LoadLocalAddresses();
  g_catalogue.identity_file_server_id = 9;
  g_catalogue.identity_group_id = 9;
  AddServer(3, "10.0.0.10", 2);  // a longer text is no match
  AddServer(4, "010.0.0.1",
            2);  // leading zeros never equal the resolver's text
  AddServer(5, "10.0.0.1 ", 2);  // nor does a trailing blank
  EXPECT_FALSE(IdentifyServer());
  EXPECT_EQ(g_catalogue.identity_file_server_id, 0);
  EXPECT_EQ(g_catalogue.identity_group_id, 0);
}

TEST_F(ServerIdentityTest, EmptyAddressesNeverMatch) {
  // An empty local list matches nothing, not even a server with an empty
  // address.
  AddServer(3, "", 2);
  EXPECT_FALSE(IdentifyServer());
  platform::OverrideHostAddresses({"10.0.0.1"});
  LoadLocalAddresses();
  EXPECT_FALSE(IdentifyServer());
  AddServer(8, "10.0.0.1", 6);
  EXPECT_TRUE(IdentifyServer());
  EXPECT_EQ(g_catalogue.identity_file_server_id, 8);
  EXPECT_EQ(g_catalogue.identity_group_id, 6);
}

TEST_F(ServerIdentityTest, ServersBeyondTheCountAreNotConsidered) {
  platform::OverrideHostAddresses({"10.0.0.1"});
  LoadLocalAddresses();
  AddServer(3, "10.0.0.9", 2);
  AddServer(4, "10.0.0.1", 5);
  g_catalogue.table_records.FileServerCount = 1;
  EXPECT_FALSE(IdentifyServer());
}

TEST_F(ServerIdentityTest, LocalAddressesKeepResolverOrderAndAtMost32) {
  std::vector<std::string> many;
  for (int i = 1; i <= 40; ++i) many.push_back("10.20.1." + std::to_string(i));
  platform::OverrideHostAddresses(many);
  LoadLocalAddresses();
  std::vector<std::string> expected(many.begin(), many.begin() + 32);
  EXPECT_EQ(LocalAddresses(), expected);

  // A shorter list afterwards clears the entries it does not fill.
  platform::OverrideHostAddresses({"10.1.2.3", "127.0.0.1"});
  LoadLocalAddresses();
  EXPECT_EQ(LocalAddresses(),
            (std::vector<std::string>{"10.1.2.3", "127.0.0.1"}));
  EXPECT_EQ(g_catalogue.local_addresses[2][0], '\0');
  EXPECT_EQ(g_catalogue.local_addresses[31][0], '\0');
}

TEST_F(ServerIdentityTest, UnresolvableHostKeepsTheList) {
  platform::OverrideHostAddresses({"10.0.0.1", "10.0.0.2"});
  LoadLocalAddresses();
  platform::FailHostAddresses();
  LoadLocalAddresses();
  EXPECT_EQ(LocalAddresses(),
            (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
}

}  // namespace
}  // namespace rondel
