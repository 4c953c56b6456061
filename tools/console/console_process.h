// For the console's tests: rondel-console run as a venue runs it, on free
// loopback ports, until the object goes.
//
//   ConsoleProcess console({"--settings", ini, "--snapshot-dir", dir});
//   Get(console.port(), "/status.json");
//   Send(console.diag_port(), "text");
//
// A console that does not start fails the test (ADD_FAILURE); its ports are
// then 0.
#ifndef RONDEL_TOOLS_CONSOLE_CONSOLE_PROCESS_H_
#define RONDEL_TOOLS_CONSOLE_CONSOLE_PROCESS_H_

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

extern char** environ;

namespace rondel {
namespace tools {

class ConsoleProcess {
 public:
  explicit ConsoleProcess(std::vector<std::string> options) {
    options.insert(options.begin(),
                   {RONDEL_CONSOLE_PATH, "--listen", "127.0.0.1:0",
                    "--diag-listen", "127.0.0.1:0"});
    std::vector<char*> argv;
    for (std::string& option : options) argv.push_back(&option[0]);
    argv.push_back(nullptr);
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) {
      ADD_FAILURE() << "pipe";
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) !=
        0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_ends[1]);
    // "rondel-console: serving http://127.0.0.1:P/, diagnostic datagrams on
    // 127.0.0.1:D"
    FILE* err = fdopen(pipe_ends[0], "r");
    char line[512] = "";
    if (pid_ > 0 && std::fgets(line, sizeof line, err) != nullptr &&
        std::sscanf(line,
                    "rondel-console: serving http://127.0.0.1:%d/, diagnostic "
                    "datagrams on 127.0.0.1:%d",
                    &port_, &diag_port_) == 2) {
      err_ = err;  // kept open: the console may still write to it
      return;
    }
    ADD_FAILURE() << "rondel-console did not start: " << line;
    std::fclose(err);
    port_ = diag_port_ = 0;
  }
  ~ConsoleProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
          << "rondel-console ended with status " << status;
    }
    if (err_ != nullptr) std::fclose(err_);
  }
  ConsoleProcess(const ConsoleProcess&) = delete;
  ConsoleProcess& operator=(const ConsoleProcess&) = delete;

  int port() const { return port_; }
  int diag_port() const { return diag_port_; }

  // Sends `text` as one diagnostic datagram to the console, from loopback.
  void Send(const std::string& text) const {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(diag_port_));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(static_cast<ssize_t>(text.size()),
              sendto(fd, text.data(), text.size(), 0,
                     reinterpret_cast<sockaddr*>(&to), sizeof to));
    close(fd);
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  int diag_port_ = 0;
  FILE* err_ = nullptr;
};

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_CONSOLE_CONSOLE_PROCESS_H_
