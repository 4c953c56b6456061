// The file-server registry through its exports, against venuedb over real
// FreeTDS: the journal shows what was sent, the tables what it changed, the
// outputs and FileServerIP what the host sees.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <future>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "database_test.h"
#include "frame/settings.h"
#include "platform/net_test_hooks.h"
#include "rondel.h"
#include "test_system.h"
#include "udp_receiver.h"

namespace rondel {
namespace {

using testing::SetEnv;

using testing::Row;
using testing::Sql;

// Requests, leaving out the logins, database selections and closes around
// them.
const std::string kRequestKinds = "j.kind IN ('batch', 'rpc', 'attention')";

class RegistryTest : public testing::DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    venue_.Exec(
        "DELETE FROM fileserver_connections; DELETE FROM fileservers; "
        "DELETE FROM server_groups; "
        "INSERT INTO server_groups VALUES(4, 'east', 1)");
  }
  void TearDown() override { platform::ClearHostAddressOverride(); }

  // One "fileservers" row per address, ids from 1 in this order, group 4.
  void RegisterServers(const std::vector<std::string>& addresses) {
    for (size_t i = 0; i < addresses.size(); ++i) {
      venue_.Exec(
          "INSERT INTO fileservers(fileserver_id, fileserver_name, "
          "fileserver_IpAddress, group_id) VALUES(" +
          std::to_string(i + 1) + ", 'fs', " + Sql(addresses[i]) + ", 4)");
    }
  }
  std::string FileServerIp() {
    char address[sizeof Settings::file_server_ip];
    CopyFileServerIp(address);
    return address;
  }
  // Every request in arrival order: "batch: TEXT", "PROC(@name type value,
  // ...)" with NULL for a null value, or the request's kind.
  std::vector<std::string> Requests() {
    std::vector<std::string> requests;
    std::optional<std::string> last_id;
    for (const Row& row : venue_.Query(
             "SELECT j.id, j.kind, j.text, p.name, p.type, p.is_null, p.value "
             "FROM vdb_journal j LEFT JOIN vdb_journal_params p "
             "ON p.journal_id = j.id WHERE " +
             kRequestKinds + " ORDER BY j.id, p.ordinal")) {
      const std::string kind = row[1].value_or("?");
      const std::string text = row[2].value_or("");
      if (row[0] != last_id) {
        last_id = row[0];
        requests.push_back(kind == "rpc"     ? text + "()"
                           : kind == "batch" ? "batch: " + text
                                             : kind);
      }
      if (!row[3]) continue;
      std::string& request = requests.back();
      const bool first = request[request.size() - 2] == '(';
      request.insert(request.size() - 1,
                     (first ? "" : ", ") + *row[3] + " " +
                         row[4].value_or("?") + " " +
                         (row[5] == std::string("1") ? std::string("NULL")
                                                     : row[6].value_or("?")));
    }
    return requests;
  }
  // The kinds of the requests, comma-separated.
  std::string Kinds() {
    std::string kinds;
    for (const Row& row : venue_.Query("SELECT kind FROM vdb_journal j WHERE " +
                                       kRequestKinds + " ORDER BY id"))
      kinds += (kinds.empty() ? "" : ",") + row[0].value_or("?");
    return kinds;
  }
  std::string Table(const std::string& select) {
    std::string out;
    for (const Row& row : venue_.Query(select)) {
      out += out.empty() ? "" : "; ";
      for (size_t i = 0; i < row.size(); ++i)
        out += (i ? "/" : "") + row[i].value_or("NULL");
    }
    return out;
  }
  // "result FileServerIP" after GetDataServer.
  std::string DataServer() {
    const int result = GetDataServer();
    return std::to_string(result) + " " + FileServerIp();
  }
  // "result count address" of GetVideoServerConnectNum on outputs that start
  // as -1 and "(addr)".
  std::string ConnectNum(int group_id, int file_server_id) {
    int connections = -1;
    char address[20] = "(addr)";
    bool result = GetVideoServerConnectNum(group_id, file_server_id,
                                           &connections, address);
    return std::to_string(result) + " " + std::to_string(connections) + " " +
           address;
  }
  // "result group" of GetServerGroup on an output that starts as -1.
  std::string ServerGroup(int server_id) {
    int group = -1;
    bool result = GetServerGroup(server_id, &group);
    return std::to_string(result) + " " + std::to_string(group);
  }
};

