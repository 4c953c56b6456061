// The venue simulator: rooms that play one video after another through the
// library, as a venue's video server drives it, with the connection counts of
// the file servers kept up to date so that the least-loaded choice moves.
#ifndef RONDEL_TOOLS_VENUE_VENUE_H_
#define RONDEL_TOOLS_VENUE_VENUE_H_

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "call_stats.h"

namespace rondel {
namespace venue {

struct Options {
  int rooms = 24;
  int threads = 4;
  double seconds = 30;
  long plays = 0;  // when above 0: stop once this many plays have begun
  // A play lasts 2 to 6 "seconds" of video, times this factor of real time.
  double scale = 0.02;
  std::string first_room = "10.0.1.10";  // rooms follow it address by address
  bool json = false;
};

// Room i's address: the first room's address plus i, as a 32-bit number.
std::string RoomAddress(const std::string& first_room, int i);

class Venue {
 public:
  explicit Venue(const Options& options);

  // InitialDatabase and ExitDatabase, timed like every other export.
  void Open();
  void Close();

  // Plays until the time is up (or `stop` is set), then lets the playing rooms
  // finish their plays and puts the connection counts back as they were.
  // `on_tick` runs about twice a second on the calling thread.
  void Run(const std::atomic<bool>& stop,
           const std::function<void(double elapsed)>& on_tick);

  const CallStats& calls() const { return calls_; }
  const PlayStats& plays() const { return plays_; }
  // Authorizations the database refused: answers, not failures.
  long refused() const { return refused_; }
  const Options& options() const { return options_; }

 private:
  struct Room {
    std::string address;
    bool playing = false;
    std::chrono::steady_clock::time_point ends;
    int media_id = 0;
    int trade_log_id = 0;
    std::string server;  // "" for background play
    std::string begin_time;
    bool background_done = false;  // each room opens with a background play
  };
  struct Server {
    int id = 0;
    int group = 0;
    int base = 0;          // its count when first seen
    int active = 0;        // plays of this venue on it now
    bool added = false;    // this venue registered its row
    bool existed = false;  // a row was there before
  };

  void Start(Room& room, unsigned* seed);
  void Finish(Room& room);
  void Greet();
  void Farewell();
  // A play on `address` began (+1) or ended (-1): the count goes to the
  // database.
  void Count(const std::string& address, int change);

  Options options_;
  CallStats calls_;
  PlayStats plays_;
  std::vector<Room> rooms_;
  std::mutex servers_mutex_;
  std::map<std::string, Server> servers_;
  std::atomic<long> refused_{0};
};

}  // namespace venue
}  // namespace rondel

#endif  // RONDEL_TOOLS_VENUE_VENUE_H_
