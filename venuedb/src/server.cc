// The accept loop (Listener::Run), the threads it starts, and the stop. The
// loop polls the stop pipe, the wake pipe the sessions write as they end, the
// listener and the refusals in progress; it owns the refusals, the reserve
// descriptor and the anchor handle, so none of them needs a lock.
#include "server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "channel.h"
#include "journal.h"
#include "refusal.h"
#include "sqlite_handles.h"
#include "store.h"

namespace venuedb {

namespace {

using Clock = std::chrono::steady_clock;

// How long a stop waits for its sessions to end by themselves.
constexpr auto kStopGrace = std::chrono::seconds(5);
// Refusals waiting for their client's login at once; more are closed at once.
constexpr size_t kMaxPendingRefusals = 64;
// How long the loop leaves the listener alone when it could neither accept
// nor refuse for want of descriptors or memory.
constexpr auto kBackoff = std::chrono::milliseconds(100);
// How long the server stays without connections before it gives back what
// the last ones took (so that a client connecting again and again pays
// nothing for it).
constexpr auto kIdleRelease = std::chrono::milliseconds(200);

const RefusalReason kConnectionLimit = {
    "refused: connection limit", 17809, 20,
    "Could not connect because the maximum number of user connections has "
    "already been reached. The connection has been closed."};
const RefusalReason kNoThread = {
    "refused: no thread", 17300, 16,
    "The server was unable to run a new session: it could not start a "
    "thread. The connection has been closed."};

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

std::string PeerName(const sockaddr_in& peer) {
  char host[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &peer.sin_addr, host, sizeof host);
  return std::string(host) + ":" + std::to_string(ntohs(peer.sin_port));
}

// Counts live sessions so that the loop can limit them and a stop can wait
// for them. Ending sessions write a byte to the wake pipe.
struct Sessions {
  std::mutex mutex;
  std::condition_variable done;
  int live = 0;            // GUARDED_BY(mutex)
  int ended = 0;           // since the last release; GUARDED_BY(mutex)
  int wake[2] = {-1, -1};  // non-blocking

  void End() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      --live;
      ++ended;
      done.notify_all();
    }
    char byte = 1;
    ssize_t ignored = write(wake[1], &byte, 1);
    (void)ignored;
  }
};

// A handle on the database held while the server runs: when a session closes
// the last handle, SQLite checkpoints and removes the WAL with an fsync, which
// would stall every next login. It never checkpoints on its own close, so it
// can be closed and opened again cheaply: that is how the descriptors SQLite
// keeps for closed handles (until no handle on the file holds a lock) are
// given back.
class Anchor {
 public:
  explicit Anchor(std::string path) : path_(std::move(path)) {}
  ~Anchor() { Close(); }
  bool Open(std::string* error) {
    db_ = DeferClose(OpenDatabase(path_, error));
    if (db_)
      sqlite3_db_config(db_.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1,
                        nullptr);
    return db_ != nullptr;
  }
  void Close() { db_.reset(); }

 private:
  std::string path_;
  DeferredDbHandle db_;
};

class Listener {
 public:
  Listener(int fd, const ServerOptions& options,
           const SessionOptions& session_options, Journal* journal,
           Anchor* anchor, Sessions* sessions)
      : fd_(fd),
        options_(options),
        session_options_(session_options),
        journal_(journal),
        anchor_(anchor),
        sessions_(sessions),
        refusals_(journal, kMaxPendingRefusals,
                  session_options.login_timeout_ms) {
    reserve_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
  }
  ~Listener() {
    if (reserve_ >= 0) close(reserve_);
  }

  // Serves until the stop pipe is written; then closes the listener and the
  // refusals.
  void Run();

 private:
  void Accept();
  // Takes the connection waiting on the listener and closes it at once,
  // journaled as refused for `why`. False when none could be taken.
  bool TakeAndRefuse(const char* why);
  // The listener could not take a connection for want of descriptors or
  // memory: refuses the connection waiting with the reserve descriptor, or
  // backs off when there is none.
  void Starved(int error);
  void Serve(int fd, const std::string& peer);
  // Gives back what a burst of connections left, once none is left.
  void ReleaseWhenIdle();
  // The poll time-out: the next refusal deadline, the end of a back-off, the
  // idle release.
  int TimeoutMs() const;

  int fd_;
  const ServerOptions& options_;
  const SessionOptions& session_options_;
  Journal* journal_;
  Anchor* anchor_;
  Sessions* sessions_;
  Refusals refusals_;
  int reserve_ = -1;  // a descriptor kept to make room for a refusal
  Clock::time_point backoff_until_;
  bool starved_ = false;
  int refused_starved_ = 0;
  Clock::time_point release_at_ = Clock::time_point::max();
};

