// venuedb: the venue database server (TDS over SQLite) and its tools; kUsage
// below is the command line.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "seed.h"
#include "server.h"
#include "store.h"
#include "venue_shape.h"

namespace {

const char kUsage[] =
    "usage: venuedb [serve] --db FILE --listen HOST:PORT [-v] "
    "[--allow-remote] [limits]\n"
    "       venuedb init --db FILE [--collation NAME] [--venue SHAPE]\n"
    "       venuedb seed --db FILE [options]   (venuedb seed --help lists "
    "them)\n"
    "       venuedb [COMMAND] --help | --version\n"
    "serve answers on HOST:PORT (loopback unless --allow-remote) and, once it\n"
    "listens, writes \"listening HOST:PORT\" on standard output (the port it\n"
    "took when PORT is 0).\n"
    "init and seed: --collation NAME is the database's default collation:\n"
    "  Chinese_PRC_CI_AS (the default), SQL_Latin1_General_CP1_CI_AS or\n"
    "  Latin1_General_CI_AS.\n"
    "init and seed: --venue SHAPE declares the venue's tables as a venue of\n"
    "  that shape does: gbk (varchar, the default), unicode (nvarchar, bit,\n"
    "  numeric) or latin1 (varchar under SQL_Latin1_General_CP1_CI_AS).\n"
    "limits of serve:\n"
    "  --lock-timeout MS      wait for another client's write lock "
    "(default 5000)\n"
    "  --max-connections N    connections served at once; more get a login "
    "error\n"
    "                         (default 1000)\n"
    "  --login-timeout MS     from connecting to the end of the login "
    "(default 10000)\n"
    "  --request-timeout MS   from a request's first byte to its last "
    "(default 30000)\n"
    "  --request-memory MB    memory of requests still arriving, all "
    "connections\n"
    "                         together (default 128)\n"
    "exit status: 0 stopped by SIGTERM or SIGINT, or done; 1 a failure, named\n"
    "on standard error; 2 a usage error.\n";

// The usage's first line, repeated under a usage error.
const char kUsageLine[] =
    "usage: venuedb [serve] --db FILE --listen HOST:PORT [options] | init "
    "--db FILE [--collation NAME] [--venue SHAPE] | seed --db FILE [options] | "
    "--help | "
    "--version\n";

// A number of the command line within [low, high].
bool ReadNumber(const char* text, long low, long high, long* value) {
  char* end = nullptr;
  errno = 0;
  *value = std::strtol(text, &end, 10);
  return errno == 0 && end != text && *end == '\0' && *value >= low &&
         *value <= high;
}

// A usage error: what is wrong with which argument, then the usage line.
int Usage(const std::string& problem) {
  std::fprintf(stderr, "venuedb: %s\n%s", problem.c_str(), kUsageLine);
  return 2;
}

// --help and --version, which any command answers on standard output; true
// when `arg` was one of them.
bool AnswersHelpOrVersion(const std::string& arg, int* status) {
  if (arg == "-h" || arg == "--help") {
    std::fputs(kUsage, stdout);
  } else if (arg == "--version") {
    std::printf("venuedb %s\n", RONDEL_VERSION);
  } else {
    return false;
  }
  *status = 0;
  return true;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// The collation named by --collation, or a usage error with SQL Server's
// message for a name it does not know (error 448).
bool ReadCollation(const std::string& name,
                   const venuedb::Collation** collation, int* status) {
  *collation = venuedb::FindCollation(name);
  if (*collation) return true;
  *status =
      Usage("init: --collation: " + venuedb::InvalidCollationMessage(name) +
            " (error " + std::to_string(venuedb::kInvalidCollationError) +
            "; known: " + venuedb::CollationNames() + ")");
  return false;
}

int Init(int argc, char** argv) {
  std::string db;
  const venuedb::Collation* collation = &venuedb::kDefaultCollation;
  bool collation_given = false;
  venuedb::VenueShape shape = venuedb::VenueShape::kGbk;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    int status = 0;
    if (AnswersHelpOrVersion(arg, &status)) return status;
    if (arg == "--db" && i + 1 < argc && argv[i + 1][0] != '\0') {
      db = argv[++i];
    } else if (arg == "--db") {
      return Usage("init: --db needs a FILE");
    } else if (arg == "--collation" && i + 1 < argc) {
      if (!ReadCollation(argv[++i], &collation, &status)) return status;
      collation_given = true;
    } else if (arg == "--collation") {
      return Usage("init: --collation needs a NAME");
    } else if (arg == "--venue" && i + 1 < argc) {
      if (!venuedb::ParseVenueShape(argv[++i], &shape)) {
        return Usage("init: --venue " + Quoted(argv[i]) + ": not a shape (" +
                     venuedb::VenueShapeNames() + ")");
      }
      if (!collation_given) collation = &venuedb::VenueShapeCollation(shape);
    } else if (arg == "--venue") {
      return Usage("init: --venue needs a shape");
    } else {
      return Usage("init: " + Quoted(arg) + ": not an option of init");
    }
  }
  if (db.empty()) return Usage("init: --db FILE is missing");
  std::string error;
  if (!venuedb::InitVenueDatabase(db, shape, *collation, &error)) {
    std::fprintf(stderr, "venuedb init: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

int Serve(int argc, char** argv) {
  venuedb::ServerOptions options;
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    int status = 0;
    if (AnswersHelpOrVersion(arg, &status)) return status;
    if ((arg == "--db" || arg == "--listen") && i + 1 == argc) {
      return Usage(arg + ": needs a value");
    }
    if (arg == "--db" && i + 1 < argc) {
      options.session.db_path = argv[++i];
    } else if (arg == "--listen" && i + 1 < argc) {
      options.listen = argv[++i];
    } else if (arg == "-v" || arg == "--verbose") {
      options.session.verbose = true;
    } else if (arg == "--allow-remote") {
      options.allow_remote = true;
    } else if (i + 1 < argc &&
               (arg == "--lock-timeout" || arg == "--max-connections" ||
                arg == "--login-timeout" || arg == "--request-timeout" ||
                arg == "--request-memory")) {
      constexpr long kHour = 3600 * 1000;
      long n = 0;
      const char* text = argv[++i];
      if (arg == "--lock-timeout" && ReadNumber(text, 0, kHour, &n)) {
        options.session.lock_timeout_ms = static_cast<int>(n);
      } else if (arg == "--max-connections" &&
                 ReadNumber(text, 1, 1000000, &n)) {
        options.max_connections = static_cast<int>(n);
      } else if (arg == "--login-timeout" && ReadNumber(text, 1, kHour, &n)) {
        options.session.login_timeout_ms = static_cast<int>(n);
      } else if (arg == "--request-timeout" && ReadNumber(text, 1, kHour, &n)) {
        options.session.request_timeout_ms = static_cast<int>(n);
      } else if (arg == "--request-memory" &&
                 ReadNumber(text, 1, 1024 * 1024, &n)) {
        options.request_memory_bytes = static_cast<size_t>(n) << 20;
      } else {
        return Usage(arg + " " + Quoted(text) +
                     ": not a whole number in its range (venuedb --help)");
      }
    } else if (arg == "--lock-timeout" || arg == "--max-connections" ||
               arg == "--login-timeout" || arg == "--request-timeout" ||
               arg == "--request-memory") {
      return Usage(arg + ": needs a value");
    } else {
      return Usage(Quoted(arg) + ": not an option of serve");
    }
  }
  if (options.session.db_path.empty()) return Usage("--db FILE is missing");
  // The file must exist: a server never creates an empty database by accident.
  std::FILE* probe = std::fopen(options.session.db_path.c_str(), "rb");
  if (!probe) {
    std::fprintf(stderr,
                 "venuedb: %s does not exist (venuedb init creates it)\n",
                 options.session.db_path.c_str());
    return 1;
  }
  std::fclose(probe);
  return venuedb::RunServer(options);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage("no command or option given");
  std::string command = argv[1];
  if (command == "serve") return Serve(argc - 2, argv + 2);
  if (command == "init") return Init(argc - 2, argv + 2);
  if (command == "seed") return venuedb::SeedMain(argc - 1, argv + 1);
  if (command.rfind("-", 0) != 0) {
    return Usage(Quoted(command) + ": not a command (serve, init or seed)");
  }
  return Serve(argc - 1, argv + 1);
}
