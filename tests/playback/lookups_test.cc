// The catalogue lookups as the host calls them: media by id (through the media
// index, always agreeing with a scan in table order), file lists with their
// broadcasts, rooms and file servers by exact address.
#include "playback/lookups.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <utility>

#include "catalogue/media_index.h"
#include "catalogue/room_index.h"
#include "catalogue/tables.h"
#include "catalogue_records.h"
#include "frame/diag.h"
#include "rondel.h"
#include "test_system.h"
#include "udp_receiver.h"

namespace rondel {
namespace {

using testing::AddFileServer;
using testing::AddMedia;
using testing::AddRoom;

class LookupsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(diag_.ready());
    ResetCatalogue();
  }

  // Every datagram up to (and not including) a marker sent now.
  std::vector<std::string> DrainBroadcasts() {
    Broadcast("--marker--");
    std::vector<std::string> texts;
    for (std::string text = diag_.Next(); text != "--marker--";
         text = diag_.Next()) {
      if (text == "<none>") {
        texts.push_back(text);
        break;
      }
      texts.push_back(text);
    }
    return texts;
  }

  testing::DiagListener diag_;
};

TEST_F(LookupsTest, MediaInfoCopiesEveryAttribute) {
  AddMedia(1, kFilm, "first");
  MediaRecord& m = AddMedia(77, kAd, "\xB9\xE3\xB8\xE6 name");
  testing::CopyText(m.MediaCode, sizeof m.MediaCode, "3000001");
  testing::CopyText(m.TextA, sizeof m.TextA, "text a");
  testing::CopyText(m.TextB, sizeof m.TextB, "text b");
  m.NumberA = -1;
  m.NumberB = 2;
  m.NumberC = 3;
  m.GroupId = 9;
  RebuildLookupIndexes();

  char name[100], code[10], text_a[20], text_b[20];
  int media_class = 0, number_a = 0, number_b = 0, number_c = 0, group = 0;
  ASSERT_EQ(GetMediaInfo(77, name, code, &media_class, text_a, text_b,
                         &number_a, &number_b, &number_c, &group),
            1);
  EXPECT_STREQ(name, "\xB9\xE3\xB8\xE6 name");
  EXPECT_STREQ(code, "3000001");
  EXPECT_EQ(media_class, kAd);
  EXPECT_STREQ(text_a, "text a");
  EXPECT_STREQ(text_b, "text b");
  EXPECT_EQ(number_a, -1);
  EXPECT_EQ(number_b, 2);
  EXPECT_EQ(number_c, 3);
  EXPECT_EQ(group, 9);
}

TEST_F(LookupsTest, MediaInfoSkipsNullOutputsAndWritesNothingOnAMiss) {
  AddMedia(5, kSong, "five");
  RebuildLookupIndexes();
  EXPECT_EQ(GetMediaInfo(5, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr),
            1);
  int media_class = -9;
  char name[100];
  std::memset(name, '#', sizeof name);
  EXPECT_EQ(GetMediaInfo(5, nullptr, nullptr, &media_class, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr),
            1);
  EXPECT_EQ(media_class, kSong);

  media_class = -9;
  EXPECT_EQ(GetMediaInfo(6, name, nullptr, &media_class, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr),
            0);
  EXPECT_EQ(media_class, -9);
  EXPECT_EQ(name[0], '#');
}

TEST_F(LookupsTest, FirstRecordWinsAmongRepeatedIds) {
  AddMedia(3, kSong, "third");
  AddMedia(8, kSong, "eight, first");
  AddMedia(1, kSong, "one");
  AddMedia(8, kFilm, "eight, second");
  AddMedia(8, kAd, "eight, third");
  RebuildLookupIndexes();
  char name[100];
  ASSERT_EQ(GetMediaInfo(8, name, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr),
            1);
  EXPECT_STREQ(name, "eight, first");
  EXPECT_EQ(FindMediaPosition(8), ScanMediaPosition(8));
  EXPECT_EQ(FindMediaPosition(8), 1);
}