void Listener::Run() {
  std::vector<pollfd> fds;
  for (;;) {
    const bool listening = Clock::now() >= backoff_until_;
    fds.assign({{stop_pipe[0], POLLIN, 0},
                {sessions_->wake[0], POLLIN, 0},
                {listening ? fd_ : -1, POLLIN, 0}});
    refusals_.AppendPollFds(&fds);
    if (poll(fds.data(), fds.size(), TimeoutMs()) < 0 && errno != EINTR) {
      std::fprintf(stderr, "venuedb: poll: %s\n", std::strerror(errno));
      std::this_thread::sleep_for(kBackoff);
      continue;
    }
    if (fds[0].revents) break;
    if (fds[1].revents) {
      char drain[64];
      while (read(sessions_->wake[0], drain, sizeof drain) > 0) {
      }
    }
    refusals_.Service(fds.data() + 3);
    if (listening && (fds[2].revents & POLLIN)) Accept();
    ReleaseWhenIdle();
  }
  // Connections the kernel completed but the loop never took are taken now
  // and refused, so that each has its rows.
  const int flags = fcntl(fd_, F_GETFL);
  fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
  while (TakeAndRefuse("refused: server stopping")) {
  }
  close(fd_);
  refusals_.CloseAll();
}

int Listener::TimeoutMs() const {
  const auto now = Clock::now();
  Clock::time_point until =
      std::min(release_at_, backoff_until_ > now ? backoff_until_
                                                 : Clock::time_point::max());
  int timeout = refusals_.NextTimeoutMs();
  if (until != Clock::time_point::max()) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
    const int ms = static_cast<int>(std::clamp<int64_t>(left, 0, 60 * 1000));
    timeout = timeout < 0 ? ms : std::min(timeout, ms);
  }
  return timeout;
}

void Listener::Accept() {
  sockaddr_in peer;
  socklen_t peer_length = sizeof peer;
  int fd = accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &peer_length,
                   SOCK_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == EMFILE || error == ENFILE || error == ENOBUFS ||
        error == ENOMEM) {
      Starved(error);
    } else if (error != EAGAIN && error != EWOULDBLOCK && error != EINTR &&
               error != ECONNABORTED) {
      std::fprintf(stderr, "venuedb: accept: %s\n", std::strerror(error));
      backoff_until_ = Clock::now() + kBackoff;
    }
    return;
  }
  if (starved_) {
    std::fprintf(stderr,
                 "venuedb: accepting again; %d connections were refused for "
                 "want of descriptors or memory\n",
                 refused_starved_);
    starved_ = false;
    refused_starved_ = 0;
  }
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  Serve(fd, PeerName(peer));
}

bool Listener::TakeAndRefuse(const char* why) {
  sockaddr_in peer;
  socklen_t peer_length = sizeof peer;
  const int fd = accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &peer_length,
                         SOCK_CLOEXEC);
  if (fd < 0) return false;
  const int64_t conn_id = journal_->OpenConnection(PeerName(peer));
  close(fd);
  journal_->CloseConnection(conn_id, "", why, true);
  return true;
}

void Listener::Starved(int error) {
  if (!starved_) {
    std::fprintf(stderr,
                 "venuedb: accept: %s; refusing connections until some "
                 "close\n",
                 std::strerror(error));
    starved_ = true;
  }
  // Without this the waiting connection stays in the backlog, its client
  // waits for nothing, and poll reports the listener ready at once, again
  // and again.
  bool refused = false;
  if (reserve_ >= 0) {
    close(reserve_);
    refused = TakeAndRefuse("refused: no descriptor");
    if (refused) ++refused_starved_;
    reserve_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
  }
  if (!refused || reserve_ < 0) backoff_until_ = Clock::now() + kBackoff;
}

void Listener::Serve(int fd, const std::string& peer) {
  const int64_t conn_id = journal_->OpenConnection(peer);
  {
    std::lock_guard<std::mutex> lock(sessions_->mutex);
    if (sessions_->live >= options_.max_connections) {
      refusals_.Add(fd, conn_id, kConnectionLimit);
      return;
    }
    ++sessions_->live;
  }
  release_at_ = Clock::time_point::max();
  Sessions* sessions = sessions_;
  const SessionOptions* session_options = &session_options_;
  try {
    std::thread([fd, conn_id, peer, session_options, sessions]() {
      // A session catches what its requests throw; this is the last line, so
      // that nothing a connection does can end the process.
      try {
        ServeConnection(fd, conn_id, peer, *session_options);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "venuedb: session from %s: %s\n", peer.c_str(),
                     e.what());
      } catch (...) {
        std::fprintf(stderr, "venuedb: session from %s: unknown exception\n",
                     peer.c_str());
      }
      sessions->End();
    }).detach();
  } catch (const std::system_error& e) {
    std::fprintf(stderr, "venuedb: conn %lld: no thread: %s\n",
                 static_cast<long long>(conn_id), e.what());
    {
      std::lock_guard<std::mutex> lock(sessions_->mutex);
      --sessions_->live;
    }
    refusals_.Add(fd, conn_id, kNoThread);
  }
}

