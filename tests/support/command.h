// Runs a shell command to its end for a test: its standard output (add
// "2>&1" or "2>/dev/null" to the command for its errors) and its exit status.
#ifndef RONDEL_TESTS_SUPPORT_COMMAND_H_
#define RONDEL_TESTS_SUPPORT_COMMAND_H_

#include <stdio.h>
#include <sys/wait.h>

#include <string>

namespace rondel {
namespace testing {

// The exit status, or -1 when the command could not run or did not exit.
inline int RunCommand(const std::string& command, std::string* output) {
  output->clear();
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0)
    output->append(chunk, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace testing
}  // namespace rondel

#endif  // RONDEL_TESTS_SUPPORT_COMMAND_H_
