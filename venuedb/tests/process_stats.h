// What a test can see of a running server from outside, through /proc: its
// open descriptors, resident memory and CPU time, what it has not read yet,
// and the tasks of a user (what RLIMIT_NPROC counts).
#ifndef VENUEDB_TESTS_PROCESS_STATS_H_
#define VENUEDB_TESTS_PROCESS_STATS_H_

#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace venuedb::testing {

inline int OpenDescriptors(pid_t pid) {
  std::error_code error;
  const std::filesystem::directory_iterator fds(
      "/proc/" + std::to_string(pid) + "/fd", error);
  return error ? -1
               : static_cast<int>(
                     std::distance(fds, std::filesystem::directory_iterator()));
}

// A "Name:  value" line of /proc/PID/status (or of a task's), as a number.
inline long StatusField(const std::string& status_path,
                        const std::string& name) {
  std::ifstream in(status_path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(name + ":", 0) == 0)
      return std::stol(line.substr(name.size() + 1));
  }
  return -1;
}

inline long ResidentKb(pid_t pid) {
  return StatusField("/proc/" + std::to_string(pid) + "/status", "VmRSS");
}

// User and system time the process has used, in seconds.
inline double CpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)),
                   std::istreambuf_iterator<char>());
  // Fields after the command's closing parenthesis; utime and stime are the
  // 12th and 13th of them.
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  double ticks = 0;
  for (int i = 1; i <= 13 && fields >> field; ++i) {
    if (i >= 12) ticks += std::stod(field);
  }
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Bytes that arrived for the sockets of the local TCP port but that the
// process owning them has not read yet (this network namespace's
// /proc/net/tcp).
inline long UnreadBytesAt(int port) {
  std::ifstream in("/proc/net/tcp");
  std::string line;
  std::getline(in, line);  // the column titles
  long unread = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues;
    fields >> slot >> local >> remote >> state >> queues;
    if (std::stol(local.substr(local.find(':') + 1), nullptr, 16) == port)
      unread += std::stol(queues.substr(queues.find(':') + 1), nullptr, 16);
  }
  return unread;
}

// Threads of every process whose real user is uid.
inline int TasksOfUser(uid_t uid) {
  int tasks = 0;
  std::error_code error;
  for (const auto& process :
       std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = process.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string status = process.path().string() + "/status";
    if (StatusField(status, "Uid") == static_cast<long>(uid))
      tasks += static_cast<int>(StatusField(status, "Threads"));
  }
  return tasks;
}

}  // namespace venuedb::testing

#endif  // VENUEDB_TESTS_PROCESS_STATS_H_