TEST_F(RegistryTest, EachCallSendsItsParametersInItsOrder) {
  platform::OverrideHostAddresses({"10.0.0.5"});
  GetDataServer();
  ServerGroup(5);
  AddVideoServerConnectNum(4, 2, 3, 10, "10.0.0.5");
  AddVideoServerConnectNum(4, 2, 3, 10, "");
  AddVideoServerConnectNum(4, 2, 3, 10, nullptr);
  ModifyVideoServerConnectNum(4, 2, 3, 10, "10.0.0.5");
  ConnectNum(4, 0);
  ConnectNum(4, 2);
  DeleteVideoServerConnectNum(4, 0);
  DeleteVideoServerConnectNum(4, 2);
  ModifyGroupState(1, 7);
  const std::string count =
      "(@group_id int 4, @fileserver_id int 2, "
      "@connection_count int 3, "
      "@fileserver_ipaddress1 varchar ";
  EXPECT_EQ(
      Requests(),
      (std::vector<std::string>{
          "batch: select fileservers.fileserver_id, "
          "fileservers.fileserver_name, fileserver_IpAddress from fileservers",
          "sp_getfileservers(@id int 5, @ipaddress varchar NULL, "
          "@group_id int NULL, @group_name varchar NULL)",
          "sp_addfileserverconnectioninfo" + count +
              "10.0.0.5, @totalconnection_count int 10)",
          "sp_addfileserverconnectioninfo" + count +
              "NULL, @totalconnection_count int 10)",
          "sp_addfileserverconnectioninfo" + count +
              "NULL, @totalconnection_count int 10)",
          "sp_modifyfileserverconnectioninfo" + count +
              "10.0.0.5, @totalconnection_count int 10)",
          "sp_getfileserverconnectioninfo(@group_id int 4)",
          "sp_getfileserverconnectioninfo(@group_id int 4, "
          "@fileserver_id int 2)",
          "sp_deletefileserverconnectioninfo(@group_id int 4)",
          "sp_deletefileserverconnectioninfo(@group_id int 4, "
          "@fileserver_id int 2)",
          "sp_modifyservergroup(@curid int 7, @isvalid int 1)",
      }));
}

struct DataServerCase {
  const char* name;
  std::optional<std::vector<std::string>> host;  // nullopt: cannot be listed
  std::vector<std::string> registry;             // fileservers addresses
  std::string answer;  // "result FileServerIP", which starts as 10.9.9.9
  std::string kinds;   // journal kinds of the requests
};

void PrintTo(const DataServerCase& c, std::ostream* os) { *os << c.name; }

std::vector<std::string> HostOf33() {
  std::vector<std::string> host;
  for (int i = 1; i <= 33; ++i) host.push_back("10.0.1." + std::to_string(i));
  return host;
}

class DataServerTest : public RegistryTest,
                       public ::testing::WithParamInterface<DataServerCase> {};

TEST_P(DataServerTest, FindsThisMachineAmongTheRegisteredServers) {
  const DataServerCase& c = GetParam();
  if (c.host) {
    platform::OverrideHostAddresses(*c.host);
  } else {
    platform::FailHostAddresses();
  }
  RegisterServers(c.registry);
  EXPECT_EQ(DataServer(), c.answer);
  EXPECT_EQ(Kinds(), c.kinds);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DataServerTest,
    ::testing::Values(
        // A match ends the reading with an attention (the rest of the rows
        // cancelled); the third row, though the host's first address, is not
        // taken.
        DataServerCase{"FirstMatchingRowWinsAndEndsTheReading",
                       std::vector<std::string>{"10.0.0.5", "10.0.0.6"},
                       {"10.0.0.9", "10.0.0.6", "10.0.0.5"},
                       "1 10.0.0.6",
                       "batch,attention"},
        DataServerCase{"OnlyOtherServersLeaveTheAddress",
                       std::vector<std::string>{"10.0.0.5"},
                       {"10.0.0.8", "10.0.0.9"},
                       "1 10.9.9.9",
                       "batch"},
        DataServerCase{"EmptyRegistryAnswersZero",
                       std::vector<std::string>{"10.0.0.5"},
                       {},
                       "0 10.9.9.9",
                       "batch"},
        DataServerCase{"NoHostAddressEmptiesTheAddress",
                       std::vector<std::string>{},
                       {"10.0.0.5"},
                       "0 ",
                       ""},
        DataServerCase{"UnlistableHostEmptiesTheAddress",
                       std::nullopt,
                       {"10.0.0.5"},
                       "0 ",
                       ""},
        DataServerCase{"The32ndAddressTakesPart",
                       HostOf33(),
                       {"10.0.1.32"},
                       "1 10.0.1.32",
                       "batch,attention"},
        DataServerCase{"The33rdAddressDoesNot",
                       HostOf33(),
                       {"10.0.1.33"},
                       "1 10.9.9.9",
                       "batch"}),
    [](const ::testing::TestParamInfo<DataServerCase>& info) {
      return std::string(info.param.name);
    });

