#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "test_system.h"

namespace rondel {
namespace testing {

void SetEnv(const std::string& name, const std::string& value) {
  setenv(name.c_str(), value.c_str(), 1);
}

void UnsetEnv(const std::string& name) { unsetenv(name.c_str()); }

std::string MakeTempDir(const std::string& prefix) {
  const char* base = getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/" +
      prefix + "XXXXXX";
  return mkdtemp(&pattern[0]) != nullptr ? pattern : std::string();
}

void RemoveTree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

std::string Cp1252BytesRefusedOnSend() { return "\x81\x8d\x8f\x90\x9d"; }

bool CanCopyProcess() { return true; }

int RunInCopyOfProcess(const std::function<int()>& child) {
  fflush(stdout);
  fflush(stderr);
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    const int status = child();
    fflush(stdout);
    fflush(stderr);
    _exit(status);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

size_t AllocatedSize(void* block) { return malloc_usable_size(block); }

TextAtPageEnd::TextAtPageEnd(const std::string& text) {
  page_size_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void* pages = mmap(nullptr, 2 * page_size_, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pages == MAP_FAILED) return;
  pages_ = static_cast<char*>(pages);
  mprotect(pages_ + page_size_, page_size_, PROT_NONE);
  text_ = pages_ + page_size_ - text.size();
  std::memcpy(text_, text.data(), text.size());
}

TextAtPageEnd::~TextAtPageEnd() {
  if (pages_ != nullptr) munmap(pages_, 2 * page_size_);
}

LoopbackSocket::LoopbackSocket(Kind kind) {
  const int fd = socket(
      AF_INET,
      (kind == Kind::kDatagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  handle_ = fd;
  if (kind == Kind::kDatagram) {
    // Room for bursts from many threads before the test reads them.
    int buffer = 1 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      (kind == Kind::kListening && listen(fd, 16) != 0) ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return;
  }
  port_ = ntohs(address.sin_port);
}

LoopbackSocket::~LoopbackSocket() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

bool LoopbackSocket::Receive(std::string* payload, int wait_ms,
                             size_t* full_size) {
  if (!ok()) return false;
  const int fd = static_cast<int>(handle_);
  pollfd ready{fd, POLLIN, 0};
  if (poll(&ready, 1, wait_ms) != 1) return false;
  std::vector<char> buffer(65536);
  const ssize_t size = recv(fd, buffer.data(), buffer.size(), MSG_TRUNC);
  if (size < 0) return false;
  payload->assign(buffer.data(),
                  std::min(static_cast<size_t>(size), buffer.size()));
  if (full_size != nullptr) *full_size = static_cast<size_t>(size);
  return true;
}

}  // namespace testing
}  // namespace rondel
