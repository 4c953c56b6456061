// The reset of the catalogue before every start-up, and the class indexes built
// after it.
#include "catalogue/tables.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "catalogue/class_index.h"
#include "catalogue_records.h"

namespace rondel {
namespace {

using testing::AddFileServer;
using testing::AddMedia;
using testing::AddRoom;

bool AllZero(const void* data, size_t size) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

// Bytes of [data, data + size) resident in memory, counted in whole pages.
size_t ResidentBytes(const void* data, size_t size) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t start = reinterpret_cast<uintptr_t>(data) & ~(page - 1);
  const uintptr_t end = reinterpret_cast<uintptr_t>(data) + size;
  std::vector<unsigned char> residency((end - start + page - 1) / page);
  if (mincore(reinterpret_cast<void*>(start), end - start, residency.data()) !=
      0) {
    return SIZE_MAX;
  }
  size_t resident = 0;
  for (unsigned char r : residency) resident += (r & 1) ? page : 0;
  return resident;
}

TEST(ResetCatalogueTest,
     ClearsCountersRecordsAndIndexHeadsButKeepsPlayListsAndIdentity) {
  Catalogue& c = g_catalogue;
  for (int i = 0; i < 30; ++i) AddMedia(100 + i, kSong, "song");
  AddRoom(1, "room one", "10.0.0.1");
  AddRoom(2, "room two", "10.0.0.2");
  AddFileServer(7, "10.0.1.1", 3);
  c.table_records.Reserved = 5;
  c.table_records.FilmCount = 25;
  c.table_records.SongCount = 25;
  c.table_records.AdCount = 25;
  for (int i = 0; i < 25; ++i) {
    c.film_index[i] = {1000 + i, i};
    c.song_index[i] = {2000 + i, i};
    c.ad_index[i] = {3000 + i, i};
  }
  c.all_sequence.entries[0] = 11;
  c.all_sequence.count = 1;
  c.user_sequence.entries[99999] = 12;
  c.user_sequence.count = 100000;
  c.prefix86_list.entries[0] = 8000001;
  c.prefix86_list.count = 1;
  std::strcpy(c.local_addresses[0], "10.0.0.9");
  c.identity_file_server_id = 7;
  c.identity_group_id = 3;
  g_play_type = 9;

  ResetCatalogue();

  EXPECT_TRUE(AllZero(&c.table_records, sizeof c.table_records));
  EXPECT_TRUE(AllZero(c.rooms, sizeof c.rooms));
  EXPECT_TRUE(AllZero(c.file_servers, sizeof c.file_servers));
  EXPECT_TRUE(AllZero(c.medias, sizeof(MediaRecord) * 30));
  EXPECT_TRUE(AllZero(c.film_index, sizeof(ClassIndexEntry) * 20));
  EXPECT_TRUE(AllZero(c.song_index, sizeof(ClassIndexEntry) * 20));
  EXPECT_TRUE(AllZero(c.ad_index, sizeof(ClassIndexEntry) * 20));
  // Entries 20 and beyond lie past every count and keep their values.
  EXPECT_EQ(c.film_index[20].MediaId, 1020);
  EXPECT_EQ(c.song_index[24].MediaId, 2024);
  EXPECT_EQ(c.ad_index[21].CataloguePosition, 21);
  EXPECT_EQ(g_play_type, 2);

  EXPECT_EQ(c.all_sequence.entries[0], 11);
  EXPECT_EQ(c.all_sequence.count, 1);
  EXPECT_EQ(c.user_sequence.entries[99999], 12);
  EXPECT_EQ(c.user_sequence.count, 100000);
  EXPECT_EQ(c.prefix86_list.entries[0], 8000001);
  EXPECT_EQ(c.prefix86_list.count, 1);
  EXPECT_STREQ(c.local_addresses[0], "10.0.0.9");
  EXPECT_EQ(c.identity_file_server_id, 7);
  EXPECT_EQ(c.identity_group_id, 3);
}

TEST(ResetCatalogueTest, ClearsEveryMediaRecordAnyWriterReported) {
  Catalogue& c = g_catalogue;
  // A loader that wrote 40 records but whose result was never stored as the
  // count.
  for (int i = 0; i < 40; ++i) c.medias[i].MediaId = 500 + i;
  NoteMediasWritten(40);
  // A later, smaller report does not shrink what must be cleared.
  NoteMediasWritten(3);
  ResetCatalogue();
  EXPECT_TRUE(AllZero(c.medias, sizeof(MediaRecord) * 40));

  // Reports beyond the table are held to its capacity.
  NoteMediasWritten(kMediaCapacity + 5);
  c.medias[kMediaCapacity - 1].MediaId = 1;
  ResetCatalogue();
  EXPECT_EQ(int32_t{c.medias[kMediaCapacity - 1].MediaId}, 0);
}

// Returns the whole pages inside [data, data + size) to the state of a freshly
// loaded library: not resident, reading as zero.
void DropPages(void* data, size_t size) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t start =
      (reinterpret_cast<uintptr_t>(data) + page - 1) & ~(page - 1);
  const uintptr_t end =
      (reinterpret_cast<uintptr_t>(data) + size) & ~(page - 1);
  if (end > start)
    madvise(reinterpret_cast<void*>(start), end - start, MADV_DONTNEED);
}

