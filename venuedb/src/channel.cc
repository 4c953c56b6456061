#include "channel.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <set>

namespace venuedb {

namespace {

constexpr size_t kHeaderSize = 8;
constexpr size_t kMaxRequest = 64u << 20;

}  // namespace

namespace {

// Open client sockets, so that a stopping server can wake every session.
std::mutex open_mutex;
std::set<int>& OpenSockets() {
  static std::set<int>* sockets = new std::set<int>;
  return *sockets;
}

}  // namespace

Channel::Channel(int fd, uint16_t spid) : fd_(fd), spid_(spid ? spid : 1) {
  std::lock_guard<std::mutex> lock(open_mutex);
  OpenSockets().insert(fd);
}

Channel::~Channel() { Close(); }

void Channel::Close() {
  std::lock_guard<std::mutex> lock(open_mutex);
  if (fd_ >= 0) {
    OpenSockets().erase(fd_);
    shutdown(fd_, SHUT_RDWR);
    close(fd_);
    fd_ = -1;
  }
}

void Channel::ShutdownAll() {
  std::lock_guard<std::mutex> lock(open_mutex);
  for (int fd : OpenSockets()) shutdown(fd, SHUT_RDWR);
}

void Channel::ReadExact(char* data, size_t size) {
  while (size > 0) {
    if (fd_ < 0) throw ChannelClosed("closed");
    ssize_t n = recv(fd_, data, size, 0);
    if (n == 0) throw ChannelClosed("peer closed");
    if (n < 0) {
      if (errno == EINTR) continue;
      throw ChannelClosed(std::strerror(errno));
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
}

bool JoinRequestPackets(const ReadExactly& read, uint8_t* type,
                        std::string* payload) {
  payload->clear();
  for (;;) {
    char header[kHeaderSize];
    try {
      read(header, kHeaderSize);
    } catch (const ChannelClosed&) {
      if (payload->empty()) return false;
      throw;
    }
    size_t length = (static_cast<uint8_t>(header[2]) << 8) |
                    static_cast<uint8_t>(header[3]);
    if (length < kHeaderSize) throw ChannelClosed("bad packet length");
    *type = static_cast<uint8_t>(header[0]);
    size_t old = payload->size();
    if (old + length > kMaxRequest) throw ChannelClosed("request too large");
    payload->resize(old + length - kHeaderSize);
    if (length > kHeaderSize) read(&(*payload)[old], length - kHeaderSize);
    if (header[1] & 0x01) return true;
  }
}

bool Channel::ReadMessage(uint8_t* type, std::string* payload) {
  return JoinRequestPackets(
      [this](char* data, size_t size) { ReadExact(data, size); }, type,
      payload);
}

void Channel::Write(const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  size_t room = packet_size_ - kHeaderSize;
  while (size > 0) {
    size_t take = room - out_.size();
    if (take > size) take = size;
    out_.append(p, take);
    p += take;
    size -= take;
    if (out_.size() == room && size > 0) SendPacket(false);
  }
}

void Channel::EndMessage() { SendPacket(true); }

void Channel::FlushPartial() {
  if (!out_.empty()) SendPacket(false);
}

void Channel::SendPacket(bool last) {
  size_t length = out_.size() + kHeaderSize;
  char header[kHeaderSize] = {
      static_cast<char>(kReply),       static_cast<char>(last ? 0x01 : 0x00),
      static_cast<char>(length >> 8),  static_cast<char>(length & 0xFF),
      static_cast<char>(spid_ >> 8),   static_cast<char>(spid_ & 0xFF),
      static_cast<char>(packet_id_++), 0};
  out_.insert(0, header, kHeaderSize);
  SendAll(out_.data(), out_.size());
  out_.clear();
  reply_begun_ = !last;
  if (!last) PollAttention(0);
}

void Channel::SendAll(const char* data, size_t size) {
  while (size > 0) {
    if (fd_ < 0 || peer_gone_) throw ChannelClosed("closed");
    ssize_t n = send(fd_, data, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw ChannelClosed(std::strerror(errno));
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
}

void Channel::PollAttention(int timeout_ms) {
  if (attention_ || fd_ < 0) return;
  pollfd pfd = {fd_, POLLIN, 0};
  int rc = poll(&pfd, 1, timeout_ms);
  if (rc <= 0) return;
  char first = 0;
  ssize_t n = recv(fd_, &first, 1, MSG_PEEK | MSG_DONTWAIT);
  // A reset or a close: nobody is left to answer, and a wait that polled on
  // would spin on the hangup until its deadline.
  if (n == 0 ||
      (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
    peer_gone_ = true;
    throw ChannelClosed("peer closed");
  }
  if (n < 0 || static_cast<uint8_t>(first) != kAttention) return;
  uint8_t type = 0;
  std::string ignored;
  ReadMessage(&type, &ignored);
  attention_ = true;
}

bool Channel::CheckPeer() {
  if (peer_gone_) return false;
  try {
    PollAttention(0);
  } catch (const ChannelClosed&) {
    peer_gone_ = true;
  }
  return !peer_gone_;
}

bool Channel::WaitForAttention(int ms) {
  // Short polls against a deadline: a signal or a stray byte must not end the
  // wait early.
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!attention_) {
    // Rounded up: a truncated fraction of a millisecond would end the wait
    // before the deadline.
    auto left = std::chrono::ceil<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) break;
    PollAttention(static_cast<int>(left > 20 ? 20 : left));
  }
  return attention_;
}

}  // namespace venuedb
