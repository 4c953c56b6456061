// A recording relay on loopback, for the TDS targets' seeds: what a real
// client (FreeTDS's tsql, the library) sends to venuedb, byte for byte.
//
//   fuzz_tds_capture UPSTREAM_PORT OUT_DIR
//
// Listens on 127.0.0.1 (a free port, printed as "listening PORT"), and relays
// each connection it accepts, one at a time, to 127.0.0.1:UPSTREAM_PORT. When
// a connection ends, what the client sent is written to OUT_DIR as
//   conn-N.stream           every byte, packet headers included
//   conn-N-M-TT.message     the M-th request (type TT in hex), headers included
//   conn-N-M-TT.payload     the same request's payload, headers stripped
// Runs until killed. Connects nowhere but loopback.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

void WriteWhole(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

bool Forward(int from, int to, std::string* recorded) {
  char buffer[65536];
  ssize_t n = read(from, buffer, sizeof buffer);
  if (n <= 0) return false;
  if (recorded != nullptr) recorded->append(buffer, static_cast<size_t>(n));
  for (ssize_t sent = 0; sent < n;) {
    ssize_t m = write(to, buffer + sent, static_cast<size_t>(n - sent));
    if (m <= 0) return false;
    sent += m;
  }
  return true;
}

// Cuts the client's bytes into requests (packets joined to end of message).
void WriteRequests(const std::string& dir, int connection,
                   const std::string& stream) {
  const std::string base = dir + "/conn-" + std::to_string(connection);
  WriteWhole(base + ".stream", stream);
  size_t at = 0;
  int request = 0;
  std::string message, payload;
  while (stream.size() - at >= 8) {
    const size_t length = (static_cast<uint8_t>(stream[at + 2]) << 8) |
                          static_cast<uint8_t>(stream[at + 3]);
    if (length < 8 || length > stream.size() - at) break;
    const uint8_t type = static_cast<uint8_t>(stream[at]);
    const bool last = stream[at + 1] & 0x01;
    message.append(stream, at, length);
    payload.append(stream, at + 8, length - 8);
    at += length;
    if (!last) continue;
    char name[64];
    std::snprintf(name, sizeof name, "-%d-%02x", ++request, type);
    WriteWhole(base + name + ".message", message);
    WriteWhole(base + name + ".payload", payload);
    message.clear();
    payload.clear();
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: fuzz_tds_capture UPSTREAM_PORT OUT_DIR\n");
    return 2;
  }
  const uint16_t upstream = static_cast<uint16_t>(std::atoi(argv[1]));
  const std::string dir = argv[2];
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t size = sizeof address;
  if (listener < 0 ||
      bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 8) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    std::perror("fuzz_tds_capture: listen");
    return 1;
  }
  std::printf("listening %d\n", ntohs(address.sin_port));
  std::fflush(stdout);
  for (int connection = 1;; ++connection) {
    int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to = Loopback(upstream);
    if (server < 0 ||
        connect(server, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
      std::perror("fuzz_tds_capture: connect");
      close(client);
      if (server >= 0) close(server);
      continue;
    }
    std::string sent;
    pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    for (;;) {
      if (poll(fds, 2, -1) < 0) break;
      if (fds[0].revents && !Forward(client, server, &sent)) break;
      if (fds[1].revents && !Forward(server, client, nullptr)) break;
    }
    close(client);
    close(server);
    WriteRequests(dir, connection, sent);
  }
}