TEST(ResetCatalogueTest, UnwrittenMediaPagesStayOutOfMemory) {
  Catalogue& c = g_catalogue;
  // Earlier tests in this process may have touched the tables.
  ResetCatalogue();
  DropPages(c.medias, sizeof c.medias);
  DropPages(c.song_index, sizeof c.song_index);
  DropPages(c.ad_index, sizeof c.ad_index);
  for (int i = 0; i < 5000; ++i) AddMedia(i + 1, kSong, "song");
  ResetCatalogue();
  for (int i = 0; i < 5000; ++i) AddMedia(i + 1, kFilm, "film");
  BuildClassIndexes();
  ResetCatalogue();
  // 5,000 records are 4.7 MB; touching the whole table would make 94 MB
  // resident.
  const size_t medias = ResidentBytes(c.medias, sizeof c.medias);
  EXPECT_LT(medias, size_t{12} << 20) << medias << " bytes of Medias resident";
  const size_t indexes = ResidentBytes(c.song_index, sizeof c.song_index) +
                         ResidentBytes(c.ad_index, sizeof c.ad_index);
  EXPECT_LT(indexes, size_t{6} << 20)
      << indexes << " bytes of indexes resident";
}

class BuildClassIndexesTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetCatalogue(); }
};

TEST_F(BuildClassIndexesTest, IndexesEachClassInCatalogueOrderWithPositions) {
  AddMedia(10, kFilm);  // 0
  AddMedia(20, kSong);  // 1
  AddMedia(30, kAd);    // 2
  AddMedia(40, 0);      // 3: no class
  AddMedia(50, kSong);  // 4
  AddMedia(60, 4);      // 5: no class
  AddMedia(70, kFilm);  // 6
  AddMedia(80, kSong);  // 7: the third song
  AddMedia(20, kSong);  // 8: a repeated id keeps its own entry
  AddMedia(90, -1);     // 9: no class

  BuildClassIndexes();

  const Catalogue& c = g_catalogue;
  EXPECT_EQ(c.table_records.FilmCount, 2);
  EXPECT_EQ(c.table_records.SongCount, 4);
  EXPECT_EQ(c.table_records.AdCount, 1);
  EXPECT_EQ(c.film_index[0].MediaId, 10);
  EXPECT_EQ(c.film_index[0].CataloguePosition, 0);
  EXPECT_EQ(c.film_index[1].MediaId, 70);
  EXPECT_EQ(c.film_index[1].CataloguePosition, 6);
  EXPECT_EQ(c.song_index[0].CataloguePosition, 1);
  EXPECT_EQ(c.song_index[1].CataloguePosition, 4);
  EXPECT_EQ(c.song_index[2].MediaId, 80);
  EXPECT_EQ(c.song_index[2].CataloguePosition, 7);
  EXPECT_EQ(c.song_index[3].MediaId, 20);
  EXPECT_EQ(c.song_index[3].CataloguePosition, 8);
  EXPECT_EQ(c.ad_index[0].MediaId, 30);
  EXPECT_EQ(c.ad_index[0].CataloguePosition, 2);
}

TEST_F(BuildClassIndexesTest, EmptyOrNegativeCountGivesEmptyIndexes) {
  AddMedia(10, kFilm);
  g_catalogue.table_records.MediaCount = 0;
  g_catalogue.film_index[0] = {77, 77};
  BuildClassIndexes();
  EXPECT_EQ(g_catalogue.table_records.FilmCount, 0);
  EXPECT_EQ(g_catalogue.table_records.SongCount, 0);
  EXPECT_EQ(g_catalogue.table_records.AdCount, 0);
  EXPECT_EQ(g_catalogue.film_index[0].MediaId,
            77);  // beyond the count, left as it was

  g_catalogue.table_records.MediaCount = -5;
  BuildClassIndexes();
  EXPECT_EQ(g_catalogue.table_records.FilmCount, 0);
}

TEST_F(BuildClassIndexesTest, ReadsOnlyTheRecordsInUse) {
  AddMedia(1, kSong);
  AddMedia(2, kSong);
  g_catalogue.medias[2].MediaId = 3;  // beyond the count
  g_catalogue.medias[2].Class = kSong;
  NoteMediasWritten(3);
  BuildClassIndexes();
  EXPECT_EQ(g_catalogue.table_records.SongCount, 2);
}

TEST_F(BuildClassIndexesTest, CountBeyondCapacityStopsAtTheLastRecord) {
  Catalogue& c = g_catalogue;
  c.medias[kMediaCapacity - 1].MediaId = 99;
  c.medias[kMediaCapacity - 1].Class = kAd;
  NoteMediasWritten(kMediaCapacity);
  c.table_records.MediaCount = kMediaCapacity + 1;
  BuildClassIndexes();
  EXPECT_EQ(c.table_records.AdCount, 1);
  EXPECT_EQ(c.ad_index[0].MediaId, 99);
  EXPECT_EQ(c.ad_index[0].CataloguePosition, kMediaCapacity - 1);
  EXPECT_EQ(c.table_records.FilmCount, 0);
  EXPECT_EQ(c.table_records.SongCount, 0);
}

}  // namespace
}  // namespace rondel
