// LoadFileServers and LoadRooms against venuedb: columns into records,
// capacities, room numbers, failures.
#include "catalogue/venue_loaders.h"

#include <gtest/gtest.h>

#include <string>

#include "catalogue/tables.h"
#include "database_test.h"

namespace rondel {
namespace testing {
namespace {

class VenueLoadersTest : public DatabaseTest {
 protected:
  void AddFileServers(int count) {
    venue_.Exec(
        "INSERT INTO server_groups(group_id, group_name) VALUES(1, 'g1'), (2, "
        "'g2')");
    venue_.Exec(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE "
        "i < " +
        std::to_string(count) +
        ") INSERT INTO fileservers(fileserver_id, fileserver_name, "
        "fileserver_IpAddress, "
        "stream_port, group_id, max_connections) "
        "SELECT i, 'fs' || i, '10.0.0.' || i, 8000 + i, 1 + i % 2, 100 + i "
        "FROM n");
  }
  void AddRooms(int count) {
    venue_.Exec(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE "
        "i < " +
        std::to_string(count) +
        ") INSERT INTO rooms(room_id, room_info, room_address, room_number) "
        "SELECT i, 'room ' || i, '10.1.' || (i / 256) || '.' || (i % 256), "
        "1000 + i FROM n");
  }
};

TEST_F(VenueLoadersTest, FileServersFillRecordsInOrderUpTo20) {
  AddFileServers(21);
  ASSERT_EQ(LoadFileServers(), kFileServerCapacity);
  const FileServerRecord& first = g_catalogue.file_servers[0];
  EXPECT_EQ(int32_t{first.FileServerId}, 1);
  EXPECT_EQ(FieldText(first.ServerAddress, 20), "10.0.0.1");
  EXPECT_EQ(int32_t{first.ServerValue3}, 8001);
  EXPECT_EQ(int32_t{first.GroupId}, 2);
  EXPECT_EQ(int32_t{first.ServerValue5}, 101);
  const FileServerRecord& last = g_catalogue.file_servers[19];
  EXPECT_EQ(int32_t{last.FileServerId}, 20);
  EXPECT_EQ(FieldText(last.ServerAddress, 20), "10.0.0.20");
  EXPECT_EQ(int32_t{last.GroupId}, 1);
  // The counter is RefreshCatalogue's to write.
  EXPECT_EQ(g_catalogue.table_records.FileServerCount, 0);
}

TEST_F(VenueLoadersTest, FileServerAddressKeeps19Characters) {
  venue_.Exec(
      "INSERT INTO server_groups(group_id, group_name) VALUES(1, 'g1')");
  venue_.Exec(
      "INSERT INTO fileservers(fileserver_id, fileserver_name, "
      "fileserver_IpAddress, "
      "group_id) VALUES(4, 'long', '123.123.123.123:65535', 1)");
  ASSERT_EQ(LoadFileServers(), 1);
  EXPECT_EQ(std::string(g_catalogue.file_servers[0].ServerAddress, 20),
            std::string("123.123.123.123:655") + '\0');
}

TEST_F(VenueLoadersTest, RoomsFillRecordsUpTo512WithCursorMinusOne) {
  AddRooms(513);
  ASSERT_EQ(LoadRooms(), kRoomCapacity);
  const RoomRecord& first = g_catalogue.rooms[0];
  EXPECT_EQ(int32_t{first.RoomId}, 1);
  EXPECT_EQ(FieldText(first.RoomInfo, 20), "room 1");
  EXPECT_EQ(FieldText(first.RoomAddress, 20), "10.1.0.1");
  EXPECT_EQ(int32_t{first.RoomNumber}, 1001);
  EXPECT_EQ(int32_t{first.PlayCursor}, -1);
  const RoomRecord& last = g_catalogue.rooms[511];
  EXPECT_EQ(int32_t{last.RoomId}, 512);
  EXPECT_EQ(FieldText(last.RoomAddress, 20), "10.1.2.0");
  EXPECT_EQ(int32_t{last.PlayCursor}, -1);
  EXPECT_EQ(g_catalogue.table_records.RoomCount, 0);
}

TEST_F(VenueLoadersTest, RoomNumbersKeepTheirLow16Bits) {
  venue_.Exec(
      "INSERT INTO rooms(room_id, room_info, room_address, room_number) VALUES"
      "(1, 'a', '10.0.0.1', 65536 + 7), (2, 'b', '10.0.0.2', -1), "
      "(3, 'c', '10.0.0.3', 65535), (4, 'd', '10.0.0.4', 131072), "
      "(5, 'the info text is long', '10.0.0.5', 0)");
  ASSERT_EQ(LoadRooms(), 5);
  EXPECT_EQ(int32_t{g_catalogue.rooms[0].RoomNumber}, 7);
  EXPECT_EQ(int32_t{g_catalogue.rooms[1].RoomNumber}, 65535);
  EXPECT_EQ(int32_t{g_catalogue.rooms[2].RoomNumber}, 65535);
  EXPECT_EQ(int32_t{g_catalogue.rooms[3].RoomNumber}, 0);
  EXPECT_EQ(std::string(g_catalogue.rooms[4].RoomInfo, 20),
            std::string("the info text is lo") + '\0');
}

TEST_F(VenueLoadersTest, NoRowsIsAnEmptyTableNotAFailure) {
  EXPECT_EQ(LoadRooms(), 0);
  EXPECT_EQ(LoadFileServers(), 0);
}

TEST_F(VenueLoadersTest, FailuresAnswerMinusOne) {
  FailProcedure("sp_getroomInfobyvideoserver");
  FailProcedure("sp_getAllfileservers");
  EXPECT_EQ(LoadRooms(), -1);
  EXPECT_EQ(LoadFileServers(), -1);
  PointAtNothing();
  EXPECT_EQ(LoadRooms(), -1);
  EXPECT_EQ(LoadFileServers(), -1);
}

}  // namespace
}  // namespace testing
}  // namespace rondel
