// The snapshot files on disk: golden bytes, the round trip of all nine tables,
// the table descriptions, the directory and text bytes kept exactly.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "catalogue/snapshot_store.h"
#include "catalogue/tables.h"
#include "catalogue_records.h"
#include "files.h"
#include "platform/paths.h"
#include "scratch_dir.h"
#include "snapshot_files.h"
#include "test_system.h"

namespace rondel {
namespace {

using testing::SetEnv;
using testing::UnsetEnv;

using testing::AddMedia;
using testing::AddRoom;
using testing::Field;
using testing::Le32;
using testing::ReadFileBytes;

class SnapshotFormatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    SetEnv("RONDEL_SNAPSHOT_DIR", dir_.path());
    ResetCatalogue();
    testing::ClearPlayLists();
  }
  void TearDown() override { UnsetEnv("RONDEL_SNAPSHOT_DIR"); }

  std::string Header(const std::string& name, int32_t count, int32_t size) {
    return std::string("TABLE:\0\0", 8) + Field(name, 64) + Le32(count) +
           Le32(size);
  }

  testing::ScratchDir dir_;
  SnapshotStore store_;
};

TEST_F(SnapshotFormatTest, RoomsFileOfThreeRoomsIsByteExact) {
  AddRoom(1, "A01", "10.20.1.101", 101, -1);
  AddRoom(2, "A02", "10.20.1.102", 65535, 7);
  AddRoom(-3, "VIP", "10.20.1.103", 0, 0);
  ASSERT_TRUE(store_.SaveAllTables());

  std::string expected = Header("Rooms", 3, 52);
  expected += Le32(1) + Field("A01", 20) + Field("10.20.1.101", 20) +
              Le32(101) + Le32(-1);
  expected += Le32(2) + Field("A02", 20) + Field("10.20.1.102", 20) +
              Le32(65535) + Le32(7);
  expected += Le32(-3) + Field("VIP", 20) + Field("10.20.1.103", 20) + Le32(0) +
              Le32(0);
  const std::string file = ReadFileBytes(dir_.File("Rooms.tbl"));
  ASSERT_EQ(file.size(), 236u);
  EXPECT_EQ(file, expected);
  EXPECT_EQ(file.substr(0, 8),
            std::string("\x54\x41\x42\x4C\x45\x3A\x00\x00", 8));
  EXPECT_EQ(file.substr(8, 5), "\x52\x6F\x6F\x6D\x73");
  EXPECT_EQ(file.substr(72, 8),
            std::string("\x03\x00\x00\x00\x34\x00\x00\x00", 8));
}

TEST_F(SnapshotFormatTest, TableRecordsFileHoldsCountsWithClassCountersZero) {
  testing::FillCatalogue(7);
  ASSERT_TRUE(store_.SaveAllTables());
  const std::string file = ReadFileBytes(dir_.File("TABLE_RECORDS.tbl"));
  EXPECT_EQ(file, Header("TABLE_RECORDS", 1, 28) + Le32(5) + Le32(0) + Le32(3) +
                      Le32(2) + Le32(0) + Le32(0) + Le32(0));
  EXPECT_EQ(file.size(), 108u);
  // The empty month list is a bare header.
  EXPECT_EQ(ReadFileBytes(dir_.File("MonthSequence.tbl")),
            Header("MonthSequence", 0, 4));
  EXPECT_EQ(ReadFileBytes(dir_.File("UserSequence.tbl")),
            Header("UserSequence", 4, 4) + Le32(7000) + Le32(7001) +
                Le32(7002) + Le32(7003));
  const std::string medias = ReadFileBytes(dir_.File("Medias.tbl"));
  ASSERT_EQ(medias.size(), 80u + 5 * 942);
  EXPECT_EQ(medias.substr(0, 80), Header("Medias", 5, 942));
  EXPECT_EQ(
      medias.substr(80, 942),
      std::string(reinterpret_cast<const char*>(&g_catalogue.medias[0]), 942));
  EXPECT_EQ(ReadFileBytes(dir_.File("FILE_SERVERS.tbl")),
            Header("FILE_SERVERS", 2, 36) + Le32(8) + Field("10.0.9.1", 20) +
                Le32(33) + Le32(4) + Le32(55) + Le32(9) +
                Field("10.0.9.2", 20) + Le32(34) + Le32(5) + Le32(56));
  // Only the nine files remain: no temporaries.
  EXPECT_EQ(testing::SortedListing(dir_.path()), testing::NineFileListing());
}

