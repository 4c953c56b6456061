// The fire-alarm video and page through the exports, against venuedb over real
// FreeTDS: the procedures' rows decide the answer, the journal shows what was
// asked.
#include <gtest/gtest.h>

#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "database_test.h"
#include "frame/settings.h"
#include "rondel.h"

namespace rondel {
namespace {

using testing::Row;
using testing::Sql;

// Rows of sp_lookupfirealerts, one per file name in order (column 12), for the
// player at 10.1.1.7 only.
std::string Entries(std::initializer_list<std::string> files) {
  std::string body;
  for (const std::string& file : files) {
    if (!body.empty()) body += " UNION ALL ";
    body += "SELECT 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 'MPEG1', " + Sql(file) +
            " WHERE @ipaddress = '10.1.1.7'";
  }
  return body;
}

// Rows of sp_getfirealertdefaultvideofile, one per file name (column 1).
std::string Defaults(std::initializer_list<std::string> files) {
  std::string body = "SELECT 'none' AS default_video_file WHERE 0";
  for (const std::string& file : files)
    body += " UNION ALL SELECT " + Sql(file);
  return body;
}

class FireAlarmTest : public testing::DatabaseTest {
 protected:
  // "result url format1 format2" after one call on outputs that start as
  // "(url)", "(f1)" and "(f2)".
  std::string Video(const char* address) {
    char url[282] = "(url)";
    char format1[6] = "(f1)";
    char format2[5] = "(f2)";
    int result = GetFirealarmVideo(address, url, format1, format2);
    return std::to_string(result) + " " + url + " " + format1 + " " + format2;
  }
  // "result page" on an output that starts as "(page)".
  std::string Page(const char* address) {
    char page[100] = "(page)";
    int result = GetFirealarmPage(address, page);
    return std::to_string(result) + " " + page;
  }
  // The procedures called, in order, comma-separated.
  std::string ProceduresCalled() {
    std::string called;
    for (const Row& row : venue_.Query(
             "SELECT text FROM vdb_journal WHERE kind = 'rpc' ORDER BY id")) {
      called += (called.empty() ? "" : ",") + row[0].value_or("?");
    }
    return called;
  }
};

struct VideoCase {
  const char* name;
  std::string lookup;    // body of sp_lookupfirealerts
  std::string fallback;  // body of sp_getfirealertdefaultvideofile
  const char* address;
  const char* file_server_ip;
  std::string answer;  // as FireAlarmTest::Video gives it
  const char* called;  // as ProceduresCalled gives it
};

void PrintTo(const VideoCase& c, std::ostream* os) { *os << c.name; }

const char kBoth[] = "sp_lookupfirealerts,sp_getfirealertdefaultvideofile";
const std::string kLongName(300, 'n');

class FireAlarmVideoTest : public FireAlarmTest,
                           public ::testing::WithParamInterface<VideoCase> {};

TEST_P(FireAlarmVideoTest, AnswersFromTheEntryElseTheDefault) {
  const VideoCase& c = GetParam();
  ReplaceProcedure("sp_lookupfirealerts", c.lookup);
  ReplaceProcedure("sp_getfirealertdefaultvideofile", c.fallback);
  StoreFileServerIp(c.file_server_ip);
  EXPECT_EQ(Video(c.address), c.answer);
  EXPECT_EQ(ProceduresCalled(), c.called);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FireAlarmVideoTest,
    ::testing::Values(
        VideoCase{"EntryNamesTheFile", Entries({"fire/exit_a.mpg"}),
                  Defaults({"fire/all.mpg"}), "10.1.1.7", "10.9.9.9",
                  "1 vsp://10.9.9.9/fire/exit_a.mpg MPEG1 MPEG",
                  "sp_lookupfirealerts"},
        VideoCase{"NoEntryPlaysTheDefault", Entries({"fire/exit_a.mpg"}),
                  Defaults({"fire/all.mpg"}), "10.1.1.8", "10.9.9.9",
                  "1 vsp://10.9.9.9/fire/all.mpg MPEG1 MPEG", kBoth},
        VideoCase{"EntriesWithoutNamesPlayTheDefault", Entries({"", ""}),
                  Defaults({"fire/all.mpg"}), "10.1.1.7", "10.9.9.9",
                  "1 vsp://10.9.9.9/fire/all.mpg MPEG1 MPEG", kBoth},
        VideoCase{"FailingLookupPlaysTheDefault", "SELECT no_such_column",
                  Defaults({"fire/all.mpg"}), "10.1.1.7", "10.9.9.9",
                  "1 vsp://10.9.9.9/fire/all.mpg MPEG1 MPEG", kBoth},
        VideoCase{"NoNameAnywhereLeavesTheOutputs",
                  Entries({"fire/exit_a.mpg"}), Defaults({""}), "10.1.1.8",
                  "10.9.9.9", "0 (url) (f1) (f2)", kBoth},
        VideoCase{"LastNamedEntryWins",
                  Entries({"fire/exit_a.mpg", "fire/exit_b.mpg"}),
                  Defaults({"fire/all.mpg"}), "10.1.1.7", "10.9.9.9",
                  "1 vsp://10.9.9.9/fire/exit_b.mpg MPEG1 MPEG",
                  "sp_lookupfirealerts"},
        VideoCase{"TrailingEntryWithoutNameKeepsTheNamedFile",
                  Entries({"fire/exit_a.mpg", ""}), Defaults({"fire/all.mpg"}),
                  "10.1.1.7", "10.9.9.9",
                  "1 vsp://10.9.9.9/fire/exit_a.mpg MPEG1 MPEG",
                  "sp_lookupfirealerts"},
        VideoCase{"TrailingDefaultWithoutNameKeepsTheNamedFile",
                  Entries({"fire/exit_a.mpg"}), Defaults({"fire/all.mpg", ""}),
                  "10.1.1.8", "10.9.9.9",
                  "1 vsp://10.9.9.9/fire/all.mpg MPEG1 MPEG", kBoth},
        VideoCase{"EmptyFileServerLeavesTheSlash", Entries({"fire/exit_a.mpg"}),
                  Defaults({"fire/all.mpg"}), "10.1.1.7", "",
                  "1 vsp:///fire/exit_a.mpg MPEG1 MPEG", "sp_lookupfirealerts"},
        VideoCase{"LongestUrlFillsItsBuffer", Entries({kLongName}),
                  Defaults({"fire/all.mpg"}), "10.1.1.7", "10.100.100.200:5540",
                  "1 vsp://10.100.100.200:5540/" + kLongName.substr(0, 255) +
                      " MPEG1 MPEG",
                  "sp_lookupfirealerts"}),
    [](const ::testing::TestParamInfo<VideoCase>& info) {
      return std::string(info.param.name);
    });

struct PageCase {
  const char* name;
  std::string body;  // of sp_getfirealerthomepage
  const char* address;
  std::string answer;  // as FireAlarmTest::Page gives it
};

void PrintTo(const PageCase& c, std::ostream* os) { *os << c.name; }

const std::string kLongPage(150, 'p');

const char kThreePages[] =
    "SELECT 'fire/p1.htm' AS home_page UNION ALL SELECT 'fire/p2.htm' "
    "UNION ALL SELECT 'fire/p3.htm'";

class FireAlarmPageTest : public FireAlarmTest,
                          public ::testing::WithParamInterface<PageCase> {};

TEST_P(FireAlarmPageTest, AnswersTheLastRowsPage) {
  ReplaceProcedure("sp_getfirealerthomepage", GetParam().body);
  EXPECT_EQ(Page(GetParam().address), GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FireAlarmPageTest,
    ::testing::Values(
        PageCase{"ThreeRowsGiveTheThird", kThreePages, "10.1.1.7",
                 "1 fire/p3.htm"},
        PageCase{"EmptyAddressGivesTheSame", kThreePages, "", "1 fire/p3.htm"},
        PageCase{"NullAddressGivesTheSame", kThreePages, nullptr,
                 "1 fire/p3.htm"},
        PageCase{"OneEmptyRowIsFound", "SELECT '' AS home_page", "10.1.1.7",
                 "1 "},
        PageCase{"NoRowLeavesTheOutput", "SELECT 'x' AS home_page WHERE 0",
                 "10.1.1.7", "0 (page)"},
        PageCase{"LongPageIsCutToItsBuffer", "SELECT " + Sql(kLongPage),
                 "10.1.1.7", "1 " + kLongPage.substr(0, 99)}),
    [](const ::testing::TestParamInfo<PageCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(FireAlarmTest, AddressGoesAsVarcharAndEmptyOrNullAsNull) {
  ReplaceProcedure("sp_lookupfirealerts", Entries({"fire/exit_a.mpg"}));
  ReplaceProcedure("sp_getfirealertdefaultvideofile", Defaults({}));
  Video("10.1.1.8");
  Video("");
  Video(nullptr);
  Page("10.1.1.8");
  // Every call with its parameters: name, type, output flag, NULL flag, value.
  EXPECT_EQ(
      venue_.Query("SELECT j.text, p.name, p.type, p.output, p.is_null, "
                   "p.value FROM vdb_journal j LEFT JOIN vdb_journal_params p "
                   "ON p.journal_id = j.id WHERE j.kind = 'rpc' "
                   "ORDER BY j.id, p.ordinal"),
      (std::vector<Row>{
          {"sp_lookupfirealerts", "@ipaddress", "varchar", "0", "0",
           "10.1.1.8"},
          {"sp_getfirealertdefaultvideofile", {}, {}, {}, {}, {}},
          {"sp_lookupfirealerts", "@ipaddress", "varchar", "0", "1", {}},
          {"sp_getfirealertdefaultvideofile", {}, {}, {}, {}, {}},
          {"sp_lookupfirealerts", "@ipaddress", "varchar", "0", "1", {}},
          {"sp_getfirealertdefaultvideofile", {}, {}, {}, {}, {}},
          {"sp_getfirealerthomepage", {}, {}, {}, {}, {}},
      }));
}

TEST_F(FireAlarmTest, NoConnectionAnswersZeroAndLeavesTheOutputs) {
  venue_.Stop();
  EXPECT_EQ(Video("10.1.1.7") + "|" + Page("10.1.1.7"),
            "0 (url) (f1) (f2)|0 (page)");
}

TEST_F(FireAlarmTest, NullOutputAnswersZeroWithoutAskingTheDatabase) {
  char url[282] = "(url)";
  char format1[6] = "(f1)";
  char format2[5] = "(f2)";
  EXPECT_EQ(GetFirealarmVideo("10.1.1.7", nullptr, format1, format2) +
                GetFirealarmVideo("10.1.1.7", url, nullptr, format2) +
                GetFirealarmVideo("10.1.1.7", url, format1, nullptr) +
                GetFirealarmPage("10.1.1.7", nullptr),
            0);
  EXPECT_EQ(std::string(url) + format1 + format2, "(url)(f1)(f2)");
  EXPECT_EQ(ProceduresCalled(), "");
}

}  // namespace
}  // namespace rondel
