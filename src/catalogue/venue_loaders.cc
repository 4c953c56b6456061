#include "catalogue/venue_loaders.h"

#include <cstdint>

#include "catalogue/tables.h"
#include "catalogue/text_field.h"
#include "frame/exchange.h"

namespace rondel {

int LoadFileServers() {
  Exchange exchange;
  if (!exchange.connected() || !exchange.Call("sp_getAllfileservers", {}))
    return -1;
  int32_t id = 0, value3 = 0, group_id = 0, value5 = 0;
  char address[20] = "";
  int stored = 0;
  const bool read = exchange.ReadRows(
      {Column::Int(1, &id), Column::Text(2, address, sizeof address),
       Column::Int(3, &value3), Column::Int(4, &group_id),
       Column::Int(5, &value5)},
      [&] {
        if (stored < kFileServerCapacity) {
          FileServerRecord& server = g_catalogue.file_servers[stored++];
          server.FileServerId = id;
          StoreTextField(server.ServerAddress, address);
          server.ServerValue3 = value3;
          server.GroupId = group_id;
          server.ServerValue5 = value5;
        }
        return true;
      });
  return read ? stored : -1;
}

int LoadRooms() {
  Exchange exchange;
  if (!exchange.connected() ||
      !exchange.Call("sp_getroomInfobyvideoserver", {}))
    return -1;
  int32_t id = 0, number = 0;
  char info[20] = "", address[20] = "";
  int stored = 0;
  const bool read = exchange.ReadRows(
      {Column::Int(1, &id), Column::Text(2, info, sizeof info),
       Column::Text(3, address, sizeof address), Column::Int(4, &number)},
      [&] {
        if (stored < kRoomCapacity) {
          RoomRecord& room = g_catalogue.rooms[stored++];
          room.RoomId = id;
          StoreTextField(room.RoomInfo, info);
          StoreTextField(room.RoomAddress, address);
          room.RoomNumber =
              static_cast<int32_t>(static_cast<uint32_t>(number) & 0xFFFFu);
          room.PlayCursor = -1;
        }
        return true;
      });
  return read ? stored : -1;
}

}  // namespace rondel
