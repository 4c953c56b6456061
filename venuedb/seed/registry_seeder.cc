// Server groups, file servers with their connection counts, rooms, configures
// and the fire-alarm entries.
#include <cstdio>
#include <string>

#include "row_writer.h"
#include "sample_text.h"
#include "seed_random.h"
#include "seed_steps.h"

namespace venuedb {

namespace {

constexpr uint64_t kRegistrySeed = 0x52454749535452ull;
const char kStamp[] = "2026-01-01 08:00:00";

// File server 1 is the local one; the others get made-up private addresses per
// group.
std::string FileServerAddress(const SeedOptions& options, int server_id,
                              int group_id) {
  if (server_id == 1) return options.local_address;
  for (int net = 16;; ++net) {
    std::string address = "172." + std::to_string(net) + "." +
                          std::to_string(group_id) + "." +
                          std::to_string(10 + server_id);
    if (address != options.local_address) return address;
  }
}

bool SeedServers(SeedContext* context, SeedRandom* random, std::string* error) {
  const SeedOptions& options = context->options;
  RowWriter group(context->db,
                  "INSERT INTO server_groups (group_id, group_name, is_valid) "
                  "VALUES (?, ?, 1)");
  for (int g = 1; g <= options.groups; ++g)
    group.Int(1, g).Text(2, "Group " + std::to_string(g)).Run();
  RowWriter server(context->db,
                   "INSERT INTO fileservers (fileserver_id, fileserver_name, "
                   "fileserver_IpAddress,"
                   " stream_port, group_id, max_connections, is_enabled)"
                   " VALUES (?, ?, ?, 8554, ?, ?, 1)");
  RowWriter count(
      context->db,
      "INSERT INTO fileserver_connections (group_id, fileserver_id, "
      "connection_count,"
      " fileserver_ipaddress, totalconnection_count, created_at, updated_at)"
      " VALUES (?, ?, ?, ?, ?, ?, ?)");
  for (int id = 1; id <= options.file_servers; ++id) {
    int group_id = id == 1 ? 1 : 1 + (id - 1) % options.groups;
    std::string address = FileServerAddress(options, id, group_id);
    int capacity = 200 + 50 * (id % 3);
    server.Int(1, id)
        .Text(2, "fs" + std::to_string(id))
        .Text(3, address)
        .Int(4, group_id);
    server.Int(5, capacity).Run();
    count.Int(1, group_id)
        .Int(2, id)
        .Int(3, random->Below(40))
        .Text(4, address);
    count.Int(5, capacity).Text(6, kStamp).Text(7, kStamp).Run();
  }
  context->summary.groups = options.groups;
  context->summary.file_servers = options.file_servers;
  return RowWritersOk({&group, &server, &count}, error);
}

bool SeedRooms(SeedContext* context, SeedRandom* random, std::string* error) {
  RowWriter room(
      context->db,
      "INSERT INTO rooms (room_id, room_info, room_address, room_number,"
      " room_serialno, room_kind) VALUES (?, ?, ?, ?, ?, ?)");
  RowWriter alert(
      context->db,
      "INSERT INTO fire_alerts (ipaddress, zone_name, alarm_level, exit_hint,"
      " video_format, video_file, is_enabled, updated_at)"
      " VALUES (?, ?, ?, ?, 'MPEG1', ?, ?, ?)");
  for (int i = 0; i < context->options.rooms; ++i) {
    int floor = 1 + i / 50;
    int number = floor * 100 + i % 50 + 1;
    std::string address = "10.0." + std::to_string(1 + i / 200) + "." +
                          std::to_string(10 + i % 200);
    char serial[16];
    std::snprintf(serial, sizeof serial, "R%04d", i + 1);
    room.Int(1, i + 1)
        .Text(2, RoomInfo(i, number))
        .Text(3, address)
        .Int(4, number);
    room.Text(5, serial)
        .Text(6, i % 8 == 7 ? "vip" : (i % 5 == 4 ? "party" : "standard"))
        .Run();
    context->room_addresses.push_back(address);
    if (i % 4 == 0) {
      alert.Text(1, address)
          .Text(2, FireZone(floor, i % 8 == 0))
          .Int(3, 1 + random->Below(3));
      alert.Text(4, ExitHint(floor))
          .Text(5, "fire_floor" + std::to_string(floor) + ".mpg");
      alert.Int(6, 1).Text(7, kStamp).Run();
      ++context->summary.fire_alerts;
    }
    if (i % 16 == 4) {
      // A drill video that was switched off: present, never returned.
      alert.Text(1, address)
          .Text(2, FireZone(floor, false))
          .Int(3, 1)
          .Text(4, ExitHint(floor));
      alert.Text(5, "fire_drill.mpg").Int(6, 0).Text(7, kStamp).Run();
    }
  }
  context->summary.rooms = context->options.rooms;
  return RowWritersOk({&room, &alert}, error);
}

bool SeedSettings(SeedContext* context, std::string* error) {
  const SeedOptions& options = context->options;
  RowWriter config(
      context->db,
      "INSERT INTO configures (Configure_ID, Configure_Name, Configure_Set01,"
      " Configure_Set02, Configure_Set03, Configure_Note) VALUES (?, ?, ?, ?, "
      "?, ?)");
  config.Int(1, 1)
      .Text(2, "RandPlayType")
      .Int(3, options.play_type)
      .Null(4)
      .Null(5);
  config.Text(6, "background play type of the video servers").Run();
  config.Int(1, 2).Text(2, "MaxQueuedSongs").Int(3, 50).Int(4, 5).Null(5);
  config.Text(6, "songs a room may queue; songs a room may move to the front")
      .Run();
  config.Int(1, 3).Text(2, "VenueName").Null(3).Null(4).Text(5, VenueName());
  config.Text(6, "shown on the room screens").Run();
  config.Int(1, 4)
      .Text(2, "OpenHours")
      .Int(3, 12)
      .Int(4, 2)
      .Text(5, "12:00-02:00");
  config.Text(6, "opening and closing hour").Run();
  RowWriter fire(context->db,
                 "INSERT INTO fire_alarm_settings (setting_id, "
                 "default_video_file, home_page,"
                 " updated_at) VALUES (1, 'fire_default.mpg', ?, ?)");
  fire.Text(1, "http://" + options.local_address + "/fire/evacuation.htm")
      .Text(2, kStamp)
      .Run();
  return RowWritersOk({&config, &fire}, error);
}

}  // namespace

bool SeedRegistry(SeedContext* context, std::string* error) {
  SeedRandom random(kRegistrySeed);
  return SeedServers(context, &random, error) &&
         SeedRooms(context, &random, error) && SeedSettings(context, error);
}

}  // namespace venuedb