TEST_F(LookupsTest, IndexAgreesWithAScanOnRandomTables) {
  std::mt19937 random(7);
  for (int round = 0; round < 20; ++round) {
    ResetCatalogue();
    const int count = static_cast<int>(random() % 3000);
    const int32_t id_range = 1 + static_cast<int32_t>(random() % 4000);
    for (int i = 0; i < count; ++i) {
      const int32_t id =
          static_cast<int32_t>(random() % id_range) - id_range / 4;
      AddMedia(id, kSong);
    }
    RebuildLookupIndexes();
    for (int32_t id = -id_range / 4 - 2; id < id_range + 2; ++id) {
      ASSERT_EQ(FindMediaPosition(id), ScanMediaPosition(id))
          << "round " << round << " id " << id;
    }
    ASSERT_EQ(FindMediaPosition(INT32_MIN), ScanMediaPosition(INT32_MIN));
    ASSERT_EQ(FindMediaPosition(INT32_MAX), ScanMediaPosition(INT32_MAX));
  }
}

// Rooms with repeated, empty, 19- and 20-byte (unterminated) addresses: the
// index answers every address, and texts longer than a field, as a scan does.
TEST_F(LookupsTest, RoomIndexAgreesWithAScanOnRandomTables) {
  std::mt19937 random(11);
  auto address = [&](int n) {
    const int kind = n % 4;
    return kind == 0   ? std::string()
           : kind == 1 ? "10.0." + std::to_string(n % 37) + ".1"
           : kind == 2 ? std::string(19, static_cast<char>('a' + n % 5))
                       : std::string(20, static_cast<char>('a' + n % 5));
  };
  for (int round = 0; round < 20; ++round) {
    ResetCatalogue();
    const int count = static_cast<int>(random() % (kRoomCapacity + 1));
    for (int i = 0; i < count; ++i) {
      AddRoom(i, "r", address(static_cast<int>(random() % 200)));
    }
    RebuildLookupIndexes();
    for (int n = 0; n < 200; ++n) {
      const std::string a = address(n);
      ASSERT_EQ(FindRoomPosition(a.c_str()), ScanRoomPosition(a.c_str()))
          << "round " << round << " address " << a;
    }
    const std::string longer(21, 'a');
    ASSERT_EQ(FindRoomPosition(longer.c_str()), -1);
  }
}

TEST_F(LookupsTest, TableChangedWithoutRebuildStillAnswersLikeAScan) {
  AddMedia(10, kSong);
  RebuildLookupIndexes();
  AddMedia(11, kSong);  // no rebuild
  EXPECT_EQ(FindMediaPosition(11), 1);
  g_catalogue.table_records.MediaCount = 0;
  EXPECT_EQ(FindMediaPosition(10), -1);
}

TEST_F(LookupsTest, RecordsBeyondTheCountAreNotFound) {
  AddMedia(1, kSong);
  AddMedia(2, kSong);
  g_catalogue.table_records.MediaCount = 1;
  RebuildLookupIndexes();
  EXPECT_EQ(GetMediaInfo(2, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr),
            0);
}

TEST_F(LookupsTest, FileListBufferHoldsThePathsAndBroadcastsThemInOrder) {
  AddMedia(4, kSong, "x", {"A", "BC", "D"});
  RebuildLookupIndexes();
  char* files = nullptr;
  ASSERT_EQ(GetMediaFileInfo(4, &files), 1);
  ASSERT_NE(files, nullptr);
  EXPECT_GE(testing::AllocatedSize(files), 2048u);
  std::string expected("A\0BC\0D\0", 7);
  expected.resize(2048, '\0');
  EXPECT_EQ(std::string(files, 2048), expected);
  DestroyMediaFilesBuffer(files);
  EXPECT_EQ(DrainBroadcasts(), (std::vector<std::string>{"A", "BC", "D"}));
}

TEST_F(LookupsTest, EmptyFileListGivesZerosAndNoBroadcast) {
  AddMedia(4, kSong, "x");
  RebuildLookupIndexes();
  char* files = nullptr;
  ASSERT_EQ(GetMediaFileInfo(4, &files), 1);
  EXPECT_EQ(std::string(files, 2048), std::string(2048, '\0'));
  DestroyMediaFilesBuffer(files);
  EXPECT_TRUE(DrainBroadcasts().empty());
}

TEST_F(LookupsTest, FullFileListWithoutFinalEmptyTextStaysInsideTheBuffer) {
  MediaRecord& m = AddMedia(4, kSong, "x");
  std::memset(m.FileList, 'p',
              sizeof m.FileList);  // as a damaged snapshot could hold
  m.FileList[99] = '\0';
  RebuildLookupIndexes();
  char* files = nullptr;
  ASSERT_EQ(GetMediaFileInfo(4, &files), 1);
  EXPECT_EQ(files[2047], '\0');
  DestroyMediaFilesBuffer(files);
  const std::vector<std::string> texts = DrainBroadcasts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], std::string(99, 'p'));
  EXPECT_EQ(texts[1], std::string(768 - 100, 'p'));
}

