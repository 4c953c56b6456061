// venue_control: runs venuedb servers for Windows tests. A test under wine
// cannot start, signal or wait for a Linux process, nor open the database file
// beside a Linux venuedb, so its VenueServer asks this program to (see
// venue_control_protocol.h): each connection owns one VenueServer, as a Linux
// test would have it, and loses it when the connection ends.
//
//   venue_control        listens on a free loopback port, prints
//                        "listening 127.0.0.1:PORT", serves until killed
#include <arpa/inet.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <sstream>
#include <thread>

#include "venue_control_protocol.h"
#include "venue_server.h"

namespace rondel::testing {
namespace {

using venue_control::Message;

bool ReadExactly(int fd, char* buffer, size_t size) {
  while (size > 0) {
    const ssize_t n = read(fd, buffer, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buffer += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const std::string& bytes) {
  for (size_t sent = 0; sent < bytes.size();) {
    const ssize_t n =
        send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

std::string Text(const Message& message, size_t index) {
  return index < message.size() && message[index] ? *message[index]
                                                  : std::string();
}

// Runs one request on `server` (made by "new"); the reply's fields after
// FAILURES.
Message Run(const Message& request, std::unique_ptr<VenueServer>* server) {
  const std::string command = Text(request, 0);
  if (command == "new") {
    std::vector<std::string> seed_args;
    for (size_t i = 1; i < request.size(); ++i)
      seed_args.push_back(Text(request, i));
    *server = std::make_unique<VenueServer>(seed_args);
    return {(*server)->folder(), (*server)->db_path(),
            std::to_string((*server)->port())};
  }
  if (!*server) {
    ADD_FAILURE() << "'" << command << "' before 'new'";
    return {};
  }
  VenueServer& venue = **server;
  if (command == "start") {
    venue.Start(std::stoi("0" + Text(request, 1)));
    return {std::to_string(venue.port())};
  }
  if (command == "stop") return {std::to_string(venue.Stop())};
  if (command == "freeze") {
    venue.Freeze();
    return {};
  }
  if (command == "exec") {
    venue.Exec(Text(request, 1));
    return {};
  }
  if (command == "query") {
    const std::vector<Row> rows = venue.Query(Text(request, 1));
    Message reply = {std::to_string(rows.empty() ? 0 : rows[0].size())};
    for (const Row& row : rows)
      reply.insert(reply.end(), row.begin(), row.end());
    return reply;
  }
  ADD_FAILURE() << "unknown request '" << command << "'";
  return {};
}

void Serve(int fd) {
  std::unique_ptr<VenueServer> server;
  Message request;
  while (venue_control::Decode(
      [fd](char* buffer, size_t size) { return ReadExactly(fd, buffer, size); },
      &request)) {
    // The failures VenueServer raises are caught here and go back to the test.
    ::testing::TestPartResultArray failures;
    Message reply;
    {
      ::testing::ScopedFakeTestPartResultReporter reporter(
          ::testing::ScopedFakeTestPartResultReporter::
              INTERCEPT_ONLY_CURRENT_THREAD,
          &failures);
      reply = Run(request, &server);
    }
    std::ostringstream text;
    for (int i = 0; i < failures.size(); ++i)
      text << (i > 0 ? "\n" : "") << failures.GetTestPartResult(i).message();
    reply.insert(reply.begin(), text.str());
    if (!WriteAll(fd, venue_control::Encode(reply))) break;
  }
  server.reset();
  close(fd);
}

int Main() {
  signal(SIGPIPE, SIG_IGN);
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 ||
      bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) !=
          0 ||
      listen(listener, 64) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) !=
          0) {
    perror("venue_control: listen");
    return 1;
  }
  printf("listening 127.0.0.1:%d\n", ntohs(address.sin_port));
  fflush(stdout);
  for (;;) {
    const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      perror("venue_control: accept");
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    std::thread(Serve, fd).detach();
  }
}

}  // namespace
}  // namespace rondel::testing

int main() { return rondel::testing::Main(); }
