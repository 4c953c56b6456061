// venuedb: the venue database server (TDS over SQLite) and its tools.
//   venuedb [serve] --db FILE --listen HOST:PORT [-v] [--allow-remote]
//                   [--lock-timeout MS]
//   venuedb init --db FILE
//   venuedb seed --db FILE [options]
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
    "[--allow-remote] [--lock-timeout MS]\n"
    "       venuedb init --db FILE\n"
    "       venuedb seed --db FILE [options]\n";

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
    } else if (arg == "--lock-timeout" && i + 1 < argc) {
      char* end = nullptr;
      long ms = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || ms < 0 || ms > 3600 * 1000) return Usage();
      options.session.lock_timeout_ms = static_cast<int>(ms);
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