TEST_F(SnapshotFormatTest, AllNineTablesRoundTrip) {
  testing::FillCatalogue(3);
  std::string saved[9];
  for (int k = 0; k < 9; ++k) saved[k] = testing::TableBytes(k);
  ASSERT_TRUE(store_.SaveAllTables());

  ResetCatalogue();
  testing::ClearPlayLists();
  g_catalogue.week_sequence.count =
      9;  // counts are not restored: each keeps its value
  ASSERT_TRUE(store_.LoadAllTables());
  for (int k = 0; k < 9; ++k) {
    EXPECT_EQ(testing::TableBytes(k), saved[k])
        << testing::kSnapshotTables[k].table_name;
  }
  EXPECT_EQ(g_catalogue.table_records.MediaCount, 5);
  EXPECT_EQ(g_catalogue.table_records.RoomCount, 3);
  EXPECT_EQ(g_catalogue.table_records.FileServerCount, 2);
  EXPECT_EQ(g_catalogue.all_sequence.count, 0);
  EXPECT_EQ(g_catalogue.week_sequence.count, 9);
  EXPECT_EQ(g_catalogue.user_sequence.count, 0);
}

TEST_F(SnapshotFormatTest, FullMediaTableRoundTrips) {
  for (int i = 0; i < kMediaCapacity; ++i) {
    MediaRecord& m =
        AddMedia(i * 3 + 1, 1 + i % 3, "n" + std::to_string(i), {"/p"});
    m.FileList[kFileListSize - 1] =
        static_cast<char>(i);  // the record's last byte
  }
  ASSERT_TRUE(store_.SaveAllTables());
  EXPECT_EQ(ReadFileBytes(dir_.File("Medias.tbl")).size(),
            80u + 942u * 100000u);
  ResetCatalogue();
  ASSERT_TRUE(store_.LoadAllTables());
  EXPECT_EQ(g_catalogue.table_records.MediaCount, kMediaCapacity);
  EXPECT_EQ(int32_t{g_catalogue.medias[kMediaCapacity - 1].MediaId},
            (kMediaCapacity - 1) * 3 + 1);
  EXPECT_STREQ(g_catalogue.medias[kMediaCapacity - 1].MediaName, "n99999");
  EXPECT_EQ(g_catalogue.medias[12345].FileList[kFileListSize - 1],
            static_cast<char>(12345));
}

TEST_F(SnapshotFormatTest, GbkTextBytesAreKeptExactly) {
  // GBK bytes, including a trail byte equal to '\' (0x5C), never converted.
  const std::string name = "\xB8\xE8\xC7\xFA\x95\x5C";
  const std::string path = "D:\\\xD2\xF4\xC0\xD6\\\x95\x5C.mpg";
  MediaRecord& m = AddMedia(42, kSong, name, {path});
  testing::CopyText(m.TextA, sizeof m.TextA, "\xCD\xF5\xB7\xC6");
  AddRoom(1, "\xB0\xFC\xCF\xE1", "10.1.1.1");
  ASSERT_TRUE(store_.SaveAllTables());

  const std::string medias = ReadFileBytes(dir_.File("Medias.tbl"));
  ASSERT_EQ(medias.size(), 80u + 942u);
  EXPECT_EQ(medias.substr(80 + 4, 100), Field(name, 100));
  EXPECT_EQ(medias.substr(80 + 118, 20), Field("\xCD\xF5\xB7\xC6", 20));
  EXPECT_EQ(medias.substr(80 + 174, 768), Field(path, 768));
  EXPECT_EQ(ReadFileBytes(dir_.File("Rooms.tbl")).substr(80 + 4, 20),
            Field("\xB0\xFC\xCF\xE1", 20));

  ResetCatalogue();
  ASSERT_TRUE(store_.LoadAllTables());
  EXPECT_EQ(std::string(g_catalogue.medias[0].MediaName), name);
  EXPECT_EQ(std::string(g_catalogue.medias[0].FileList), path);
  EXPECT_EQ(std::string(g_catalogue.rooms[0].RoomInfo), "\xB0\xFC\xCF\xE1");
}

TEST_F(SnapshotFormatTest, TableDescriptionsAnswerOnlyTheNineExactNames) {
  int32_t count = -7;
  int32_t size = -7;
  void* first = nullptr;
  g_catalogue.table_records.RoomCount = 4;
  ASSERT_TRUE(store_.GetTableForSave("Rooms", &count, &size, &first));
  EXPECT_EQ(count, 4);
  EXPECT_EQ(size, 52);
  EXPECT_EQ(first, static_cast<void*>(g_catalogue.rooms));
  ASSERT_TRUE(store_.GetTableForSave("TABLE_RECORDS", &count, &size, &first));
  EXPECT_EQ(count, 1);
  EXPECT_EQ(size, 28);
  g_catalogue.user_sequence.count = 17;
  ASSERT_TRUE(store_.GetTableForSave("UserSequence", &count, &size, &first));
  EXPECT_EQ(count, 17);
  EXPECT_EQ(first, static_cast<void*>(g_catalogue.user_sequence.entries));
  EXPECT_FALSE(store_.GetTableForSave("", &count, &size, &first));
  EXPECT_FALSE(store_.GetTableForSave(nullptr, &count, &size, &first));
  EXPECT_FALSE(store_.GetTableForSave("rooms", &count, &size, &first));
  EXPECT_FALSE(store_.GetTableForSave("Rooms ", &count, &size, &first));
}

