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

namespace {

const char kUsage[] =
    "usage: venuedb [serve] --db FILE --listen HOST:PORT [-v] "
    "[--allow-remote] [limits]\n"
    "       venuedb init --db FILE\n"
    "       venuedb seed --db FILE [options]\n"
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
    "                         together (default 128)\n";

// A number of the command line within [low, high].
bool ReadNumber(const char* text, long low, long high, long* value) {
  char* end = nullptr;
  errno = 0;
  *value = std::strtol(text, &end, 10);
  return errno == 0 && end != text && *end == '\0' && *value >= low &&
         *value <= high;
}

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

int Init(int argc, char** argv) {
  std::string db;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--db") == 0 && i + 1 < argc) {
      db = argv[++i];
    } else {
      return Usage();
    }
  }
  if (db.empty()) return Usage();
  std::string error;
  if (!venuedb::InitDatabase(db, &error)) {
    std::fprintf(stderr, "venuedb init: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

int Serve(int argc, char** argv) {
  venuedb::ServerOptions options;
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--db" && i + 1 < argc) {
      options.session.db_path = argv[++i];
    } else if (arg == "--listen" && i + 1 < argc) {
      options.listen = argv[++i];
    } else if (arg == "-v" || arg == "--verbose") {
      options.session.verbose = true;
    } else if (arg == "--allow-remote") {
      options.allow_remote = true;
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      std::exit(0);
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
        return Usage();
      }
    } else {
      return Usage();
    }
  }
  if (options.session.db_path.empty()) return Usage();
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
  if (argc < 2) return Usage();
  std::string command = argv[1];
  if (command == "serve") return Serve(argc - 2, argv + 2);
  if (command == "init") return Init(argc - 2, argv + 2);
  if (command == "seed") return venuedb::SeedMain(argc - 1, argv + 1);
  if (command == "-h" || command == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  return Serve(argc - 1, argv + 1);
}