void Listener::ReleaseWhenIdle() {
  {
    std::lock_guard<std::mutex> lock(sessions_->mutex);
    if (sessions_->live > 0 || sessions_->ended == 0) {
      if (sessions_->live > 0) release_at_ = Clock::time_point::max();
      return;
    }
    if (release_at_ == Clock::time_point::max()) {
      release_at_ = Clock::now() + kIdleRelease;
      return;
    }
    if (Clock::now() < release_at_) return;
    sessions_->ended = 0;
  }
  // No session runs, and none starts before this returns.
  release_at_ = Clock::time_point::max();
  anchor_->Close();
  malloc_trim(0);
  std::string error;
  if (!anchor_->Open(&error))
    std::fprintf(stderr, "venuedb: %s\n", error.c_str());
}

// Descriptors are the first thing many connections run out of: take what the
// hard limit allows.
void RaiseDescriptorLimit() {
  rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 &&
      limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

}  // namespace

namespace {

// The listening socket of --listen (loopback unless --allow-remote), with the
// address it got; -1 after saying why on stderr.
int OpenListener(const ServerOptions& options, sockaddr_in* address) {
  std::string error;
  if (!ParseListen(options.listen, address, &error)) {
    std::fprintf(stderr, "venuedb: %s\n", error.c_str());
    return -1;
  }
  const bool loopback = (ntohl(address->sin_addr.s_addr) >> 24) == 127;
  if (!loopback && !options.allow_remote) {
    std::fprintf(stderr,
                 "venuedb: refusing to listen on %s (not loopback; "
                 "--allow-remote permits it)\n",
                 options.listen.c_str());
    return -1;
  }
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (listener < 0 ||
      bind(listener, reinterpret_cast<sockaddr*>(address), sizeof *address) !=
          0 ||
      listen(listener, 128) != 0) {
    std::fprintf(stderr, "venuedb: cannot listen on %s: %s\n",
                 options.listen.c_str(), std::strerror(errno));
    if (listener >= 0) close(listener);
    return -1;
  }
  socklen_t length = sizeof *address;
  getsockname(listener, reinterpret_cast<sockaddr*>(address), &length);
  return listener;
}

// SIGTERM and SIGINT stop the server through the stop pipe; a client gone
// mid-write is an error return, not a signal.
bool InstallStopHandlers(Sessions* sessions) {
  if (pipe2(stop_pipe, O_CLOEXEC) != 0 ||
      pipe2(sessions->wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::fprintf(stderr, "venuedb: pipe: %s\n", std::strerror(errno));
    return false;
  }
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnStopSignal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return true;
}

// Wakes every session; each one records its close and ends. What is left after
// the grace period may be stuck anywhere: its rows are completed for it, and
// the process ends without waiting (and without running destructors under its
// feet).
void StopSessions(Sessions* sessions, Journal* journal) {
  const auto deadline = Clock::now() + kStopGrace;
  std::unique_lock<std::mutex> lock(sessions->mutex);
  while (sessions->live > 0 && Clock::now() < deadline) {
    Channel::ShutdownAll();
    sessions->done.wait_until(
        lock,
        std::min(deadline, Clock::now() + std::chrono::milliseconds(100)));
  }
  if (sessions->live == 0) return;
  std::fprintf(stderr,
               "venuedb: %d sessions did not end within the stop's grace "
               "period; their journal rows are completed for them\n",
               sessions->live);
  lock.unlock();
  journal->Seal("server_stop");
  std::fflush(nullptr);
  _exit(0);
}

}  // namespace

int RunServer(const ServerOptions& options) {
  RaiseDescriptorLimit();
  // Two heap arenas at most: glibc would make up to eight per core for
  // hundreds of session threads, and malloc_trim cannot give back the top of
  // an arena other than the main one, so each would keep megabytes after a
  // burst.
  mallopt(M_ARENA_MAX, 2);
  sockaddr_in address;
  const int listener = OpenListener(options, &address);
  if (listener < 0) return 1;

  std::string error;
  Anchor anchor(options.session.db_path);
  std::unique_ptr<Journal> journal;
  if (anchor.Open(&error))
    journal = Journal::Open(JournalPath(options.session.db_path), &error);
  if (!journal) {
    std::fprintf(stderr, "venuedb: %s\n", error.c_str());
    close(listener);
    return 1;
  }
  RequestMemory request_memory(options.request_memory_bytes);
  SessionOptions session_options = options.session;
  session_options.journal = journal.get();
  session_options.request_memory = &request_memory;
  Sessions sessions;
  if (!InstallStopHandlers(&sessions)) {
    close(listener);
    return 1;
  }

  char host[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &address.sin_addr, host, sizeof host);
  std::printf("listening %s:%u\n", host, ntohs(address.sin_port));
  std::fflush(stdout);
  Listener(listener, options, session_options, journal.get(), &anchor,
           &sessions)
      .Run();
  if (options.session.verbose) std::fprintf(stderr, "venuedb: stopping\n");
  StopSessions(&sessions, journal.get());
  return 0;
}

}  // namespace venuedb
