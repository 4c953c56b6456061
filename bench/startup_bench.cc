// startup_bench: start-up of the library against a bare baseline, each measured
// in fresh processes in the same run, reported as ratios (never as pass or
// fail).
//
//   database start-up  InitialDatabase against venuedb (100,000 media x 3
//                      files, 512 rooms, 20 file servers, full play lists) /
//                      a bare DB-Library program fetching the same rows from
//                      the same server in the same exchanges (the catalogue's
//                      ten, then the fire alarm's default, page and one lookup
//                      per room)
//   offline start-up   InitialDatabase from the snapshot files of that
//                      catalogue (the server stopped) / reading the nine files
//                      with plain reads
//   memory             resident memory of the host process after a database
//                      start-up with 5,000 media
//
// Seeded databases are kept in the state directory and reused by later runs.
#include <netdb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "child_process.h"

namespace {

using rondel::bench::ChildResult;
using rondel::bench::RunChild;
using rondel::bench::VenueServer;

struct Options {
  std::string state = RONDEL_BENCH_STATE_DIR;
  int repetitions = 5;
  int medias = 100000;
  int memory_medias = 5000;
};

// This host's first address, as the library's start-up resolves it; the seeder
// puts one file server there so that start-up finds itself among the file
// servers.
std::string LocalAddress() {
  char name[128] = {};
  if (gethostname(name, sizeof(name) - 1) != 0) return "127.0.0.1";
  hostent* host = gethostbyname(name);
  if (host == nullptr || host->h_addr_list[0] == nullptr ||
      host->h_addrtype != AF_INET) {
    return "127.0.0.1";
  }
  const unsigned char* a =
      reinterpret_cast<const unsigned char*>(host->h_addr_list[0]);
  char text[20];
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
  return text;
}

bool Exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

// A seeded venuedb database for `medias` media in its own folder of the state
// directory, made once: a marker file records the seed that made it.
bool PrepareDatabase(const std::string& folder, int medias,
                     const std::string& local_address) {
  mkdir(folder.c_str(), 0755);
  std::string database = folder + "/venue.db";
  std::vector<std::string> seed = {RONDEL_VENUEDB_PATH,
                                   "seed",
                                   "--db",
                                   database,
                                   "--medias",
                                   std::to_string(medias),
                                   "--files-per-media",
                                   "3",
                                   "--rooms",
                                   "512",
                                   "--file-servers",
                                   "20",
                                   "--groups",
                                   "1",
                                   "--user-playlist",
                                   std::to_string(std::min(medias, 100000)),
                                   "--local-address",
                                   local_address};
  std::string recipe;
  for (const std::string& word : seed) recipe += word + " ";
  std::string marker = folder + "/seeded";
  {
    std::ifstream in(marker);
    std::string previous((std::istreambuf_iterator<char>(in)),
                         std::istreambuf_iterator<char>());
    if (previous == recipe && Exists(database)) return true;
  }
  std::printf("seeding %s (%d media; kept for later runs)...\n",
              database.c_str(), medias);
  std::fflush(stdout);
  std::remove(database.c_str());
  std::remove(marker.c_str());
  // The seeder writes a fresh database file of its own.
  if (!RunChild(seed, {}, folder).exited_zero) {
    std::fprintf(stderr, "startup_bench: seeding %s failed\n",
                 database.c_str());
    return false;
  }
  std::ofstream(marker) << recipe;
  return true;
}

// The environment a measured start-up runs with: its own settings file and
// snapshot directory in `folder`, datagrams to a loopback port.
std::vector<std::string> LibraryEnvironment(const std::string& folder,
                                            int port) {
  std::ofstream settings(folder + "/Korvane.ini");
  settings << "[MainServer]\nDataBaseServerIp=127.0.0.1\nDataBaseServerPort="
           << port << "\nUserName=sa\nPassWord=\n[KTV]\nDataBaseName=karaok\n";
  settings.close();
  return {"RONDEL_SETTINGS_FILE=" + folder + "/Korvane.ini",
          "RONDEL_SNAPSHOT_DIR=" + folder + "/VideoServertable",
          "RONDEL_DIAG_TARGET=127.0.0.1:6001"};
}

// RecordCount of a snapshot file and the MediaId of its last record (Medias.tbl
// layout: an 80-byte header with the count at offset 72, then 942-byte
// records).
bool LastSnapshotMedia(const std::string& path, int* count, int* last_id) {
  std::ifstream file(path, std::ios::binary);
  char header[80];
  if (!file.read(header, sizeof(header))) return false;
  std::memcpy(count, header + 72, 4);
  if (*count <= 0) return false;
  file.seekg(80 + static_cast<std::streamoff>(*count - 1) * 942);
  return static_cast<bool>(file.read(reinterpret_cast<char*>(last_id), 4));
}

double Median(std::vector<long long> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t middle = values.size() / 2;
  return values.size() % 2 ? static_cast<double>(values[middle])
                           : (values[middle - 1] + values[middle]) / 2.0;
}

bool Check(const ChildResult& result, const char* what) {
  if (result.exited_zero && result.Value("elapsed_ns") >= 0) return true;
  std::fprintf(stderr, "startup_bench: %s failed:\n%s\n", what,
               result.output.c_str());
  return false;
}

int Run(const Options& options) {
  const std::string local_address = LocalAddress();
  mkdir(options.state.c_str(), 0755);
  const std::string big =
      options.state + "/startup-" + std::to_string(options.medias);
  const std::string small =
      options.state + "/memory-" + std::to_string(options.memory_medias);
  if (!PrepareDatabase(big, options.medias, local_address) ||
      !PrepareDatabase(small, options.memory_medias, local_address)) {
    return 1;
  }

  // Database start-up against the bare fetch, alternating, after one warm-up of
  // each.
  VenueServer server;
  if (!server.Start(RONDEL_VENUEDB_PATH, big + "/venue.db", big + "/venuedb")) {
    std::fprintf(stderr, "startup_bench: venuedb did not start (see %s)\n",
                 (big + "/venuedb.err").c_str());
    return 1;
  }
  const std::vector<std::string> environment =
      LibraryEnvironment(big, server.port());
  const std::string server_name = "127.0.0.1:" + std::to_string(server.port());
  const std::vector<std::string> start = {RONDEL_START_CHILD_PATH, "1"};
  const std::vector<std::string> fetch = {RONDEL_BARE_FETCH_PATH, server_name,
                                          "karaok", local_address};
  if (!Check(RunChild(start, environment, big), "warm-up start-up") ||
      !Check(RunChild(fetch, {}, big), "warm-up bare fetch")) {
    return 1;
  }
  int loaded = 0, last_id = 0;
  if (!LastSnapshotMedia(big + "/VideoServertable/Medias.tbl", &loaded,
                         &last_id)) {
    std::fprintf(stderr,
                 "startup_bench: the start-up wrote no media snapshot; did it "
                 "find itself among the file servers (local address %s)?\n",
                 local_address.c_str());
    return 1;
  }
  const std::vector<std::string> start_probe = {RONDEL_START_CHILD_PATH,
                                                std::to_string(last_id)};
  // The save a database start-up makes, measured alone: the same bytes written
  // to files, synced and renamed into place.
  const std::vector<std::string> save = {RONDEL_WRITE_SNAPSHOTS_PATH,
                                         big + "/VideoServertable",
                                         big + "/plain-save"};
  std::vector<long long> online, bare, saved;
  long long rows = 0;
  for (int r = 0; r < options.repetitions; ++r) {
    ChildResult s = RunChild(start_probe, environment, big);
    ChildResult b = RunChild(fetch, {}, big);
    ChildResult w = RunChild(save, {}, big);
    if (!Check(s, "start-up") || !Check(b, "bare fetch") ||
        !Check(w, "synced save")) {
      return 1;
    }
    saved.push_back(w.Value("elapsed_ns"));
    if (s.Value("found") != 1) {
      std::fprintf(stderr, "startup_bench: media %d missing after start-up\n",
                   last_id);
      return 1;
    }
    online.push_back(s.Value("elapsed_ns"));
    bare.push_back(b.Value("elapsed_ns"));
    rows = b.Value("rows");
  }
  server.Stop();

  // Offline start-up: the server is gone, the snapshot files of that start-up
  // remain.
  std::vector<long long> offline, plain;
  long long bytes = 0;
  const std::vector<std::string> read_files = {RONDEL_READ_SNAPSHOTS_PATH,
                                               big + "/VideoServertable"};
  for (int r = 0; r < options.repetitions + 1; ++r) {
    ChildResult s = RunChild(start_probe, environment, big);
    ChildResult p = RunChild(read_files, {}, big);
    if (!Check(s, "offline start-up") || !Check(p, "plain reads")) return 1;
    if (s.Value("found") != 1) {
      std::fprintf(stderr,
                   "startup_bench: media %d missing after offline start-up\n",
                   last_id);
      return 1;
    }
    if (r == 0) continue;  // warm-up
    offline.push_back(s.Value("elapsed_ns"));
    plain.push_back(p.Value("elapsed_ns"));
    bytes = p.Value("bytes");
  }

  // Memory after a database start-up with the small catalogue.
  if (!server.Start(RONDEL_VENUEDB_PATH, small + "/venue.db",
                    small + "/venuedb")) {
    std::fprintf(stderr, "startup_bench: venuedb did not start for %s\n",
                 small.c_str());
    return 1;
  }
  std::vector<long long> resident;
  int small_loaded = 0, small_last = 0;
  for (int r = 0; r < options.repetitions; ++r) {
    ChildResult s =
        RunChild(start, LibraryEnvironment(small, server.port()), small);
    if (!Check(s, "small start-up")) return 1;
    resident.push_back(s.Value("vmrss_kb"));
  }
  server.Stop();
  LastSnapshotMedia(small + "/VideoServertable/Medias.tbl", &small_loaded,
                    &small_last);

  const double online_ms = Median(online) / 1e6, bare_ms = Median(bare) / 1e6;
  const double offline_ms = Median(offline) / 1e6,
               plain_ms = Median(plain) / 1e6;
  std::printf(
      "\nStart-up of librondel.so, medians of %d runs, each run a fresh "
      "process\n",
      options.repetitions);
  std::printf("%-44s %12s %12s %8s %10s\n", "measure", "rondel", "baseline",
              "ratio", "target");
  std::printf("%-44s %9.1f ms %9.1f ms %8.3f %10s\n",
              "database start-up / bare DB-Library fetch", online_ms, bare_ms,
              online_ms / bare_ms, "<= 1.15");
  const double fetch_and_save_ms = bare_ms + Median(saved) / 1e6;
  std::printf("%-44s %9.1f ms %9.1f ms %8.3f %10s\n",
              "  the same / (bare fetch + synced file save)", online_ms,
              fetch_and_save_ms, online_ms / fetch_and_save_ms, "-");
  std::printf("%-44s %9.1f ms %9.1f ms %8.3f %10s\n",
              "offline start-up / plain reads of the files", offline_ms,
              plain_ms, offline_ms / plain_ms, "<= 1.5");
  std::printf("%-44s %9.1f MB %12s %8s %10s\n",
              "resident memory after start-up (VmRSS)",
              Median(resident) / 1024.0, "-", "-", "< 30 MB");
  std::printf(
      "\ncatalogue: %d media loaded (last id %d), %lld rows fetched by the "
      "baseline (the catalogue's ten exchanges and the fire alarm's), %lld "
      "snapshot bytes read\n",
      loaded, last_id, rows, bytes);
  // Each run's own ratio: a run and its baseline ran back to back, so these
  // show how much the load of the machine moved the figures.
  std::printf("per-run ratios, database start-up / bare fetch:");
  for (size_t i = 0; i < online.size(); ++i) {
    std::printf(" %.3f", static_cast<double>(online[i]) / bare[i]);
  }
  std::printf("\nper-run ratios, offline start-up / plain reads:");
  for (size_t i = 0; i < offline.size(); ++i) {
    std::printf(" %.3f", static_cast<double>(offline[i]) / plain[i]);
  }
  std::printf("\n");
  std::printf("memory run: %d media loaded, VmRSS per run (kB):", small_loaded);
  for (long long kb : resident) std::printf(" %lld", kb);
  std::printf("\nlocal address %s; state in %s\n", local_address.c_str(),
              options.state.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--state" && i + 1 < argc) {
      options.state = argv[++i];
    } else if (arg == "--repetitions" && i + 1 < argc) {
      options.repetitions = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--medias" && i + 1 < argc) {
      options.medias = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--memory-medias" && i + 1 < argc) {
      options.memory_medias = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr,
                   "usage: startup_bench [--state DIR] [--repetitions N] "
                   "[--medias N] [--memory-medias N]\n");
      return 2;
    }
  }
  return Run(options);
}
