// An RPC request: procedure name or id, options, then each parameter's name,
// status, type info and value. The input is the message's payload (packet
// headers stripped) from a TDS 7.2+ client, as Session hands it to ParseRpc.
// A request read must hold what the parser promises of it.
#include <string>

#include "fuzz_target.h"
#include "rpc_request.h"
#include "tds_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string payload(reinterpret_cast<const char*>(data), size);
  venuedb::RpcRequest request;
  std::string error;
  if (!venuedb::ParseRpc(payload, true, &rondel::fuzz::TdsCharset(), &request,
                         &error)) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  for (const venuedb::RpcParam& param : request.params) {
    FUZZ_CHECK(!param.kind.empty());
  }
  return 0;
}
