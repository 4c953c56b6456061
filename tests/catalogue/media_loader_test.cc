// LoadMedias against venuedb: grouping of file rows into records, file-list
// packing, the class and Prefix86 rules on real rows, the record capacity and
// texts kept byte for byte.
#include "catalogue/media_loader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue/tables.h"
#include "database_test.h"

namespace rondel {
namespace testing {
namespace {

using Paths = std::vector<std::string>;

class MediaLoaderTest : public DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    g_catalogue.identity_file_server_id = 9;
    g_catalogue.identity_group_id = 1;
    venue_.Exec(
        "INSERT INTO server_groups(group_id, group_name) VALUES(1, 'g1'), (2, "
        "'g2')");
  }
  void AddMedia(int id, const std::string& code,
                const std::string& name = "m") {
    venue_.Exec("INSERT INTO medias(media_id, media_name, media_code) VALUES(" +
                std::to_string(id) + ", " + Sql(name) + ", " + Sql(code) + ")");
  }
  void AddFile(int media_id, int order, const std::string& path,
               int group = 1) {
    venue_.Exec("INSERT INTO media_files VALUES(" + std::to_string(group) +
                ", " + std::to_string(media_id) + ", " + std::to_string(order) +
                ", " + Sql(path) + ")");
  }
  static const MediaRecord& Media(int position) {
    return g_catalogue.medias[position];
  }
  static std::vector<int32_t> Prefix86() {
    const auto& list = g_catalogue.prefix86_list;
    return std::vector<int32_t>(list.entries, list.entries + list.count);
  }
};

TEST_F(MediaLoaderTest, ConsecutiveRowsOfOneMediaBecomeOneRecordWithItsFiles) {
  AddMedia(5, "10500");
  AddMedia(6, "8000001");
  AddMedia(7, "20000");
  AddFile(5, 1, "a");
  AddFile(5, 2, "b");
  AddFile(6, 1, "");
  AddFile(7, 1, "");   // an empty first path leaves the list empty...
  AddFile(7, 2, "x");  // ...and the next path goes to offset 0
  AddMedia(8, "20001");
  AddFile(8, 1, "other group", 2);

  ASSERT_EQ(LoadMedias(), 3);
  EXPECT_EQ(int32_t{Media(0).MediaId}, 5);
  EXPECT_EQ(std::string(Media(0).FileList, 6), std::string("a\0b\0\0\0", 6));
  EXPECT_EQ(FileListPaths(Media(0)), (Paths{"a", "b"}));
  EXPECT_EQ(int32_t{Media(1).MediaId}, 6);
  EXPECT_EQ(std::string(Media(1).FileList, kFileListSize),
            std::string(kFileListSize, '\0'));
  EXPECT_EQ(int32_t{Media(2).MediaId}, 7);
  EXPECT_EQ(std::string(Media(2).FileList, 3), std::string("x\0\0", 3));
  EXPECT_EQ(int32_t{Media(3).MediaId},
            0);  // nothing written past the records stored

  // The procedure was asked for this server's group and id.
  auto params = venue_.Query(
      "SELECT p.name, p.value FROM vdb_journal j JOIN vdb_journal_params p "
      "ON p.journal_id = j.id WHERE CAST(j.text AS TEXT) = "
      "'sp_getmediainfobyvideoserver' "
      "ORDER BY p.ordinal");
  ASSERT_EQ(params.size(), 2u);
  EXPECT_EQ(*params[0][0], "@i_ServerGroupid");
  EXPECT_EQ(*params[0][1], "1");
  EXPECT_EQ(*params[1][0], "@i_Serverid");
  EXPECT_EQ(*params[1][1], "9");
}

TEST_F(MediaLoaderTest,
       RecordFieldsComeFromTheirColumnsAndAreCutToTheirWidths) {
  venue_.Exec("INSERT INTO languages VALUES(3, 'Cantonese-and-more-than-20')");
  venue_.Exec(
      "INSERT INTO medias(media_id, media_name, media_code, artist_name, "
      "language_id, volume, "
      "vocal_channel, stroke_count) VALUES(41, " +
      Sql(std::string(150, 'n')) + ", '1234567890', 'artist', 3, 77, 2, 13)");
  AddFile(41, 1, "p");
  ASSERT_EQ(LoadMedias(), 1);
  const MediaRecord& m = Media(0);
  EXPECT_EQ(std::string(m.MediaName, 100), std::string(99, 'n') + '\0');
  EXPECT_EQ(std::string(m.MediaCode, 10), std::string("123456789\0", 10));
  EXPECT_EQ(int32_t{m.Class},
            kSong);  // the class of the stored code, 123456789
  EXPECT_EQ(FieldText(m.TextA, sizeof m.TextA), "artist");
  EXPECT_EQ(std::string(m.TextB, 20),
            std::string("Cantonese-and-more-") + '\0');
  EXPECT_EQ(int32_t{m.NumberA}, 77);
  EXPECT_EQ(int32_t{m.NumberB}, 2);
  EXPECT_EQ(int32_t{m.NumberC}, 13);
  EXPECT_EQ(int32_t{m.GroupId}, 1);
}

TEST_F(MediaLoaderTest, FileListKeeps768BytesAndStillTakesALaterShorterPath) {
  const std::string p500(500, 'a'), p300(300, 'b'), p200(200, 'c'),
      p64(64, 'd');
  AddMedia(8, "1");
  AddFile(8, 1, p500);
  AddFile(8, 2, p300);                  // 501 + 300 + 2 > 768: skipped
  AddFile(8, 3, p200);                  // fits: ends at 702
  AddFile(8, 4, std::string(65, 'e'));  // 702 + 65 + 2 = 769: one byte too many
  AddFile(8, 5, p64);                   // 702 + 64 + 2 = 768: fits exactly
  AddFile(8, 6, "z");                   // nothing fits any more
  AddMedia(9, "2");
  AddFile(9, 1, std::string(767, 'e'));  // too long to be stored alone
  AddFile(9, 2, "y");
  AddMedia(10, "3");
  AddFile(10, 1, std::string(766, 'f'));  // the longest path stored alone
  AddMedia(11, "4");
  AddFile(11, 1,
          std::string(3000, 'g'));  // longer than the 2048-byte column buffer

  ASSERT_EQ(LoadMedias(), 4);
  EXPECT_EQ(FileListPaths(Media(0)), (Paths{p500, p200, p64}));
  EXPECT_EQ(Media(0).FileList[766], '\0');
  EXPECT_EQ(Media(0).FileList[767], '\0');
  EXPECT_EQ(FileListPaths(Media(1)), (Paths{"y"}));
  EXPECT_EQ(FileListPaths(Media(2)), (Paths{std::string(766, 'f')}));
  EXPECT_EQ(Media(2).FileList[766], '\0');
  EXPECT_EQ(Media(2).FileList[767], '\0');
  EXPECT_EQ(FileListPaths(Media(3)), Paths{});
}

TEST_F(MediaLoaderTest, ClassAndPrefix86ListFollowTheCode) {
  const std::vector<std::pair<std::string, int32_t>> codes = {
      {"9999", kSong},    {"10000", kFilm},   {"11999", kFilm},
      {"12000", kSong},   {"29999", kSong},   {"30000", kAd},
      {"30999", kAd},     {"31000", kSong},   {"99999", kSong},
      {"100000", kFilm},  {"199999", kFilm},  {"200000", kSong},
      {"2999999", kSong}, {"3000000", kAd},   {"3999999", kAd},
      {"4000000", kSong}, {"8000001", kSong}, {"6000002", kSong},
      {"7000003", kSong}, {"800004", kSong},  {"80000005", kSong},
      {"", kSong},        {"x10000", kSong},  {"6100000", kSong}};
  int id = 100;
  for (const auto& code : codes) {
    AddMedia(id, code.first, "m" + std::to_string(id));
    AddFile(id, 1, "f");
    AddFile(id, 2,
            "g");  // a continuation row never adds a second Prefix86 entry
    ++id;
  }
  ASSERT_EQ(LoadMedias(), static_cast<int>(codes.size()));
  for (size_t i = 0; i < codes.size(); ++i) {
    EXPECT_EQ(int32_t{Media(static_cast<int>(i)).Class}, codes[i].second)
        << "code " << codes[i].first;
  }
  // 8000001, 6000002 and 6100000 (ids 116, 117, 123), in catalogue order.
  EXPECT_EQ(Prefix86(), (std::vector<int32_t>{116, 117, 123}));

  // A second load starts the list afresh.
  ResetCatalogue();
  ASSERT_EQ(LoadMedias(), static_cast<int>(codes.size()));
  EXPECT_EQ(Prefix86(), (std::vector<int32_t>{116, 117, 123}));
}

TEST_F(MediaLoaderTest,
       GroupingCarriesAcrossResultSetsAndOnlyJoinsTheLastRecord) {
  ReplaceProcedure("sp_getmediainfobyvideoserver",
                   "SELECT 5, 'n5', '8000001', 0, 0, '', '', 0, 0, 'a';"
                   "SELECT 5, 'other', '10000', 0, 0, '', '', 0, 0, 'b' "
                   "UNION ALL SELECT 6, 'n6', '30000', 0, 0, '', '', 0, 0, 'c';"
                   "SELECT 5, 'n5', '8000001', 0, 0, '', '', 0, 0, 'd';");
  ASSERT_EQ(LoadMedias(), 3);
  EXPECT_EQ(int32_t{Media(0).MediaId}, 5);
  EXPECT_EQ(FileListPaths(Media(0)), (Paths{"a", "b"}));
  EXPECT_EQ(FieldText(Media(0).MediaName, 100),
            "n5");  // the first row's columns
  EXPECT_EQ(int32_t{Media(0).Class}, kSong);
  EXPECT_EQ(int32_t{Media(1).MediaId}, 6);
  EXPECT_EQ(int32_t{Media(2).MediaId}, 5);
  EXPECT_EQ(FileListPaths(Media(2)), (Paths{"d"}));
  EXPECT_EQ(Prefix86(), (std::vector<int32_t>{5, 5}));
}

TEST_F(MediaLoaderTest, RowsBeyond100000RecordsAreReadAndDropped) {
  venue_.Exec(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i "
      "< 100001) "
      "INSERT INTO medias(media_id, media_name, media_code) "
      "SELECT i, 'm' || i, printf('%07d', 4000000 + i) FROM n");
  venue_.Exec(
      "INSERT INTO media_files SELECT 1, media_id, 1, 'f' || media_id FROM "
      "medias;"
      "INSERT INTO media_files SELECT 1, media_id, 2, 'g' FROM medias WHERE "
      "media_id > 99999");
  ASSERT_EQ(LoadMedias(), kMediaCapacity);
  EXPECT_EQ(int32_t{Media(0).MediaId}, 1);
  EXPECT_EQ(int32_t{Media(kMediaCapacity - 1).MediaId}, 100000);
  // Even the continuation row of the last record arrives after the table is
  // full.
  EXPECT_EQ(FileListPaths(Media(kMediaCapacity - 1)), (Paths{"f100000"}));
  // The request was read to its end: the server saw it finish.
  auto requests = Requests("rpc", "sp_getmediainfobyvideoserver");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(*requests[0][1], "1");
}

TEST_F(MediaLoaderTest, GbkNameBytesArriveUnchanged) {
  const std::string gbk = "\xD6\xDC\xBD\xDC\xC2\xD7 \xC7\xE0\xBB\xA8\xB4\xC9";
  venue_.Exec(
      "INSERT INTO medias(media_id, media_name, media_code) VALUES(3, " +
      SqlBytes(gbk) + ", '20001')");
  const std::string path = "\\\\fs1\\\xB8\xE8\\\xD6\xDC.mpg";
  venue_.Exec("INSERT INTO media_files VALUES(1, 3, 1, " + SqlBytes(path) +
              ")");
  ASSERT_EQ(LoadMedias(), 1);
  EXPECT_EQ(std::string(Media(0).MediaName, gbk.size() + 1), gbk + '\0');
  EXPECT_EQ(FileListPaths(Media(0)), (Paths{path}));
}

TEST_F(MediaLoaderTest, FailuresAnswerMinusOne) {
  AddMedia(5, "1");
  AddFile(5, 1, "a");
  FailProcedure("sp_getmediainfobyvideoserver");
  EXPECT_EQ(LoadMedias(), -1);

  ResetCatalogue();
  PointAtNothing();
  g_catalogue.prefix86_list.count = 3;
  EXPECT_EQ(LoadMedias(), -1);
  EXPECT_EQ(g_catalogue.prefix86_list.count,
            0);  // emptied before the connection
}

TEST_F(MediaLoaderTest, ConnectionLostMidResultFailsButKeepsStoredRecords) {
  for (int id = 1; id <= 10; ++id) {
    AddMedia(id, std::to_string(id));
    AddFile(id, 1, "p");
  }
  venue_.Exec(
      "INSERT INTO vdb_faults VALUES('close_after_rows', "
      "'sp_getmediainfobyvideoserver', 4)");
  EXPECT_EQ(LoadMedias(), -1);
  EXPECT_EQ(int32_t{Media(0).MediaId}, 1);
  EXPECT_EQ(int32_t{Media(3).MediaId}, 4);
  EXPECT_EQ(int32_t{Media(4).MediaId}, 0);
  // A later reset clears what the failed load wrote.
  ResetCatalogue();
  EXPECT_EQ(int32_t{Media(0).MediaId}, 0);
  EXPECT_EQ(FileListPaths(Media(3)), Paths{});
}

}  // namespace
}  // namespace testing
}  // namespace rondel
