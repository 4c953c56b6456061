// The bytes of one client connection: packets joined into requests as the
// server's Channel joins them, and each request read as Session reads its
// kind (pre-login, LOGIN7, SQL batch, RPC, transaction manager). No socket is
// opened: the packets come from the input through JoinRequestPackets, the
// same function that joins what a socket delivers. A LOGIN7 read sets the TDS
// version the later requests are read as, as in a session.
#include <cstring>
#include <string>

#include "batch.h"
#include "channel.h"
#include "fuzz_target.h"
#include "login.h"
#include "rpc_request.h"
#include "tds_harness.h"
#include "transaction.h"

namespace {

// Requests per input: a connection's worth.
constexpr int kMaxRequests = 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t at = 0;
  const venuedb::ReadExactly read = [&](char* out, size_t wanted) {
    if (size - at < wanted) {
      at = size;
      throw venuedb::ChannelClosed("end of input");
    }
    std::memcpy(out, data + at, wanted);
    at += wanted;
  };
  venuedb::Charset& charset = rondel::fuzz::TdsCharset();
  bool tds72 = true;  // a session's reply assumes 7.2+ until a login says
  for (int n = 0; n < kMaxRequests; ++n) {
    uint8_t type = 0;
    std::string payload;
    try {
      if (!venuedb::JoinRequestPackets(read, &type, &payload)) break;
    } catch (const venuedb::ChannelClosed&) {
      break;
    }
    switch (type) {
      case venuedb::kPrelogin:
        venuedb::PreloginReply();
        break;
      case venuedb::kLogin7: {
        venuedb::LoginRequest login;
        if (venuedb::ParseLogin7(payload, &login)) {
          tds72 = login.tds_version >= 0x72000000;
        }
        break;
      }
      case venuedb::kSqlBatch:
        rondel::fuzz::WalkBatch(venuedb::BatchSqlText(payload, tds72, &charset));
        break;
      case venuedb::kRpc: {
        venuedb::RpcRequest request;
        std::string error;
        venuedb::ParseRpc(payload, tds72, &charset, &request, &error);
        break;
      }
      case venuedb::kTransactionManager:
        venuedb::ReadTransactionManagerRequest(payload, tds72, &charset);
        break;
      default:
        break;
    }
  }
  return 0;
}
