#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace rondel {
namespace bench {
namespace {

// The environment of this process with `overrides` applied.
std::vector<std::string> MergedEnvironment(
    const std::vector<std::string>& overrides) {
  std::vector<std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry;
    std::string key = text.substr(0, text.find('='));
    bool replaced = false;
    for (const std::string& o : overrides) {
      if (o.substr(0, o.find('=')) == key) replaced = true;
    }
    if (!replaced) merged.push_back(text);
  }
  merged.insert(merged.end(), overrides.begin(), overrides.end());
  return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(&text[0]);
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

long long ChildResult::Value(const std::string& key) const {
  auto found = values.find(key);
  return found == values.end() ? -1 : found->second;
}

ChildResult RunChild(const std::vector<std::string>& argv,
                     const std::vector<std::string>& environment,
                     const std::string& directory) {
  ChildResult result;
  std::vector<std::string> arguments = argv;
  std::vector<std::string> variables = MergedEnvironment(environment);
  std::vector<char*> argument_pointers = Pointers(arguments);
  std::vector<char*> variable_pointers = Pointers(variables);
  int out[2];
  if (pipe(out) != 0) return result;
  pid_t pid = fork();
  if (pid < 0) {
    close(out[0]);
    close(out[1]);
    return result;
  }
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    if (chdir(directory.c_str()) != 0) _exit(126);
    execve(argument_pointers[0], argument_pointers.data(),
           variable_pointers.data());
    _exit(127);
  }
  close(out[1]);
  char chunk[4096];
  ssize_t n;
  while ((n = read(out[0], chunk, sizeof(chunk))) != 0) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    result.output.append(chunk, static_cast<size_t>(n));
  }
  close(out[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exited_zero = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  std::istringstream lines(result.output);
  std::string key;
  long long value;
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    if (words >> key >> value) result.values[key] = value;
  }
  return result;
}

bool VenueServer::Start(const std::string& venuedb, const std::string& database,
                        const std::string& log_prefix) {
  Stop();
  std::string out_path = log_prefix + ".out";
  std::string err_path = log_prefix + ".err";
  std::vector<std::string> arguments = {venuedb,  "serve",    "--db",
                                        database, "--listen", "127.0.0.1:0"};
  std::vector<char*> pointers = Pointers(arguments);
  // A line left by an earlier server must not be taken for this one's.
  std::remove(out_path.c_str());
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0) _exit(126);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    execv(pointers[0], pointers.data());
    _exit(127);
  }
  pid_ = pid;
  for (int attempt = 0; attempt < 600; ++attempt) {
    std::ifstream log(out_path);
    std::string line;
    while (std::getline(log, line)) {
      int port = 0;
      if (std::sscanf(line.c_str(), "listening 127.0.0.1:%d", &port) == 1 &&
          port > 0) {
        port_ = port;
        return true;
      }
    }
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  Stop();
  return false;
}

void VenueServer::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  for (int attempt = 0; attempt < 100; ++attempt) {
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      port_ = 0;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
  port_ = 0;
}

}  // namespace bench
}  // namespace rondel
