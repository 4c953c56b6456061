// The host process on Linux: sockets need no start-up.
#include <cstdlib>

#include "host_process.h"

namespace rondel {
namespace tools {

bool StartHostNetworking(std::string* /*error*/) { return true; }

bool SetEnvironment(const std::string& name, const std::string& value) {
  return setenv(name.c_str(), value.c_str(), 1) == 0;
}

}  // namespace tools
}  // namespace rondel
