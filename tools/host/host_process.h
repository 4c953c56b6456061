// What the host command does as a venue's host process, around the library,
// where the platforms differ: host_process_posix.cc and
// host_process_windows.cc.
#ifndef RONDEL_TOOLS_HOST_PROCESS_H_
#define RONDEL_TOOLS_HOST_PROCESS_H_

#include <string>

namespace rondel {
namespace tools {

// Starts what a host provides before it calls InitialDatabase: on Windows
// Winsock (WSAStartup), which the library never starts itself and without
// which its datagrams fail; nothing on Linux. Kept until the process ends.
// False with the reason in *error.
bool StartHostNetworking(std::string* error);

// Sets `name` to `value` in this process's environment, where the library
// reads its settings (RONDEL_DIAG_TARGET...). False when it cannot.
bool SetEnvironment(const std::string& name, const std::string& value);

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_HOST_PROCESS_H_
