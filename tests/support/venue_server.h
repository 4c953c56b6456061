// A venuedb server for one test: a fresh database in its own temporary folder
// and the server on a free loopback port. Database tests talk to it through
// real FreeTDS, and check what arrived through the server's journal tables
// (vdb_journal, vdb_journal_params, vdb_connections) with Query().
//
//   rondel::testing::VenueServer server;              // venuedb init
//   rondel::testing::VenueServer seeded({"--media", "100"});   // venuedb seed
//   --db F ... server.Exec("INSERT INTO vdb_faults VALUES('refuse_login', '*',
//   0)"); auto rows = server.Query("SELECT kind, ok FROM vdb_journal ORDER BY
//   id");
//
// Failures (venuedb missing, init failing, no "listening" line) are reported
// with ADD_FAILURE; port() is then 0. Not thread-safe: use it from the test's
// thread.
//
// On Linux the object runs venuedb itself (venue_server_posix.cc). A Windows
// test asks venue_control, a Linux program beside it, to do each step
// (venue_server_windows.cc, venue_control_protocol.h); folder() and db_path()
// are then the Windows names of the Linux paths (Z:\tmp\...).
#ifndef RONDEL_TESTS_SUPPORT_VENUE_SERVER_H_
#define RONDEL_TESTS_SUPPORT_VENUE_SERVER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace rondel::testing {

using Row = std::vector<std::optional<std::string>>;  // NULL as nullopt, values
                                                      // as text/bytes

// How the server is run: options added to `venuedb serve`, and resource
// limits (RLIMIT_..., value) set in its process before it starts, soft and
// hard alike, as prlimit does (Linux). Root is not bound by RLIMIT_NPROC: a
// server given that limit by root runs as an unprivileged user (nobody), which
// is given the folder.
struct ServeSettings {
  std::vector<std::string> options = {};
  std::vector<std::pair<int, uint64_t>> limits = {};
};
// The user (nobody) such a server runs as.
constexpr int kUnprivilegedUid = 65534;

// The shape of venue a test's database is made in (venuedb init/seed
// --venue): RONDEL_TEST_VENUE, "gbk" (venuedb's own schema, the default),
// "unicode" (texts as nvarchar) or "latin1" (GBK bytes under a Latin-1
// collation). CTest runs the database suites once per shape.
std::string TestVenue();
// Whether the test's venue can hold `text`: a Unicode venue keeps texts as
// UTF-16, so bytes that are no GBK text cannot be stored there.
bool TestVenueHolds(const std::string& text);

class VenueServer {
 public:
  // Creates a fresh database (venuedb init) in a new temporary folder, or seeds
  // it when seed_args is non-empty (runs `venuedb seed --db FILE
  // <seed_args...>`), and starts venuedb on a free loopback port (port 0, reads
  // the "listening" line). seed_args starting with "--venue SHAPE" choose the
  // shape instead of TestVenue().
  explicit VenueServer(std::vector<std::string> seed_args = {},
                       ServeSettings settings = {});
  ~VenueServer();  // stops the server (SIGTERM), removes the folder
  VenueServer(const VenueServer&) = delete;
  VenueServer& operator=(const VenueServer&) = delete;

  int port() const { return port_; }
  // The server's process id on this machine; -1 when it is not running or
  // runs on the other side of venue_control (Windows).
  int pid() const;
  std::string address() const;  // "127.0.0.1:PORT"
  const std::string& db_path() const { return db_path_; }
  const std::string& folder() const {
    return folder_;
  }  // tests may put files there

  // Stops the process (SIGTERM; SIGKILL after 10 s, at once when frozen); the
  // database stays. Returns how it ended: its exit status, or 128 + the signal
  // that ended it; -1 when it was not running.
  int Stop();
  // Halts the process where it stands: connections still complete in the
  // kernel, and nothing answers them. Stop() ends a frozen server.
  void Freeze();
  // Starts again: on a new free port, or on `port` (the one it had, so that
  // settings pointing at it stay right).
  void Start(int port = 0);

  // Runs SQL on the database file directly (fails the test on error).
  void Exec(const std::string& sql);
  // Runs a query on the database file directly. Integers and reals come as
  // their decimal text, texts and blobs as their bytes. Fails the test on error
  // (and returns no rows).
  std::vector<Row> Query(const std::string& sql);

  // Writes a settings file for the library pointing at this server:
  // [MainServer] DataBaseServerIp=127.0.0.1, DataBaseServerPort=PORT,
  // UserName=sa, PassWord=, FileServerIP=<file_server_ip>, and
  // ClientCharset=<client_charset> when it is not empty, else CP1252 in a
  // Latin-1 venue (as the README's table of collations says); [KTV]
  // DataBaseName=karaok. Returns its path (inside folder()).
  std::string WriteSettingsFile(const std::string& file_server_ip = "",
                                const std::string& client_charset = "") const;

 private:
  std::string folder_;
  std::string db_path_;
  ServeSettings settings_;
  std::string venue_ = "gbk";  // the shape the database was made in
  // The server process (Linux), or the connection to venue_control (Windows);
  // -1 when there is none.
  intptr_t link_ = -1;
  int port_ = 0;
  bool frozen_ = false;
};

}  // namespace rondel::testing

#endif  // RONDEL_TESTS_SUPPORT_VENUE_SERVER_H_
