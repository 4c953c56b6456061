#include "channel.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <set>

namespace venuedb {

namespace {

constexpr size_t kHeaderSize = kPacketHeaderSize;
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

bool RequestMemory::Take(size_t bytes) {
  size_t held = held_.load();
  do {
    if (bytes > cap_ || held > cap_ - bytes) return false;
  } while (!held_.compare_exchange_weak(held, held + bytes));
  return true;
}

void Channel::ReadExact(char* data, size_t size) {
  using Clock = std::chrono::steady_clock;
  while (size > 0) {
    if (fd_ < 0) throw ChannelClosed("closed");
    const Clock::time_point until = std::min(deadline_, request_deadline_);
    if (until != Clock::time_point::max()) {
      // Rounded up: a wait cut short by a fraction would spin on its end.
      auto left =
          std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now())
              .count();
      if (left <= 0) throw ChannelTimedOut("read timed out");
      pollfd pfd = {fd_, POLLIN, 0};
      int ready =
          poll(&pfd, 1, static_cast<int>(std::min<int64_t>(left, 1000)));
      if (ready < 0 && errno != EINTR)
        throw ChannelClosed(std::strerror(errno));
      if (ready <= 0) continue;
    }
    ssize_t n = recv(fd_, data, size, 0);
    if (n == 0) throw ChannelClosed("peer closed");
    if (n < 0) {
      if (errno == EINTR) continue;
      throw ChannelClosed(std::strerror(errno));
    }
    if (request_deadline_ == Clock::time_point::max() &&
        request_timeout_ms_ > 0) {
      request_deadline_ =
          Clock::now() + std::chrono::milliseconds(request_timeout_ms_);
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
}

namespace {

// What a request took from RequestMemory, given back however it ends.
class HeldMemory {
 public:
  explicit HeldMemory(RequestMemory* memory) : memory_(memory) {}
  ~HeldMemory() {
    if (memory_) memory_->Give(held_);
  }
  // Makes room for `size` payload bytes, growing geometrically as a string
  // does, and holds the room against the cap.
  bool Reserve(std::string* payload, size_t size) {
    if (size <= payload->capacity()) return true;
    const size_t room =
        std::max(size, std::min(2 * payload->capacity(), kMaxRequest));
    if (memory_) {
      const size_t more = room > held_ ? room - held_ : 0;
      if (!memory_->Take(more)) return false;
      held_ += more;
    }
    payload->reserve(room);
    return true;
  }

 private:
  RequestMemory* memory_;
  size_t held_ = 0;
};

}  // namespace

std::string PacketHeader(PacketType type, bool last, size_t length,
                         uint16_t spid, uint8_t packet_id) {
  return {static_cast<char>(type),        static_cast<char>(last ? 0x01 : 0x00),
          static_cast<char>(length >> 8), static_cast<char>(length & 0xFF),
          static_cast<char>(spid >> 8),   static_cast<char>(spid & 0xFF),
          static_cast<char>(packet_id),   0};
}

bool JoinRequestPackets(const ReadExactly& read, uint8_t* type,
                        std::string* payload, RequestMemory* memory) {
  payload->clear();
  HeldMemory held(memory);
  for (;;) {
    char header[kHeaderSize];
    try {
      read(header, kHeaderSize);
    } catch (const ChannelTimedOut&) {
      throw;
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
    if (!held.Reserve(payload, old + length - kHeaderSize))
      throw RequestOverMemoryCap(*type);
    payload->resize(old + length - kHeaderSize);
    if (length > kHeaderSize) read(&(*payload)[old], length - kHeaderSize);
    if (header[1] & 0x01) return true;
  }
}

bool Channel::ReadMessage(uint8_t* type, std::string* payload) {
  request_deadline_ = std::chrono::steady_clock::time_point::max();
  const bool read = JoinRequestPackets(
      [this](char* data, size_t size) { ReadExact(data, size); }, type, payload,
      memory_);
  request_deadline_ = std::chrono::steady_clock::time_point::max();
  return read;
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
  out_.insert(0, PacketHeader(kReply, last, out_.size() + kHeaderSize, spid_,
                              packet_id_++));
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