// A host-name lookup that hangs holds up its own GetDataServer only: another
// thread's database call is answered while the lookup still waits. (The
// lookup gives up after a while so that a lock held through it shows as the
// wrong order rather than a hang.)
TEST_F(RegistryTest, SlowHostNameLookupHoldsUpNoOtherCall) {
  platform::OverrideHostAddresses({"10.0.0.5"});
  RegisterServers({"10.0.0.5"});
  std::mutex mutex;
  std::vector<std::string> events;
  auto note = [&](const std::string& event) {
    std::lock_guard<std::mutex> hold(mutex);
    events.push_back(event);
  };
  std::promise<void> looking_up;
  std::promise<void> other_answered;
  std::shared_future<void> answered = other_answered.get_future().share();
  platform::DelayHostAddresses([&] {
    note("lookup waits");
    looking_up.set_value();
    answered.wait_for(std::chrono::seconds(5));
    note("lookup ends");
  });
  std::thread identify([&] { note("GetDataServer " + DataServer()); });
  looking_up.get_future().wait();
  note("GetServerGroup " + ServerGroup(1));
  other_answered.set_value();
  identify.join();
  EXPECT_EQ(events, (std::vector<std::string>{
                        "lookup waits", "GetServerGroup 1 4", "lookup ends",
                        "GetDataServer 1 10.0.0.5"}));
}

TEST_F(RegistryTest, ConnectionCountsComeFromTheLastRow) {
  EXPECT_EQ(ConnectNum(4, 0), "0 -1 (addr)");
  venue_.Exec(
      "INSERT INTO fileserver_connections(group_id, fileserver_id, "
      "connection_count, fileserver_ipaddress) VALUES(4, 1, 5, '10.0.0.1'), "
      "(4, 2, 6, '10.0.0.2'), (4, 3, 7, '10.200.200.200:554455667')");
  // The third row's address is cut to the 19 characters of the output.
  EXPECT_EQ(ConnectNum(4, 0), "0 7 10.200.200.200:5544");
}

struct DiagCase {
  const char* name;
  bool modify;  // ModifyVideoServerConnectNum, else AddVideoServerConnectNum
  bool reachable;
  bool refused;      // the procedure fails
  std::string seen;  // "result|text,text,..."
};

void PrintTo(const DiagCase& c, std::ostream* os) { *os << c.name; }

class DiagTextsTest : public RegistryTest,
                      public ::testing::WithParamInterface<DiagCase> {};

TEST_P(DiagTextsTest, ModifySendsFiveTextsAddNone) {
  const DiagCase& c = GetParam();
  testing::UdpReceiver receiver;
  ASSERT_TRUE(receiver.ok());
  SetEnv("RONDEL_DIAG_TARGET", receiver.target());
  if (!c.reachable) venue_.Stop();
  if (c.refused) FailProcedure("sp_modifyfileserverconnectioninfo");
  bool result = c.modify ? ModifyVideoServerConnectNum(4, 2, 3, 10, "10.0.0.5")
                         : AddVideoServerConnectNum(4, 2, 3, 10, "10.0.0.5");
  std::string seen = std::to_string(result) + "|";
  std::string text;
  for (int n = 0; receiver.Receive(&text, 300); ++n)
    seen += (n ? "," : "") + text;
  EXPECT_EQ(seen, c.seen);
}

