// The host process on Windows: Winsock started as a venue's host starts it.
#include <windows.h>
#include <winsock2.h>

#include <cstdlib>

#include "host_process.h"

namespace rondel {
namespace tools {

bool StartHostNetworking(std::string* error) {
  WSADATA data;
  const int code = WSAStartup(MAKEWORD(2, 2), &data);
  if (code != 0) {
    *error = "WSAStartup: Winsock error " + std::to_string(code);
    return false;
  }
  return true;
}

bool SetEnvironment(const std::string& name, const std::string& value) {
  // The C runtime's copy, which the library's getenv reads, and the
  // process's own block, which a library on another runtime would read.
  return _putenv_s(name.c_str(), value.c_str()) == 0 &&
         SetEnvironmentVariableA(name.c_str(), value.c_str()) != 0;
}

}  // namespace tools
}  // namespace rondel
