// Loopback receivers for the diagnostic datagrams, for tests that check them
// byte for byte. Nothing here sends: the library sends, to the address that
// RONDEL_DIAG_TARGET names, and these sockets receive on 127.0.0.1 only.
//
//   UdpReceiver receiver;                       // 127.0.0.1, a free port
//   SetEnv("RONDEL_DIAG_TARGET", receiver.target());
//   std::string payload;
//   ASSERT_TRUE(receiver.Receive(&payload));
//
// Not thread-safe: receive from one thread.
#ifndef RONDEL_TESTS_SUPPORT_UDP_RECEIVER_H_
#define RONDEL_TESTS_SUPPORT_UDP_RECEIVER_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "test_system.h"

namespace rondel {
namespace testing {

// A UDP socket on 127.0.0.1 and a free port. ok() is false when the socket
// could not be made or bound.
class UdpReceiver {
 public:
  bool ok() const { return socket_.ok(); }
  uint16_t port() const { return socket_.port(); }
  // "127.0.0.1:PORT", as RONDEL_DIAG_TARGET takes it.
  std::string target() const { return "127.0.0.1:" + std::to_string(port()); }

  // The next datagram's payload, or false when none arrives within `wait_ms`
  // (a lost datagram fails the test instead of hanging it). `full_size`
  // receives the datagram's real size, which is also the payload's size: the
  // buffer holds the largest UDP payload.
  bool Receive(std::string* payload, int wait_ms = 10000,
               size_t* full_size = nullptr) {
    return socket_.Receive(payload, wait_ms, full_size);
  }

 private:
  LoopbackSocket socket_{LoopbackSocket::Kind::kDatagram};
};

class DiagListener {
 public:
  DiagListener() {
    if (receiver_.ok()) SetEnv("RONDEL_DIAG_TARGET", receiver_.target());
  }
  ~DiagListener() { UnsetEnv("RONDEL_DIAG_TARGET"); }
  DiagListener(const DiagListener&) = delete;
  DiagListener& operator=(const DiagListener&) = delete;

  bool ready() const { return receiver_.ok(); }

  // The next datagram's payload; "<none>" when nothing arrives within five
  // seconds or the socket fails.
  std::string Next() {
    std::string payload;
    return receiver_.Receive(&payload, 5000) ? payload : "<none>";
  }

 private:
  UdpReceiver receiver_;
};

}  // namespace testing
}  // namespace rondel

#endif  // RONDEL_TESTS_SUPPORT_UDP_RECEIVER_H_
