// The venue simulator's rooms. Each host thread serves every M-th room: it
// finishes the plays whose time is up (recording them) and starts the next
// video of each idle room, so that all rooms play at once on a few threads, as
// a video server's worker threads do.
#include "venue.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

#include "rondel.h"

namespace rondel {
namespace venue {

namespace {

std::string Now() {
  char text[32];
  std::time_t now = std::time(nullptr);
  std::tm local;
  localtime_r(&now, &local);
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

// "vsp://ADDRESS/|||ID" -> ADDRESS; "" when the URL has another form.
std::string ServerOf(const char* url) {
  const char* begin = std::strstr(url, "://");
  if (begin == nullptr) return "";
  begin += 3;
  const char* end = std::strstr(begin, "/|||");
  return end == nullptr ? "" : std::string(begin, end);
}

}  // namespace

std::string RoomAddress(const std::string& first_room, int i) {
  in_addr address{};
  if (inet_pton(AF_INET, first_room.c_str(), &address) != 1) return first_room;
  address.s_addr = htonl(ntohl(address.s_addr) + static_cast<uint32_t>(i));
  char text[INET_ADDRSTRLEN];
  inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

void Venue::Open() {
  calls_.Time("InitialDatabase", [] {
    InitialDatabase();
    return true;
  });
}

void Venue::Close() {
  calls_.Time("ExitDatabase", [] {
    ExitDatabase();
    return true;
  });
}

Venue::Venue(const Options& options) : options_(options) {
  for (int i = 0; i < options_.rooms; ++i) {
    Room room;
    room.address = RoomAddress(options_.first_room, i);
    rooms_.push_back(room);
  }
}

void Venue::Greet() {
  char hello[] = "venue simulator: rooms open";
  calls_.Time("KvDebugDb", [&] {
    KvDebugDb(hello);
    return true;
  });
  const char* settings = std::getenv("RONDEL_SETTINGS_FILE");
  if (settings != nullptr) {
    calls_.Time("LoadDBOptions", [&] { return LoadDBOptions(settings); });
  }
  calls_.Time("GetDataServer", [] { return GetDataServer() == 1; });
  calls_.Time("GetSongTotal", [] { return GetSongTotal(1 << 30) == 1; });
  char page[128] = "", url[300] = "", format1[8] = "", format2[8] = "";
  calls_.Time("GetFirealarmPage", [&] { return GetFirealarmPage("", page); });
  if (!rooms_.empty()) {
    const char* first = rooms_[0].address.c_str();
    calls_.Time("GetFirealarmVideo", [&] {
      return GetFirealarmVideo(first, url, format1, format2) == 1;
    });
  }
  for (Room& room : rooms_) {
    char info[32] = "";
    std::string address = room.address;
    calls_.Time("GetRoomIDInfoFromIP",
                [&] { return GetRoomIDInfoFromIP(&address[0], info) == 1; });
  }
}

void Venue::Count(const std::string& address, int change) {
  std::lock_guard<std::mutex> hold(servers_mutex_);
  auto found = servers_.find(address);
  if (found == servers_.end()) {
    Server server;
    const bool known = calls_.Time("GetFileServerID", [&] {
      return GetFileServerID(address.c_str(), &server.id, &server.group) == 1;
    });
    if (known) {
      int group = 0;
      calls_.Time("GetServerGroup",
                  [&] { return GetServerGroup(server.id, &group); });
      calls_.Time("ModifyGroupState",
                  [&] { return ModifyGroupState(1, server.group) == 1; });
      // The count the database holds now is where this venue's plays add
      // on; the venue then registers its row for the server (an upsert),
      // which it removes again when it closes.
      int count = -1;
      char registered[32] = "";
      calls_.Time("GetVideoServerConnectNum", [&] {
        GetVideoServerConnectNum(server.group, server.id, &count, registered);
        return count >= 0;
      });
      server.existed = count >= 0;
      if (count < 0) count = 0;
      server.added = calls_.Time("AddVideoServerConnectNum", [&] {
        return AddVideoServerConnectNum(server.group, server.id, count, count,
                                        address.c_str());
      });
      server.base = count;
    }
    found = servers_.emplace(address, server).first;
  }
  Server& server = found->second;
  if (server.id == 0) return;  // not a registered file server
  server.active += change;
  const int count = server.base + server.active;
  int total = 0;
  for (const auto& entry : servers_) {
    total += entry.second.base + entry.second.active;
  }
  calls_.Time("ModifyVideoServerConnectNum", [&] {
    return ModifyVideoServerConnectNum(server.group, server.id, count, total,
                                       address.c_str());
  });
}

void Venue::Start(Room& room, unsigned* seed) {
  char name[128] = "", code[16] = "", url[64] = "", kind[8] = "";
  char text_a[32] = "", text_b[32] = "";
  int number_a = 0, number_b = 0, number_c = 0;
  // A room opens with background media while its guests choose; then it
  // plays what they selected (or the advertisements between).
  const bool next = room.background_done && calls_.Time("GetNextVideo", [&] {
    return GetNextVideo(room.address.c_str(), name, code, url, kind, text_a,
                        text_b, &number_a, &number_b, &number_c) == 1;
  });
  room.background_done = true;
  if (next) {
    room.server = ServerOf(url);
    const char* ids = std::strstr(url, "/|||");
    room.media_id = ids != nullptr ? std::atoi(ids + 4) : 0;
  } else {
    // Nothing from the database: background play keeps the room going.
    room.server.clear();
    int id = -1;
    calls_.Time("GetRandPlayMediaID", [&] {
      id = GetRandPlayMediaID(room.address.c_str());
      return id != -1;
    });
    if (id == -1) {
      room.playing = true;  // an idle pause before asking again
      room.media_id = 0;
      room.ends =
          std::chrono::steady_clock::now() +
          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
              std::chrono::duration<double>(options_.scale));
      return;
    }
    room.media_id = id;
  }
  // The host fetches the media's attributes and files to stream it.
  int media_class = 0, group = 0;
  calls_.Time("GetMediaInfo", [&] {
    return GetMediaInfo(room.media_id, name, code, &media_class, text_a, text_b,
                        &number_a, &number_b, &number_c, &group) == 1;
  });
  char* files = nullptr;
  if (calls_.Time("GetMediaFileInfo", [&] {
        return GetMediaFileInfo(room.media_id, &files) == 1;
      })) {
    calls_.Time("DestroyMediaFilesBuffer", [&] {
      DestroyMediaFilesBuffer(files);
      return true;
    });
  }
  int error = 0;
  char error_text[256] = "";
  // A refusal is an answer of the venue's rules, not a failed call.
  calls_.Time("GetAuthorization", [&] {
    if (GetAuthorization(room.address.c_str(), room.media_id, &error,
                         error_text, nullptr) != 1) {
      ++refused_;
    }
    return true;
  });
  room.trade_log_id = 0;
  error = 0;
  calls_.Time("AddLog", [&] {
    return AddLog(room.address.c_str(), room.media_id, &room.trade_log_id,
                  &error, error_text, nullptr) == 1;
  });
  if (!room.server.empty()) Count(room.server, +1);
  plays_.Play(room.address, room.server.empty() ? "(background)" : room.server);
  room.begin_time = Now();
  room.playing = true;
  const double seconds = (2 + rand_r(seed) % 5) * options_.scale;
  room.ends = std::chrono::steady_clock::now() +
              std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                  std::chrono::duration<double>(seconds));
}

void Venue::Finish(Room& room) {
  room.playing = false;
  if (room.media_id == 0) return;  // an idle pause, not a play
  std::string end_time = Now();
  // Always 0 by contract: a play the database cannot take is kept and sent
  // later, so nothing here is a failure.
  calls_.Time("SaveVideoTime", [&] {
    SaveVideoTime(room.media_id, &room.address[0], &room.begin_time[0],
                  &end_time[0], 1);
    return true;
  });
  if (room.trade_log_id != 0) {
    int error = 0;
    char error_text[256] = "";
    calls_.Time("ModifyLog", [&] {
      return ModifyLog(room.trade_log_id, &error, error_text, nullptr) == 1;
    });
  }
  if (!room.server.empty()) Count(room.server, -1);
}

void Venue::Farewell() {
  // The venue leaves the registry as it found it: its rows go, and a row that
  // was there before comes back with the count it had.
  std::lock_guard<std::mutex> hold(servers_mutex_);
  for (const auto& [address, server] : servers_) {
    if (server.id == 0 || !server.added) continue;
    calls_.Time("DeleteVideoServerConnectNum", [&] {
      DeleteVideoServerConnectNum(server.group, server.id);
      return true;
    });
    if (server.existed) {
      calls_.Time("AddVideoServerConnectNum", [&] {
        return AddVideoServerConnectNum(server.group, server.id, server.base,
                                        server.base, address.c_str());
      });
    }
  }
}

void Venue::Run(const std::atomic<bool>& stop,
                const std::function<void(double)>& on_tick) {
  Greet();
  const auto start = std::chrono::steady_clock::now();
  const auto deadline =
      start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                  std::chrono::duration<double>(options_.seconds));
  std::atomic<bool> closing{false};
  std::vector<std::thread> threads;
  const int thread_count = options_.threads < 1 ? 1 : options_.threads;
  for (int t = 0; t < thread_count; ++t) {
    threads.emplace_back([this, t, thread_count, &closing] {
      unsigned seed = 12345u + static_cast<unsigned>(t);
      for (;;) {
        bool any_playing = false;
        const auto now = std::chrono::steady_clock::now();
        for (size_t i = static_cast<size_t>(t); i < rooms_.size();
             i += static_cast<size_t>(thread_count)) {
          Room& room = rooms_[i];
          if (room.playing && now >= room.ends) Finish(room);
          if (!room.playing && !closing) Start(room, &seed);
          any_playing = any_playing || room.playing;
        }
        if (closing && !any_playing) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    });
  }
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto now = std::chrono::steady_clock::now();
    on_tick(std::chrono::duration<double>(now - start).count());
    if (stop || now >= deadline) break;
    if (options_.plays > 0 && plays_.Total() >= options_.plays) break;
  }
  closing = true;
  for (std::thread& thread : threads) thread.join();
  Farewell();
  on_tick(
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count());
}

}  // namespace venue
}  // namespace rondel
