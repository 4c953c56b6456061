#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h before windows.h
#include <malloc.h>
#include <stdlib.h>
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "test_system.h"

namespace rondel {
namespace testing {

void SetEnv(const std::string& name, const std::string& value) {
  // The C runtime's copy, which getenv reads, and the process's.
  _putenv_s(name.c_str(), value.c_str());
  SetEnvironmentVariableA(name.c_str(), value.c_str());
}

void UnsetEnv(const std::string& name) {
  _putenv_s(name.c_str(), "");
  SetEnvironmentVariableA(name.c_str(), nullptr);
}

std::string MakeTempDir(const std::string& prefix) {
  char base[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof base, base);
  if (length == 0 || length > MAX_PATH) return std::string();
  // A name no other process of this machine makes at the same time: the
  // process id, the tick count and a counter, tried until one is new.
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path =
        std::string(base) + prefix + std::to_string(GetCurrentProcessId()) +
        "-" + std::to_string(GetTickCount()) + "-" + std::to_string(++counter);
    if (CreateDirectoryA(path.c_str(), nullptr)) return path;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return std::string();
}

void RemoveTree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

std::string Cp1252BytesRefusedOnSend() { return ""; }

bool CanCopyProcess() { return false; }

int RunInCopyOfProcess(const std::function<int()>&) { return -1; }

size_t AllocatedSize(void* block) { return _msize(block); }

TextAtPageEnd::TextAtPageEnd(const std::string& text) {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  page_size_ = system.dwPageSize;
  pages_ = static_cast<char*>(VirtualAlloc(
      nullptr, 2 * page_size_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  if (pages_ == nullptr) return;
  DWORD previous = 0;
  VirtualProtect(pages_ + page_size_, page_size_, PAGE_NOACCESS, &previous);
  text_ = pages_ + page_size_ - text.size();
  std::memcpy(text_, text.data(), text.size());
}

TextAtPageEnd::~TextAtPageEnd() {
  if (pages_ != nullptr) VirtualFree(pages_, 0, MEM_RELEASE);
}

LoopbackSocket::LoopbackSocket(Kind kind) {
  const SOCKET s =
      socket(AF_INET, kind == Kind::kDatagram ? SOCK_DGRAM : SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return;
  handle_ = static_cast<intptr_t>(s);
  if (kind == Kind::kDatagram) {
    int buffer = 1 << 20;
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer),
               sizeof buffer);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      (kind == Kind::kListening && listen(s, 16) != 0) ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return;
  }
  port_ = ntohs(address.sin_port);
}

LoopbackSocket::~LoopbackSocket() {
  if (handle_ != -1) closesocket(static_cast<SOCKET>(handle_));
}

bool LoopbackSocket::Receive(std::string* payload, int wait_ms,
                             size_t* full_size) {
  if (!ok()) return false;
  const SOCKET s = static_cast<SOCKET>(handle_);
  WSAPOLLFD ready{s, POLLRDNORM, 0};
  if (WSAPoll(&ready, 1, wait_ms) != 1) return false;
  std::vector<char> buffer(65536);
  const int size = recv(s, buffer.data(), static_cast<int>(buffer.size()), 0);
  if (size < 0) return false;
  payload->assign(buffer.data(), static_cast<size_t>(size));
  if (full_size != nullptr) *full_size = static_cast<size_t>(size);
  return true;
}

}  // namespace testing
}  // namespace rondel