TEST_F(LookupsTest, FileListMissLeavesTheOutPointer) {
  AddMedia(4, kSong, "x", {"A"});
  RebuildLookupIndexes();
  char marker = 0;
  char* files = &marker;
  EXPECT_EQ(GetMediaFileInfo(5, &files), 0);
  EXPECT_EQ(files, &marker);
  EXPECT_EQ(GetMediaFileInfo(4, nullptr), 0);
  DestroyMediaFilesBuffer(nullptr);
  EXPECT_TRUE(DrainBroadcasts().empty());
}

TEST_F(LookupsTest, RoomInfoByExactAddress) {
  AddRoom(1, "first", "10.0.0.1");
  AddRoom(2, "second", "10.0.0.2");
  AddRoom(3, "duplicate", "10.0.0.2");
  AddRoom(4, "letters", "host-A");
  char info[20];
  ASSERT_EQ(GetRoomIDInfoFromIP(const_cast<char*>("10.0.0.2"), info), 1);
  EXPECT_STREQ(info, "second");

  std::memset(info, '#', sizeof info);
  EXPECT_EQ(GetRoomIDInfoFromIP(const_cast<char*>("host-a"), info), 0);
  EXPECT_EQ(GetRoomIDInfoFromIP(const_cast<char*>("10.0.0.20"), info), 0);
  EXPECT_EQ(GetRoomIDInfoFromIP(const_cast<char*>("10.0.0."), info), 0);
  EXPECT_EQ(GetRoomIDInfoFromIP(nullptr, info), 0);
  EXPECT_EQ(info[0], '#');
  EXPECT_EQ(GetRoomIDInfoFromIP(const_cast<char*>("10.0.0.1"), nullptr), 0);
  // Rooms beyond the count are not searched.
  g_catalogue.table_records.RoomCount = 1;
  EXPECT_EQ(GetRoomIDInfoFromIP(const_cast<char*>("10.0.0.2"), info), 0);
}

TEST_F(LookupsTest, UnterminatedRoomFieldsAreReadWithinTheirWidth) {
  RoomRecord& room = AddRoom(1, "", "");
  std::memset(room.RoomInfo, 'i', sizeof room.RoomInfo);
  std::memset(room.RoomAddress, '9', sizeof room.RoomAddress);
  char info[24];
  std::memset(info, '#', sizeof info);
  const std::string twenty(20, '9');
  EXPECT_EQ(GetRoomIDInfoFromIP(const_cast<char*>(twenty.substr(0, 19).c_str()),
                                info),
            0);
  ASSERT_EQ(GetRoomIDInfoFromIP(const_cast<char*>(twenty.c_str()), info), 1);
  EXPECT_EQ(std::string(info), std::string(19, 'i'));
  EXPECT_EQ(info[20], '#');
}

TEST_F(LookupsTest, FileServerByExactAddress) {
  AddFileServer(5, "10.0.9.1", 2);
  AddFileServer(6, "10.0.9.2", 3);
  AddFileServer(7, "10.0.9.2", 4);
  int id = -1, group = -1;
  ASSERT_EQ(GetFileServerID("10.0.9.2", &id, &group), 1);
  EXPECT_EQ(id, 6);
  EXPECT_EQ(group, 3);

  id = group = -1;
  EXPECT_EQ(GetFileServerID("10.0.9.3", &id, &group), 0);
  EXPECT_EQ(id, 0);
  EXPECT_EQ(group, 0);
  id = group = -1;
  EXPECT_EQ(GetFileServerID(nullptr, &id, &group), 0);
  EXPECT_EQ(id, 0);
  EXPECT_EQ(group, 0);
  // A null output is an answer nobody can receive: 0, nothing written.
  id = group = -1;
  EXPECT_EQ(GetFileServerID("10.0.9.1", nullptr, &group), 0);
  EXPECT_EQ(GetFileServerID("10.0.9.1", &id, nullptr), 0);
  EXPECT_EQ(std::make_pair(id, group), std::make_pair(-1, -1));
}

}  // namespace
}  // namespace rondel
