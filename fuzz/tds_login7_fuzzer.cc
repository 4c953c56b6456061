// LOGIN7: the first request a client sends after pre-login, read before any
// check of who sent it. The input is the message's payload (packet headers
// stripped), as Session hands it to ParseLogin7.
#include <string>

#include "fuzz_target.h"
#include "login.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string payload(reinterpret_cast<const char*>(data), size);
  venuedb::LoginRequest login;
  if (venuedb::ParseLogin7(payload, &login)) {
    venuedb::TdsVersionName(login.tds_version);
  }
  return 0;
}
