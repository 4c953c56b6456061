#include "server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "channel.h"
#include "journal.h"
#include "store.h"

namespace venuedb {

namespace {

int stop_pipe[2] = {-1, -1};

void OnStopSignal(int) {
  char byte = 1;
  ssize_t ignored = write(stop_pipe[1], &byte, 1);
  (void)ignored;
}

bool ParseListen(const std::string& listen, sockaddr_in* address,
                 std::string* error) {
  size_t colon = listen.rfind(':');
  if (colon == std::string::npos) {
    *error = "--listen wants HOST:PORT";
    return false;
  }
  std::string host = listen.substr(0, colon);
  if (host == "localhost") host = "127.0.0.1";
  char* end = nullptr;
  long port = std::strtol(listen.c_str() + colon + 1, &end, 10);
  if (*end != '\0' || port < 0 || port > 65535) {
    *error = "bad port in " + listen;
    return false;
  }
  std::memset(address, 0, sizeof *address);
  address->sin_family = AF_INET;
  address->sin_port = htons(static_cast<uint16_t>(port));
  if (inet_pton(AF_INET, host.c_str(), &address->sin_addr) != 1) {
    *error = "bad IPv4 address in " + listen;
    return false;
  }
  return true;
}

// Counts live sessions so that a stop can wait for them.
struct Sessions {
  std::mutex mutex;
  std::condition_variable done;
  int live = 0;
};

}  // namespace

int RunServer(const ServerOptions& options) {
  sockaddr_in address;
  std::string error;
  if (!ParseListen(options.listen, &address, &error)) {
    std::fprintf(stderr, "venuedb: %s\n", error.c_str());
    return 1;
  }
  bool loopback = (ntohl(address.sin_addr.s_addr) >> 24) == 127;
  if (!loopback && !options.allow_remote) {
    std::fprintf(stderr,
                 "venuedb: refusing to listen on %s (not loopback; "
                 "--allow-remote permits it)\n",
                 options.listen.c_str());
    return 1;
  }
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (listener < 0 ||
      bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) !=
          0 ||
      listen(listener, 128) != 0) {
    std::fprintf(stderr, "venuedb: cannot listen on %s: %s\n",
                 options.listen.c_str(), std::strerror(errno));
    if (listener >= 0) close(listener);
    return 1;
  }
  socklen_t length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  char host[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &address.sin_addr, host, sizeof host);

  // A handle held for the server's life: when a session closes the last handle,
  // SQLite checkpoints and removes the WAL with an fsync, which would stall
  // every next login.
  sqlite3* anchor = OpenDatabase(options.session.db_path, &error);
  if (!anchor) {
    std::fprintf(stderr, "venuedb: %s\n", error.c_str());
    close(listener);
    return 1;
  }

  std::unique_ptr<Journal> journal =
      Journal::Open(JournalPath(options.session.db_path), &error);
  if (!journal) {
    std::fprintf(stderr, "venuedb: %s\n", error.c_str());
    sqlite3_close_v2(anchor);
    close(listener);
    return 1;
  }
  SessionOptions session_options = options.session;
  session_options.journal = journal.get();

  if (pipe2(stop_pipe, O_CLOEXEC) != 0) return 1;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnStopSignal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::printf("listening %s:%u\n", host, ntohs(address.sin_port));
  std::fflush(stdout);

  Sessions sessions;
  for (;;) {
    pollfd fds[2] = {{listener, POLLIN, 0}, {stop_pipe[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents) break;
    if (!(fds[0].revents & POLLIN)) continue;
    sockaddr_in peer;
    socklen_t peer_length = sizeof peer;
    int fd = accept4(listener, reinterpret_cast<sockaddr*>(&peer), &peer_length,
                     SOCK_CLOEXEC);
    if (fd < 0) continue;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    char peer_host[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &peer.sin_addr, peer_host, sizeof peer_host);
    std::string peer_name =
        std::string(peer_host) + ":" + std::to_string(ntohs(peer.sin_port));
    {
      std::lock_guard<std::mutex> lock(sessions.mutex);
      ++sessions.live;
    }
    std::thread([fd, peer_name, &session_options, &sessions]() {
      // A session catches what its requests throw; this is the last line, so
      // that nothing a connection does can end the process.
      try {
        ServeConnection(fd, peer_name, session_options);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "venuedb: session from %s: %s\n",
                     peer_name.c_str(), e.what());
      } catch (...) {
        std::fprintf(stderr, "venuedb: session from %s: unknown exception\n",
                     peer_name.c_str());
      }
      std::lock_guard<std::mutex> lock(sessions.mutex);
      --sessions.live;
      sessions.done.notify_all();
    }).detach();
  }
  close(listener);
  if (options.session.verbose) std::fprintf(stderr, "venuedb: stopping\n");
  // Wake every session; each one records its close and ends.
  std::unique_lock<std::mutex> lock(sessions.mutex);
  for (int round = 0; round < 50 && sessions.live > 0; ++round) {
    Channel::ShutdownAll();
    sessions.done.wait_for(lock, std::chrono::milliseconds(100));
  }
  if (sessions.live > 0) {
    // A session that did not end keeps the journal it writes through.
    journal.release();
  }
  sqlite3_close_v2(anchor);
  return 0;
}

}  // namespace venuedb