const char kEntered[] = "into Critical,into Critical1,have into Critical,";

INSTANTIATE_TEST_SUITE_P(
    Cases, DiagTextsTest,
    ::testing::Values(DiagCase{"ModifyAccepted", true, true, false,
                               std::string("1|") + kEntered +
                                   "good return,leave Critical"},
                      DiagCase{"ModifyWithoutDatabase", true, false, false,
                               std::string("0|") + kEntered + "leave Critical"},
                      DiagCase{"ModifyRefused", true, true, true,
                               std::string("0|") + kEntered + "leave Critical"},
                      DiagCase{"AddSendsNothing", false, true, false, "1|"}),
    [](const ::testing::TestParamInfo<DiagCase>& info) {
      return std::string(info.param.name);
    });

// Each line is one call, then (after it) what the database holds.
TEST_F(RegistryTest, ResultsFollowTheServerExceptTheFixedOnes) {
  RegisterServers({"10.0.0.5"});
  FailProcedure("sp_addfileserverconnectioninfo");
  std::vector<std::string> seen;
  seen.push_back("group 1: " + ServerGroup(1));
  seen.push_back("group 9: " + ServerGroup(9));
  const bool modified = ModifyVideoServerConnectNum(4, 1, 3, 10, "10.0.0.5");
  const bool added = AddVideoServerConnectNum(4, 2, 3, 10, "10.0.0.6");
  seen.push_back("modify, add refused: " + std::to_string(modified) +
                 std::to_string(added) + " " +
                 Table("SELECT group_id, fileserver_id, connection_count, "
                       "fileserver_ipaddress, totalconnection_count "
                       "FROM fileserver_connections"));
  seen.push_back("get: " + ConnectNum(4, 1));
  const bool deleted = DeleteVideoServerConnectNum(4, 1);
  seen.push_back("delete: " + std::to_string(deleted) + " " +
                 Table("SELECT count(*) FROM fileserver_connections"));
  const int invalidated = ModifyGroupState(0, 4);
  seen.push_back("group state: " + std::to_string(invalidated) + " " +
                 Table("SELECT is_valid FROM server_groups"));
  seen.push_back("unknown group: " + std::to_string(ModifyGroupState(1, 99)));
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "group 1: 1 4",
                      "group 9: 0 -1",
                      "modify, add refused: 10 4/1/3/10.0.0.5/10",
                      "get: 0 3 10.0.0.5",
                      "delete: 0 0",
                      "group state: 1 0",
                      "unknown group: 0",
                  }));
}

TEST_F(RegistryTest, NoConnectionAnswersFailureAndLeavesEverything) {
  platform::OverrideHostAddresses({"10.0.0.5"});
  RegisterServers({"10.0.0.5"});
  venue_.Stop();
  std::vector<std::string> seen;
  seen.push_back(DataServer());
  seen.push_back(ServerGroup(1));
  seen.push_back(std::to_string(AddVideoServerConnectNum(4, 1, 3, 10, "a")));
  seen.push_back(std::to_string(ModifyVideoServerConnectNum(4, 1, 3, 10, "a")));
  seen.push_back(ConnectNum(4, 0));
  seen.push_back(std::to_string(DeleteVideoServerConnectNum(4, 0)));
  seen.push_back(std::to_string(ModifyGroupState(1, 4)));
  EXPECT_EQ(seen, (std::vector<std::string>{"0 10.9.9.9", "0 -1", "0", "0",
                                            "0 -1 (addr)", "0", "0"}));
}

TEST_F(RegistryTest, NullOutputAnswersFalseWithoutAskingTheDatabase) {
  int connections = -1;
  char address[20] = "(addr)";
  const bool results[] = {
      GetServerGroup(1, nullptr),
      GetVideoServerConnectNum(4, 0, nullptr, address),
      GetVideoServerConnectNum(4, 0, &connections, nullptr)};
  EXPECT_EQ(std::to_string(results[0]) + std::to_string(results[1]) +
                std::to_string(results[2]) + " " + std::to_string(connections) +
                " " + address + " " + Kinds(),
            "000 -1 (addr) ");
}

}  // namespace
}  // namespace rondel
