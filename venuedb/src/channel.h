// One client socket seen as TDS packets: requests are joined until
// end-of-message, replies are cut at the negotiated packet size and sent as
// they fill, so a long result streams out while its rows are still being read
// from the database.
//
// Packet header (8 bytes):
//   offset size meaning
//   0      1    type (0x04 for every reply)
//   1      1    status (0x01 end of message)
//   2      2    length, header included, big-endian
//   4      2    SPID, big-endian
//   6      1    packet id
//   7      1    window (0)
#ifndef VENUEDB_SRC_CHANNEL_H_
#define VENUEDB_SRC_CHANNEL_H_

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace venuedb {

// Thrown when the peer has gone or the socket failed; the session ends.
struct ChannelClosed : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Thrown when a read passed its deadline (Channel::set_read_limits).
struct ChannelTimedOut : ChannelClosed {
  using ChannelClosed::ChannelClosed;
};

// Thrown when the packets of a request would take the memory held by
// incomplete requests past its cap; `type` is the request's packet type.
struct RequestOverMemoryCap : ChannelClosed {
  explicit RequestOverMemoryCap(uint8_t packet_type)
      : ChannelClosed("incomplete requests over the memory cap"),
        type(packet_type) {}
  uint8_t type;
};

// The bytes held by requests still arriving, across all connections, against
// a cap. Thread-safe.
class RequestMemory {
 public:
  explicit RequestMemory(size_t cap) : cap_(cap) {}
  // Takes bytes, or nothing and returns false when the total would pass the
  // cap.
  bool Take(size_t bytes);
  void Give(size_t bytes) { held_ -= bytes; }
  size_t held() const { return held_; }

 private:
  const size_t cap_;
  std::atomic<size_t> held_{0};
};

enum PacketType : uint8_t {
  kSqlBatch = 0x01,
  kRpc = 0x03,
  kReply = 0x04,
  kAttention = 0x06,
  kTransactionManager = 0x0E,
  kLogin7 = 0x10,
  kPrelogin = 0x12,
};

constexpr size_t kPacketHeaderSize = 8;

// The header of a packet of `length` bytes (the header included).
std::string PacketHeader(PacketType type, bool last, size_t length,
                         uint16_t spid, uint8_t packet_id);

// Fills exactly `size` bytes at `data`, or throws ChannelClosed.
using ReadExactly = std::function<void(char* data, size_t size)>;

// Joins the packets of one request into *payload, taking bytes from `read`,
// and sets *type to the last packet's type. Returns false when the stream ends
// before the first packet; throws ChannelClosed for a packet length below the
// 8-byte header, a request beyond 64 MiB, or a stream that ends inside the
// request, and RequestOverMemoryCap when memory (if given) refuses the room
// the payload grows to. What it took from memory is given back before it
// returns or throws. Apart from the socket so that the packet rules can be
// exercised on bytes alone.
bool JoinRequestPackets(const ReadExactly& read, uint8_t* type,
                        std::string* payload, RequestMemory* memory = nullptr);

class Channel {
 public:
  // Takes ownership of fd.
  Channel(int fd, uint16_t spid);
  ~Channel();
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  // Reads one whole request. Returns false when the peer closed the connection.
  // Throws ChannelTimedOut past the read limits, RequestOverMemoryCap past
  // the memory cap.
  bool ReadMessage(uint8_t* type, std::string* payload);

  // Bounds on reading requests. Every read ends by `deadline`; once the first
  // byte of a request has come, the rest must come within request_timeout_ms
  // (0: no bound); the request's bytes are held against memory (may be null).
  // Waiting for a request to begin has no other bound: idle clients stay.
  void set_read_limits(std::chrono::steady_clock::time_point deadline,
                       int request_timeout_ms, RequestMemory* memory) {
    deadline_ = deadline;
    request_timeout_ms_ = request_timeout_ms;
    memory_ = memory;
  }

  // REQUIRES: 512 <= size <= 32767.
  void set_packet_size(size_t size) { packet_size_ = size; }
  size_t packet_size() const { return packet_size_; }

  // Appends reply bytes; each full packet goes out at once.
  void Write(const std::string& bytes) { Write(bytes.data(), bytes.size()); }
  void Write(const void* data, size_t size);
  // Sends what is buffered as the last packet of the reply.
  void EndMessage();
  // True once a packet of the reply being written has gone out without
  // ending it: the client is already reading this reply.
  bool reply_begun() const { return reply_begun_; }
  // Sends what is buffered without ending the reply (before a deliberate
  // close).
  void FlushPartial();

  uint16_t spid() const { return spid_; }
  // True once the client sent an attention during this reply. Checked after
  // every packet.
  bool attention() const { return attention_; }
  void clear_attention() { attention_ = false; }
  // Sleeps up to ms milliseconds, waking early when an attention arrives;
  // returns attention(). Throws ChannelClosed when the peer has gone.
  bool WaitForAttention(int ms);
  // Looks, without waiting, for an attention or a peer that has gone. Returns
  // false once the peer has gone (later writes then throw ChannelClosed).
  // Never throws, so it may run inside SQLite's callbacks.
  bool CheckPeer();

  // Closes the socket now; later writes throw ChannelClosed.
  void Close();
  // Shuts down every open client socket (the server is stopping); each session
  // then sees its peer gone and ends.
  static void ShutdownAll();

 private:
  void SendPacket(bool last);
  void SendAll(const char* data, size_t size);
  void PollAttention(int timeout_ms);
  void ReadExact(char* data, size_t size);

  int fd_;
  std::chrono::steady_clock::time_point deadline_ =
      std::chrono::steady_clock::time_point::max();
  int request_timeout_ms_ = 0;
  RequestMemory* memory_ = nullptr;
  // The deadline of the request being read, once its first byte has come.
  std::chrono::steady_clock::time_point request_deadline_ =
      std::chrono::steady_clock::time_point::max();
  uint16_t spid_;
  uint8_t packet_id_ = 1;
  size_t packet_size_ = 4096;
  std::string out_;  // payload of the packet being filled
  bool attention_ = false;
  bool peer_gone_ = false;
  bool reply_begun_ = false;
};

}  // namespace venuedb

#endif  // VENUEDB_SRC_CHANNEL_H_
