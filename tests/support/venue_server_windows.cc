// The venue server of a Windows test: venue_control, a Linux program beside
// the test (scripts/test --windows starts it and names its port in
// RONDEL_VENUE_CONTROL), runs venuedb and opens its database for the test;
// each step is one request and reply (venue_control_protocol.h).
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h before the others
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>

#include "venue_control_protocol.h"
#include "venue_server.h"

namespace rondel::testing {

namespace {

using venue_control::Message;

// The name wine gives a Linux path: drive Z: is the root.
std::string WindowsPath(const std::string& linux_path) {
  std::string path = "Z:" + linux_path;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

SOCKET Connect() {
  const char* control = getenv("RONDEL_VENUE_CONTROL");
  if (control == nullptr || control[0] == '\0') {
    ADD_FAILURE() << "RONDEL_VENUE_CONTROL is not set: the Windows tests run "
                     "under scripts/test --windows, which starts venue_control";
    return INVALID_SOCKET;
  }
  const std::string target = control;
  const size_t colon = target.rfind(':');
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(
      colon == std::string::npos ? 0 : atoi(target.c_str() + colon + 1)));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET ||
      connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ADD_FAILURE() << "cannot reach venue_control at " << target << " (error "
                  << WSAGetLastError() << ")";
    if (s != INVALID_SOCKET) closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

// Sends `request` and reads the reply; raises the failures it reports and
// answers the fields after them. Nothing when the link is down or broke.
std::optional<Message> Call(intptr_t link, const Message& request) {
  if (link == -1) return std::nullopt;
  const SOCKET s = static_cast<SOCKET>(link);
  const std::string bytes = venue_control::Encode(request);
  for (size_t sent = 0; sent < bytes.size();) {
    const int n =
        send(s, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
    if (n <= 0) {
      ADD_FAILURE() << "venue_control: send failed (" << WSAGetLastError()
                    << ")";
      return std::nullopt;
    }
    sent += static_cast<size_t>(n);
  }
  Message reply;
  const bool whole = venue_control::Decode(
      [s](char* buffer, size_t size) {
        while (size > 0) {
          const int n = recv(s, buffer, static_cast<int>(size), 0);
          if (n <= 0) return false;
          buffer += n;
          size -= static_cast<size_t>(n);
        }
        return true;
      },
      &reply);
  if (!whole || reply.empty()) {
    ADD_FAILURE() << "venue_control ended the link during '" << *request[0]
                  << "'";
    return std::nullopt;
  }
  if (reply[0] && !reply[0]->empty())
    ADD_FAILURE() << "venue_control: " << *reply[0];
  reply.erase(reply.begin());
  return reply;
}

std::string Text(const Message& reply, size_t index) {
  return index < reply.size() && reply[index] ? *reply[index] : std::string();
}

}  // namespace

VenueServer::VenueServer(std::vector<std::string> seed_args,
                         ServeSettings settings)
    : settings_(std::move(settings)) {
  if (!settings_.options.empty() || !settings_.limits.empty())
    ADD_FAILURE() << "serve options and limits are for Linux tests";
  const SOCKET s = Connect();
  if (s == INVALID_SOCKET) return;
  link_ = static_cast<intptr_t>(s);
  venue_ = TestVenue();
  if (seed_args.size() >= 2 && seed_args[0] == "--venue") {
    venue_ = seed_args[1];
    seed_args.erase(seed_args.begin(), seed_args.begin() + 2);
  }
  // venue_control makes the database in this shape (venue_server_posix.cc).
  Message request = {std::string("new"), std::string("--venue"), venue_};
  request.insert(request.end(), seed_args.begin(), seed_args.end());
  std::optional<Message> reply = Call(link_, request);
  if (!reply) return;
  folder_ = WindowsPath(Text(*reply, 0));
  db_path_ = WindowsPath(Text(*reply, 1));
  port_ = atoi(Text(*reply, 2).c_str());
}

VenueServer::~VenueServer() {
  // venue_control stops the server and removes the folder when the link ends.
  if (link_ != -1) closesocket(static_cast<SOCKET>(link_));
}

void VenueServer::Start(int port) {
  if (port_ != 0 || db_path_.empty()) return;
  if (std::optional<Message> reply =
          Call(link_, {std::string("start"), std::to_string(port)}))
    port_ = atoi(Text(*reply, 0).c_str());
}

int VenueServer::Stop() {
  if (port_ == 0) return -1;
  std::optional<Message> reply = Call(link_, {std::string("stop")});
  port_ = 0;
  frozen_ = false;
  return reply ? atoi(Text(*reply, 0).c_str()) : -1;
}

int VenueServer::pid() const { return -1; }

void VenueServer::Freeze() {
  if (port_ == 0) return;
  Call(link_, {std::string("freeze")});
  frozen_ = true;
}

void VenueServer::Exec(const std::string& sql) {
  Call(link_, {std::string("exec"), sql});
}

std::vector<Row> VenueServer::Query(const std::string& sql) {
  std::vector<Row> rows;
  std::optional<Message> reply = Call(link_, {std::string("query"), sql});
  if (!reply || reply->empty()) return rows;
  const size_t columns = static_cast<size_t>(atoi(Text(*reply, 0).c_str()));
  for (size_t at = 1; columns > 0 && at + columns <= reply->size();
       at += columns) {
    rows.emplace_back(
        reply->begin() + static_cast<std::ptrdiff_t>(at),
        reply->begin() + static_cast<std::ptrdiff_t>(at + columns));
  }
  return rows;
}

}  // namespace rondel::testing
