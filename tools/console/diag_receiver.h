// The console's ear for the library's diagnostic datagrams: one UDP socket,
// bound where --diag-listen says, read by a thread of its own into a
// LiveDatagrams. Like rondel-monitor it only ever reads, so it is never seen
// on the venue's network.
#ifndef RONDEL_TOOLS_CONSOLE_DIAG_RECEIVER_H_
#define RONDEL_TOOLS_CONSOLE_DIAG_RECEIVER_H_

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "live_datagrams.h"

namespace rondel {
namespace tools {

// "a.b.c.d:port" (IPv4, port 0-65535) into its parts; false when it is not
// one.
bool ParseAddress(const std::string& text, std::string* host, int* port);

class DiagReceiver {
 public:
  // Binds host:port (port 0: a free one) and starts receiving into `live`,
  // which must outlive the receiver. On failure returns null with the reason
  // in *error.
  static std::unique_ptr<DiagReceiver> Start(const std::string& host, int port,
                                             LiveDatagrams* live,
                                             std::string* error);
  DiagReceiver(const DiagReceiver&) = delete;
  DiagReceiver& operator=(const DiagReceiver&) = delete;
  ~DiagReceiver();  // stops the thread, closes the socket

  // "a.b.c.d:port" as bound, with the port taken when 0 was asked for.
  const std::string& address() const { return address_; }

 private:
  DiagReceiver(int socket, std::string address, LiveDatagrams* live);
  void Receive();

  const int socket_;
  const std::string address_;
  LiveDatagrams* const live_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_CONSOLE_DIAG_RECEIVER_H_
