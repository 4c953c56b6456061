// Requests no well-behaved client sends: each gets an error reply or a closed
// connection, is journaled, and leaves the server answering the next login.
#include <gtest/gtest.h>
#include <unistd.h>

#include "raw_client.h"
#include "venue_server.h"

namespace venuedb::testing {
namespace {

using rondel::testing::Row;
using rondel::testing::VenueServer;

struct MalformedCase {
  const char* name;
  uint8_t packet_type;  // 0: `bytes` is sent as it is, headers included
  std::string bytes;
  std::string reply;    // DescribeReply of the answer, or "closed"
  std::string journal;  // the request's journal rows: "kind ok", ...
};

std::string Rpc(const std::string& params) {
  return RpcPayload("sp_addlog", params);
}

const std::string kRefusedBatch = "ERROR 105; DONE 0x0002 0";
const std::string kRefusedRpc = "ERROR 8009; DONE 0x0002 0";

const MalformedCase kCases[] = {
    {"UseWithUnclosedQuote", kBatchPacket, BatchPayload("use \"karaok"),
     kRefusedBatch, "batch 0"},
    {"ExecWithUnclosedQuote", kBatchPacket,
     BatchPayload("exec \"sp_getAllfileservers"), kRefusedBatch, "batch 0"},
    {"ExecArgumentWithUnclosedQuote", kBatchPacket,
     BatchPayload("exec sp_addlog @ipaddress = N'10.0.0.1"), kRefusedBatch,
     "batch 0"},
    {"NulInsideBatch", kBatchPacket,
     BatchPayloadBytes(Utf16("select 1") + std::string(2, '\0') +
                       Utf16(" as one")),
     "ERROR 102; DONE 0x0002 0", "batch 0"},
    {"DatetimnOfOneByte", kRpcPacket, Rpc(RpcParam("@d", 0, "6F 08 01 00")),
     kRefusedRpc, "rpc 0"},
    {"DatetimnOfThreeBytes", kRpcPacket,
     Rpc(RpcParam("@d", 0, "6F 08 03 000000")), kRefusedRpc, "rpc 0"},
    {"IntnDeclaredThreeBytes", kRpcPacket,
     Rpc(RpcParam("@media_id", 0, "26 03 03 010203")), kRefusedRpc, "rpc 0"},
    {"FltnLongerThanDeclared", kRpcPacket,
     Rpc(RpcParam("@media_id", 0, "6D 04 08 0000000000000000")), kRefusedRpc,
     "rpc 0"},
    {"Utf16TextOfOddLength", kRpcPacket,
     Rpc(RpcParam("@ipaddress", 0, "E7 0A00 0408D00000 0300 414243")),
     kRefusedRpc, "rpc 0"},
    {"TextLongerThanDeclared", kRpcPacket,
     Rpc(RpcParam("@ipaddress", 0, "E7 0200 0408D00000 0400 41004200")),
     kRefusedRpc, "rpc 0"},
    {"PlpChunksShortOfTotal", kRpcPacket,
     Rpc(RpcParam("@ipaddress", 0,
                  "E7 FFFF 0408D00000 0A00000000000000 04000000 41004200 "
                  "00000000")),
     kRefusedRpc, "rpc 0"},
    // 0x80 starts a 128-character name from TDS 7.2 on, not the next call.
    {"NameOf128Characters", kRpcPacket,
     Rpc(RpcParam("@" + std::string(127, 'n'), 0, "26 04 04 01000000")),
     "ERROR 8145; DONE 0x0002 0", "rpc 0"},
    {"SecondBatchedCall", kRpcPacket,
     Rpc(RpcParam("@media_id", 0, "26 04 04 01000000") + Hex("FF") +
         RpcPayload("sp_addlog", "").substr(22)),
     kRefusedRpc, "rpc 0"},
    {"PacketShorterThanItsHeader", 0, Hex("01 01 0004 0000 0100"), "closed",
     ""},
};

void PrintTo(const MalformedCase& c, std::ostream* os) { *os << c.name; }

class MalformedInputTest : public ::testing::TestWithParam<MalformedCase> {
 protected:
  VenueServer server_;
};

TEST_P(MalformedInputTest, IsRefusedJournaledAndLeavesServerServing) {
  const MalformedCase& c = GetParam();
  ASSERT_GT(server_.port(), 0);
  {
    RawClient client(server_.port());
    ASSERT_TRUE(client.logged_in());
    ASSERT_TRUE(c.packet_type ? client.Send(c.packet_type, c.bytes)
                              : client.SendBytes(c.bytes));
    std::optional<std::string> reply = client.Receive();
    EXPECT_EQ(reply ? DescribeReply(*reply) : "closed", c.reply);
  }
  const std::string first = "(SELECT min(conn_id) FROM vdb_connections)";
  std::vector<Row> closed;
  for (int i = 0; i < 300; ++i) {
    closed = server_.Query(
        "SELECT closed_us IS NOT NULL FROM vdb_connections WHERE conn_id = " +
        first);
    if (closed == std::vector<Row>{{"1"}}) break;
    usleep(10000);
  }
  EXPECT_EQ(closed, (std::vector<Row>{{"1"}}));
  EXPECT_EQ(server_.Query("SELECT coalesce(group_concat(kind || ' ' || ok, "
                          "', '), '') FROM vdb_journal WHERE conn_id = " +
                          first + " AND kind NOT IN ('login', 'close')"),
            (std::vector<Row>{{c.journal}}));
  RawClient fresh(server_.port());
  EXPECT_TRUE(fresh.logged_in());
}

INSTANTIATE_TEST_SUITE_P(
    Requests, MalformedInputTest, ::testing::ValuesIn(kCases),
    [](const ::testing::TestParamInfo<MalformedCase>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace venuedb::testing