TEST_F(SnapshotFormatTest, TableForLoadChecksBeforeTouchingMemory) {
  std::memset(g_catalogue.file_servers, 0x5A, sizeof g_catalogue.file_servers);
  void* first = nullptr;
  EXPECT_FALSE(store_.GetTableForLoad("FILE_SERVERS", 2, 35, &first));
  EXPECT_FALSE(store_.GetTableForLoad("FILE_SERVERS", 21, 36, &first));
  EXPECT_FALSE(store_.GetTableForLoad("FILE_SERVERS", -1, 36, &first));
  EXPECT_FALSE(store_.GetTableForLoad("File_Servers", 2, 36, &first));
  EXPECT_FALSE(store_.GetTableForLoad("", 0, 36, &first));
  EXPECT_EQ(first, nullptr);
  EXPECT_EQ(static_cast<unsigned char>(
                g_catalogue.file_servers[0].FileServerId & 0xFF),
            0x5A);

  ASSERT_TRUE(store_.GetTableForLoad("FILE_SERVERS", 2, 36, &first));
  EXPECT_EQ(first, static_cast<void*>(g_catalogue.file_servers));
  EXPECT_EQ(g_catalogue.file_servers[0].FileServerId, 0);
  EXPECT_EQ(g_catalogue.file_servers[1].ServerValue5, 0);
  EXPECT_EQ(static_cast<unsigned char>(
                g_catalogue.file_servers[2].FileServerId & 0xFF),
            0x5A);
  EXPECT_TRUE(store_.GetTableForLoad("FILE_SERVERS", 20, 36, &first));
  EXPECT_TRUE(store_.GetTableForLoad("UserSequence", 100000, 4, &first));
  EXPECT_FALSE(store_.GetTableForLoad("UserSequence", 100001, 4, &first));
  EXPECT_FALSE(store_.GetTableForLoad("AllSequence", 201, 4, &first));
  EXPECT_FALSE(store_.GetTableForLoad("TABLE_RECORDS", 2, 28, &first));
}

TEST_F(SnapshotFormatTest,
       MissingDirectoryIsCreatedAndTheLoadFailsAtTheFirstTable) {
  const std::string missing = dir_.path() + "/VideoServertable";
  SetEnv("RONDEL_SNAPSHOT_DIR", missing);
  testing::PaintTables();
  g_catalogue.table_records = TableRecords{};
  EXPECT_FALSE(store_.LoadAllTables());
  EXPECT_TRUE(testing::PathExists(missing));
  EXPECT_EQ(store_.DirectoryPath, missing + "/");
  EXPECT_EQ(g_catalogue.table_records.MediaCount, 0);
  EXPECT_EQ(g_catalogue.table_records.RoomCount, 0);
  EXPECT_EQ(static_cast<unsigned char>(g_catalogue.rooms[0].RoomInfo[0]), 0x5A);
  EXPECT_FALSE(store_.FileExists(missing + "/TABLE_RECORDS.tbl"));
  EXPECT_FALSE(store_.FileExists(missing));  // a directory is no snapshot file
}

TEST_F(SnapshotFormatTest, DefaultDirectoryLiesBesideTheExecutable) {
  UnsetEnv("RONDEL_SNAPSHOT_DIR");
  const std::string expected =
      platform::ExecutableDirectory() + "VideoServertable/";
  const bool existed = testing::PathExists(expected);
  ASSERT_TRUE(store_.PrepareDirectory());
  EXPECT_EQ(store_.DirectoryPath, expected);
  EXPECT_TRUE(testing::PathExists(expected));
  if (!existed) rmdir(expected.c_str());
}

TEST_F(SnapshotFormatTest, SingleTableSaveWritesInPlace) {
  AddRoom(5, "x", "10.2.2.2");
  ASSERT_TRUE(store_.PrepareDirectory());
  ASSERT_TRUE(store_.SaveTable("Rooms.tbl", "Rooms"));
  EXPECT_EQ(ReadFileBytes(dir_.File("Rooms.tbl")).size(), 80u + 52u);
  EXPECT_FALSE(store_.SaveTable("Other.tbl", "Other"));
  ResetCatalogue();
  g_catalogue.table_records.RoomCount = 1;
  ASSERT_TRUE(store_.LoadTable("Rooms.tbl", "Rooms"));
  EXPECT_EQ(g_catalogue.rooms[0].RoomId, 5);
  EXPECT_FALSE(store_.LoadTable("Rooms.tbl", "FILE_SERVERS"));
  EXPECT_FALSE(store_.LoadTable("Missing.tbl", "Rooms"));
}

}  // namespace
}  // namespace rondel
