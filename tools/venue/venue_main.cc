// rondel-venue: a venue on the library. N rooms on M host threads play for a
// while against the configured database; a live view shows plays per room,
// calls per second, latency per export, the spread of plays over the file
// servers and the failures; a summary (or --json) follows.
//
//   rondel-venue (--diag-target IP:PORT | --broadcast) [--settings FILE]
//                [--rooms N] [--threads M] [--seconds S] [--plays P]
//                [--scale F] [--first-room A.B.C.D] [--json]
// (--plays ends the run once P plays have begun, within the S seconds.)
//
// The library reads its settings as for any host, from the variables this
// sets from the options: RONDEL_SETTINGS_FILE, RONDEL_DIAG_TARGET (and
// RONDEL_SNAPSHOT_DIR as given). What the simulator refuses to start without
// is in venue_options.h.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "play_outcomes.h"
#include "rondel.h"
#include "venue.h"
#include "venue_options.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop = true; }

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

// The live view; with `outcomes` (at the end) the summary, whose last line
// tells the plays apart.
void PrintView(const rondel::venue::Venue& venue, const std::string& database,
               double elapsed, const rondel::venue::PlayOutcomes* outcomes) {
  const bool final_view = outcomes != nullptr;
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
  std::printf("database server %s\n\n", database.c_str());
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
  if (outcomes != nullptr) {
    std::printf("\n%s\n",
                rondel::venue::DescribePlayOutcomes(*outcomes).c_str());
  }
}

void PrintJson(const rondel::venue::Venue& venue, const std::string& database,
               double elapsed, const rondel::venue::PlayOutcomes& outcomes) {
  const auto figures = venue.calls().Figures();
  std::printf(
      "{\"database\": %s, \"rooms\": %d, \"threads\": %d, \"seconds\": "
      "%.3f, \"plays\": %ld, \"calls\": %ld, \"refused\": %ld,\n",
      Json(database).c_str(), venue.options().rooms, venue.options().threads,
      elapsed, venue.plays().Total(), venue.calls().TotalCalls(),
      venue.refused());
  if (outcomes.error.empty()) {
    std::printf(
        " \"plays_saved\": {\"saved\": %ld, \"delivered\": %ld, \"kept\": "
        "%ld, \"kept_before\": %ld, \"set_aside\": %ld},\n",
        outcomes.saved, outcomes.delivered, outcomes.kept, outcomes.kept_before,
        outcomes.set_aside);
  } else {
    std::printf(" \"plays_saved\": {\"saved\": %ld, \"error\": %s},\n",
                outcomes.saved, Json(outcomes.error).c_str());
  }
  std::printf(" \"exports\": {");
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
  const rondel::venue::Request request = rondel::venue::ParseRequest(
      std::vector<std::string>(argv + 1, argv + argc),
      std::getenv("RONDEL_SETTINGS_FILE"), std::getenv("RONDEL_DIAG_TARGET"));
  if (request.help) {
    std::fputs(rondel::venue::kUsage, stdout);
    return rondel::venue::kExitDone;
  }
  if (request.version) {
    std::printf("rondel-venue %s\n", RONDEL_VERSION);
    return rondel::venue::kExitDone;
  }
  if (request.status != rondel::venue::kExitDone) {
    std::fprintf(stderr,
                 "rondel-venue: %s\nusage: rondel-venue (--diag-target "
                 "IP:PORT | --broadcast) [--settings FILE] [options]\n",
                 request.reason.c_str());
    return request.status;
  }
  const std::string settings_fault =
      rondel::venue::SettingsFault(request.settings_file);
  if (!settings_fault.empty()) {
    std::fprintf(stderr, "rondel-venue: %s\n", settings_fault.c_str());
    return rondel::venue::kExitCannotStart;
  }
  // The library reads both on its own; with --broadcast the variable is unset
  // (ParseRequest refuses it beside --broadcast).
  setenv("RONDEL_SETTINGS_FILE", request.settings_file.c_str(), 1);
  if (!request.broadcast) {
    setenv("RONDEL_DIAG_TARGET", request.diag_target.c_str(), 1);
  }
  const rondel::venue::Options& options = request.options;
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  const bool live = !options.json && isatty(STDOUT_FILENO);

  const std::string database =
      rondel::venue::DatabaseNamed(request.settings_file);
  const rondel::venue::KeptPlays kept_before = rondel::venue::CountKeptPlays();
  rondel::venue::Venue venue(options);
  venue.Open();
  double elapsed = 0;
  venue.Run(g_stop, [&](double seconds) {
    elapsed = seconds;
    if (live) {
      std::printf("\x1b[H\x1b[J");  // home, clear: the view is redrawn in place
      PrintView(venue, database, seconds, nullptr);
      std::fflush(stdout);
    }
  });
  venue.Close();
  const auto figures = venue.calls().Figures();
  const auto saves = figures.find("SaveVideoTime");
  const rondel::venue::PlayOutcomes outcomes = rondel::venue::TellPlaysApart(
      saves == figures.end() ? 0 : saves->second.calls, kept_before,
      rondel::venue::CountKeptPlays());

  if (options.json) {
    PrintJson(venue, database, elapsed, outcomes);
  } else {
    if (live) std::printf("\x1b[H\x1b[J");
    PrintView(venue, database, elapsed, &outcomes);
  }
  return rondel::venue::kExitDone;
}
