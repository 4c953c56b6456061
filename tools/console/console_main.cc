// rondel-console: the venue's state as a page in a browser, kept up to date.
//
// Three threads: the HTTP server's (its own pool), the datagram receiver's,
// and the main thread, which waits for SIGINT or SIGTERM with every signal
// blocked in all threads and then stops the other two.
#include <iconv.h>
#include <signal.h>

#include <cstdio>
#include <string>

#include "cached_status.h"
#include "console_server.h"
#include "diag_receiver.h"
#include "live_datagrams.h"

namespace {

using namespace rondel::tools;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// The status is gathered at most this often, however many pages ask: each
// gathering logs into the database.
constexpr int kGatherIntervalSeconds = 3;

const char kUsage[] = R"(Usage: rondel-console [options]

A read-only web page of the venue's state, for a browser on this machine: the
verdict of `rondel status` (serving from the database, offline on the snapshot
set written at T, or nothing to serve) and since when it holds; the database
(reachable, or the server's refusal with its message number and text, the last
accepted login); plays kept for the database and set aside; the fire alarm's
remembered answers; the snapshot set; the log's recent errors with counts; and
the library's diagnostic datagrams live, with a filter and a chart of
datagrams and failures per minute over the last hour. The page updates itself
every two seconds; nothing on it changes anything.

  /             the page (it fetches nothing from outside)
  /status.json  the same object as `rondel status --json`
  /live.json    since when, the datagrams and the chart's counts

The status is gathered at most every 3 seconds however many pages are open; it
logs into the database with a login of its own, as `rondel status` does.

Options:
  --listen ADDR:PORT       where the page is served (default 127.0.0.1:8606).
                           Any address but loopback shows the venue's state,
                           settings and log lines to whoever reaches it on
                           the venue's network. Port 0 takes a free port.
  --diag-listen ADDR:PORT  where the diagnostic datagrams are received (default
                           0.0.0.0:6001, as rondel-monitor; the library sends
                           to 127.0.0.1:PORT when RONDEL_DIAG_TARGET names it)
  --settings FILE          the settings file (default: RONDEL_SETTINGS_FILE,
                           else the venue's fixed path)
  --snapshot-dir DIR       the snapshot directory (default: RONDEL_SNAPSHOT_DIR,
                           else VideoServertable in the working directory)
  --log FILE               the log (default: RONDEL_LOG_FILE, else rondel.log
                           in the working directory)
  --help                   this text
  --version                the version

Once serving it writes "rondel-console: serving http://ADDR:PORT/, diagnostic
datagrams on ADDR:PORT" to standard error (with the ports taken when 0 was
asked for).

Exit status: 0 stopped by Ctrl-C (SIGINT) or SIGTERM; 1 cannot listen; 2 usage
error.
)";

int UsageError(const std::string& message) {
  std::fprintf(stderr,
               "rondel-console: %s\n"
               "(rondel-console --help shows the usage)\n",
               message.c_str());
  return kExitUsage;
}

struct Options {
  std::string host = "127.0.0.1";
  int port = 8606;
  std::string diag_host = "0.0.0.0";
  int diag_port = 6001;
  StatusSources sources = SourcesFromEnvironment();
};

// Fills `options`; answers -1 to go on, else the exit status.
int ParseArguments(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    if (arg == "--version") {
      std::printf("rondel-console %s\n", RONDEL_VERSION);
      return kExitOk;
    }
    const bool address = arg == "--listen" || arg == "--diag-listen";
    std::string* path = arg == "--settings" ? &options->sources.settings_file
                        : arg == "--snapshot-dir"
                            ? &options->sources.snapshot_dir
                        : arg == "--log" ? &options->sources.log_file
                                         : nullptr;
    if (!address && path == nullptr) {
      return UsageError("unknown option " + arg);
    }
    if (i + 1 >= argc || argv[i + 1][0] == '\0') {
      return UsageError(arg + (address ? " needs ADDR:PORT" : " needs a path"));
    }
    const std::string value = argv[++i];
    if (address) {
      const bool diag = arg == "--diag-listen";
      if (!ParseAddress(value, diag ? &options->diag_host : &options->host,
                        diag ? &options->diag_port : &options->port)) {
        return UsageError(arg + " takes ADDR:PORT (IPv4, port 0-65535), not " +
                          value);
      }
      continue;
    }
    *path = value;
    std::string& from = arg == "--settings" ? options->sources.settings_from
                        : arg == "--snapshot-dir"
                            ? options->sources.snapshot_from
                            : options->sources.log_from;
    from = arg;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const int parsed = ParseArguments(argc, argv, &options);
  if (parsed >= 0) return parsed;

  // Blocked before any thread starts, so only sigwait below sees them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  // The C library loads a character-set converter on its first use and
  // unloads it after its last user closes it. The datagram thread (texts shown
  // as UTF-8) and the status gathering (the database client's conversions, the
  // report's texts) both open and close GB18030 converters; one held open for
  // the whole run keeps it loaded, so neither thread loads or unloads code
  // while the other converts.
  const iconv_t keep_loaded = iconv_open("UTF-8", "GB18030");

  LiveDatagrams live;
  std::string error;
  auto receiver =
      DiagReceiver::Start(options.diag_host, options.diag_port, &live, &error);
  if (receiver == nullptr) {
    std::fprintf(stderr, "rondel-console: diagnostic datagrams: %s\n",
                 error.c_str());
    return kExitFailure;
  }
  CachedStatus status(options.sources, kGatherIntervalSeconds);
  ConsoleServer server(&status, &live);
  if (!server.Bind(options.host, options.port)) {
    std::fprintf(stderr, "rondel-console: cannot listen on %s:%d\n",
                 options.host.c_str(), options.port);
    return kExitFailure;
  }
  std::fprintf(stderr,
               "rondel-console: serving http://%s:%d/, diagnostic datagrams "
               "on %s\n",
               options.host.c_str(), server.port(),
               receiver->address().c_str());
  std::thread serving([&server] { server.Run(); });
  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  server.Stop();
  serving.join();
  if (keep_loaded != reinterpret_cast<iconv_t>(-1)) iconv_close(keep_loaded);
  return kExitOk;
}
