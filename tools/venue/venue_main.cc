// rondel-venue: a venue on the library. N rooms on M host threads play for a
// while against the configured database; a live view shows plays per room,
// calls per second, latency per export, the spread of plays over the file
// servers and the failures; a summary (or --json) follows.
//
//   rondel-venue [--rooms N] [--threads M] [--seconds S] [--plays P]
//                [--scale F] [--first-room A.B.C.D] [--json]
// (--plays ends the run once P plays have begun, within the S seconds.)
//
// The settings come as for any host: RONDEL_SETTINGS_FILE (or the fixed
// settings file), RONDEL_SNAPSHOT_DIR, RONDEL_DIAG_TARGET.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "rondel.h"
#include "venue.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

const char kUsage[] =
    "usage: rondel-venue [--rooms N] [--threads M] [--seconds S] [--plays P]\n"
    "                    [--scale F] [--first-room A.B.C.D] [--json]\n";

bool ParseOptions(int argc, char** argv, rondel::venue::Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (flag == "--json") {
      options->json = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const char* value = argv[++i];
    char* end = nullptr;
    if (flag == "--rooms") {
      options->rooms = static_cast<int>(std::strtol(value, &end, 10));
      if (*end != '\0' || options->rooms < 1 || options->rooms > 512)
        return false;
    } else if (flag == "--threads") {
      options->threads = static_cast<int>(std::strtol(value, &end, 10));
      if (*end != '\0' || options->threads < 1 || options->threads > 256)
        return false;
    } else if (flag == "--seconds") {
      options->seconds = std::strtod(value, &end);
      if (*end != '\0' || options->seconds <= 0) return false;
    } else if (flag == "--plays") {
      options->plays = std::strtol(value, &end, 10);
      if (*end != '\0' || options->plays < 1) return false;
    } else if (flag == "--scale") {
      options->scale = std::strtod(value, &end);
      if (*end != '\0' || options->scale <= 0) return false;
    } else if (flag == "--first-room") {
      options->first_room = value;
    } else {
      return false;
    }
  }
  return true;
}

// A JSON string of bytes: texts are shown as the library gives them; bytes
// that are not printable ASCII become \u00XX so the output is always valid.
std::string Json(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void PrintView(const rondel::venue::Venue& venue, double elapsed,
               bool final_view) {
  const auto figures = venue.calls().Figures();
  const auto per_server = venue.plays().PerServer();
  const auto per_room = venue.plays().PerRoom();
  const long plays = venue.plays().Total();
  std::printf(
      "rondel-venue  %d rooms on %d threads  %.1f s  %ld plays  %.1f "
      "calls/s  %ld refused%s\n\n",
      venue.options().rooms, venue.options().threads, elapsed, plays,
      elapsed > 0 ? venue.calls().TotalCalls() / elapsed : 0.0, venue.refused(),
      final_view ? "  (done)" : "");
  std::printf("%-28s %8s %8s %9s %9s\n", "export", "calls", "failures",
              "p50 ms", "p99 ms");
  for (const auto& [name, f] : figures) {
    std::printf("%-28s %8ld %8ld %9.2f %9.2f\n", name.c_str(), f.calls,
                f.failures, f.p50_ms, f.p99_ms);
  }
  std::printf("\nplays per file server\n");
  for (const auto& [server, count] : per_server) {
    std::printf("  %-20s %6ld  %5.1f%%\n", server.c_str(), count,
                plays > 0 ? 100.0 * count / plays : 0.0);
  }
  std::printf("\nplays per room\n");
  int column = 0;
  for (const auto& [room, count] : per_room) {
    std::printf("  %-15s %4ld%s", room.c_str(), count,
                ++column % 4 == 0 ? "\n" : "");
  }
  std::printf("%s", column % 4 == 0 ? "" : "\n");
}

void PrintJson(const rondel::venue::Venue& venue, double elapsed) {
  const auto figures = venue.calls().Figures();
  std::printf(
      "{\"rooms\": %d, \"threads\": %d, \"seconds\": %.3f, "
      "\"plays\": %ld, \"calls\": %ld, \"refused\": %ld,\n \"exports\": {",
      venue.options().rooms, venue.options().threads, elapsed,
      venue.plays().Total(), venue.calls().TotalCalls(), venue.refused());
  const char* separator = "";
  for (const auto& [name, f] : figures) {
    std::printf(
        "%s\n  %s: {\"calls\": %ld, \"failures\": %ld, \"p50_ms\": "
        "%.3f, \"p99_ms\": %.3f}",
        separator, Json(name).c_str(), f.calls, f.failures, f.p50_ms, f.p99_ms);
    separator = ",";
  }
  std::printf("},\n \"servers\": {");
  separator = "";
  for (const auto& [server, count] : venue.plays().PerServer()) {
    std::printf("%s%s: %ld", separator, Json(server).c_str(), count);
    separator = ", ";
  }
  std::printf("},\n \"rooms_played\": {");
  separator = "";
  for (const auto& [room, count] : venue.plays().PerRoom()) {
    std::printf("%s%s: %ld", separator, Json(room).c_str(), count);
    separator = ", ";
  }
  std::printf("}}\n");
}

}  // namespace

int main(int argc, char** argv) {
  rondel::venue::Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  const bool live = !options.json && isatty(STDOUT_FILENO);

  rondel::venue::Venue venue(options);
  venue.Open();
  double elapsed = 0;
  venue.Run(g_stop, [&](double seconds) {
    elapsed = seconds;
    if (live) {
      std::printf("\x1b[H\x1b[J");  // home, clear: the view is redrawn in place
      PrintView(venue, seconds, false);
      std::fflush(stdout);
    }
  });
  venue.Close();

  if (options.json) {
    PrintJson(venue, elapsed);
  } else {
    if (live) std::printf("\x1b[H\x1b[J");
    PrintView(venue, elapsed, true);
  }
  return 0;
}
