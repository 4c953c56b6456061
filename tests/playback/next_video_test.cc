// GetNextVideo against venuedb through real FreeTDS: the selection, the
// advertisement fall-back, the server lists and both server choices, with the
// clock fixed so that every random draw is known, the datagrams in order, and
// the exchanges as the server's journal saw them.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "catalogue/media_index.h"
#include "catalogue_records.h"
#include "database_test.h"
#include "frame/settings.h"
#include "platform/clock_test_hooks.h"
#include "rondel.h"
#include "test_system.h"
#include "udp_receiver.h"

namespace rondel {
namespace {

using testing::SetEnv;

// Seconds whose first draw is even (3304; mod 3: 1), odd (3307), and one whose
// first draw modulo 3 is 2 (28466).
constexpr int64_t kEvenSecond = 1000;
constexpr int64_t kOddSecond = 1001;
constexpr int64_t kThirdOfThreeSecond = 1700000001;
// Tick 7: the advertisement's sequence number is 61.
constexpr uint32_t kTick = 7;

// A procedure body returning these (count, address) rows in columns 3 and 4.
std::string CountedRows(const std::vector<std::pair<int, std::string>>& rows) {
  if (rows.empty()) return "SELECT 1, 2, 3, '4' WHERE 0";
  std::string sql;
  for (const auto& [count, address] : rows) {
    sql += (sql.empty() ? "SELECT " : " UNION ALL SELECT ") +
           std::string("0, 0, ") + std::to_string(count) + ", '" + address +
           "'";
  }
  return sql;
}

// A procedure body returning these addresses in column 3.
std::string UncountedRows(const std::vector<std::string>& addresses) {
  if (addresses.empty()) return "SELECT 1, 2, '3' WHERE 0";
  std::string sql;
  for (const std::string& address : addresses) {
    sql += (sql.empty() ? "SELECT " : " UNION ALL SELECT ") +
           std::string("0, 0, '") + address + "'";
  }
  return sql;
}

const char kFail[] = "FAIL";

struct Case {
  const char* name;
  int selected;           // "@media_id" of the selection
  const char* ad;         // body of the advertisement procedure
  std::string counted;    // body, or kFail
  std::string uncounted;  // body, or kFail
  int64_t second;         // the fixed calendar second
  const char* file_server_ip;
  int result;
  const char* url;
  const char* kind;
  std::vector<std::string> datagrams;
  int counted_closes_after_rows = -1;  // the counted attempt's connection dies
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

const char kAdBody[] = "SELECT 103 AS \"@media_id\", 0 AS \"@@return\"";
const std::vector<std::string> kSelected = {
    "GetNextVideo begin", "heve select media", "GetNextVideo good return"};

std::vector<std::string> Then(std::vector<std::string> head,
                              std::vector<std::string> tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

const Case kCases[] = {
    {"SelectedFilmLeastLoaded", 101, kAdBody,
     CountedRows({{5, "10.0.0.1"}, {2, "10.0.0.2"}, {9, "10.0.0.3"}}), kFail,
     kEvenSecond, "10.9.9.9", 1, "vsp://10.0.0.2/|||101", "film", kSelected},
    {"SelectedSong", 102, kAdBody, CountedRows({{0, "10.0.0.1"}}), kFail,
     kEvenSecond, "10.9.9.9", 1, "vsp://10.0.0.1/|||102", "song", kSelected},
    {"SelectedAdClassIsAd", 103, kAdBody, CountedRows({{0, "10.0.0.1"}}), kFail,
     kEvenSecond, "", 1, "vsp://10.0.0.1/|||103", "ad", kSelected},
    {"TieGoesToTheLaterServerOnAnEvenDraw", 101, kAdBody,
     CountedRows({{3, "10.0.0.1"}, {3, "10.0.0.2"}}), kFail, kEvenSecond, "", 1,
     "vsp://10.0.0.2/|||101", "film", kSelected},
    {"TieStaysOnAnOddDraw", 101, kAdBody,
     CountedRows({{3, "10.0.0.1"}, {3, "10.0.0.2"}}), kFail, kOddSecond, "", 1,
     "vsp://10.0.0.1/|||101", "film", kSelected},
    {"OnlyTheCoinReachesTheThreshold", 101, kAdBody,
     CountedRows({{10000, "10.0.0.1"}, {10001, "10.0.0.2"}}), kFail,
     kEvenSecond, "10.9.9.9", 1, "vsp://10.0.0.1/|||101", "film", kSelected},
    {"AllAboveTheThresholdTakeFileServerIp", 101, kAdBody,
     CountedRows({{10001, "10.0.0.1"}, {20000, "10.0.0.2"}}), kFail,
     kEvenSecond, "10.9.9.9", 1, "vsp://10.9.9.9/|||101", "film", kSelected},
    {"NoCountedRowsTakeFileServerIp", 101, kAdBody, CountedRows({}), kFail,
     kEvenSecond, "10.9.9.9", 1, "vsp://10.9.9.9/|||101", "film", kSelected},
    {"EmptyAddressAtTheBestEntry", 101, kAdBody,
     CountedRows({{5, "10.0.0.1"}, {1, ""}}), kFail, kEvenSecond, "10.9.9.9", 1,
     "vsp://10.9.9.9/|||101", "film", kSelected},
    {"EmptyFileServerIpJoinsDirectly", 101, kAdBody, CountedRows({}), kFail,
     kEvenSecond, "", 1, "vsp:///|||101", "film", kSelected},
    {"UncountedRandomEntry", 101, kAdBody, kFail,
     UncountedRows({"10.0.1.1", "10.0.1.2", "10.0.1.3"}), kThirdOfThreeSecond,
     "10.9.9.9", 1, "vsp://10.0.1.3/|||101", "film",
     Then(kSelected, {"random", "10.0.1.3"})},
    {"UncountedEmptyAfterAnAbandonedCountedAttempt", 101, kAdBody,
     CountedRows({{1, "10.0.0.7"}, {2, "10.0.0.8"}}), UncountedRows({}),
     kEvenSecond, "10.9.9.9", 1, "vsp://10.0.0.7/|||101", "film",
     Then(kSelected, {"random", "10.0.0.7"}), 1},
    {"UncountedEmptyTakesFileServerIp", 101, kAdBody, kFail, UncountedRows({}),
     kEvenSecond, "10.9.9.9", 1, "vsp://10.9.9.9/|||101", "film",
     Then(kSelected, {"random", ""})},
    {"BothListsFailSelectionPlaysFromFileServerIp", 101, kAdBody, kFail, kFail,
     kEvenSecond, "10.9.9.9", 1, "vsp://10.9.9.9/|||101", "film",
     Then(kSelected, {"can not Get Group info"})},
    {"BothListsFailWithoutFileServerIp", 101, kAdBody, kFail, kFail,
     kEvenSecond, "", 0, "vsp://", "film",
     Then(kSelected, {"can not Get Group info"})},
    {"BothListsFailAdvertisementPlaysFromFileServerIp",
     0,
     kAdBody,
     kFail,
     kFail,
     kEvenSecond,
     "10.9.9.9",
     1,
     "vsp://10.9.9.9/|||103",
     "ad",
     {"GetNextVideo begin", "Return status = 0", "GetNextVideo good return",
      "can not Get Group info"}},
    {"GroupZero", 104, kAdBody, kFail, kFail, kEvenSecond, "10.9.9.9", 0,
     "vsp://", "film", Then(kSelected, {"can not Get Group ID"})},
    {"SelectionNotInCatalogue",
     555,
     kAdBody,
     kFail,
     kFail,
     kEvenSecond,
     "",
     0,
     "untouched",
     "untouched",
     {"GetNextVideo begin", "heve select media",
      "get select mdedia info error"}},
    {"AdvertisementWhenNothingSelected",
     0,
     kAdBody,
     CountedRows({{1, "10.0.0.1"}}),
     kFail,
     kEvenSecond,
     "",
     1,
     "vsp://10.0.0.1/|||103",
     "ad",
     {"GetNextVideo begin", "Return status = 0", "GetNextVideo good return"}},
    {"AdvertisementOfAFilmIsAnAd",
     -3,
     "SELECT -101 AS \"@media_id\"",
     CountedRows({{1, "10.0.0.1"}}),
     kFail,
     kEvenSecond,
     "",
     1,
     "vsp://10.0.0.1/|||-101",
     "ad",
     {"GetNextVideo begin", "Return status = 0", "GetNextVideo good return"}},
    {"NoAdvertisement",
     0,
     "SELECT 0 AS \"@media_id\", -6 AS \"@@return\"",
     kFail,
     kFail,
     kEvenSecond,
     "",
     0,
     "untouched",
     "untouched",
     {"GetNextVideo begin", "Return status = -6", "get ad media error"}},
    {"AdvertisementQueryFails",
     0,
     kFail,
     kFail,
     kFail,
     kEvenSecond,
     "",
     0,
     "untouched",
     "untouched",
     {"GetNextVideo begin", "get ad media error"}},
    {"AdvertisementNotInCatalogue",
     0,
     "SELECT 999 AS \"@media_id\"",
     kFail,
     kFail,
     kEvenSecond,
     "",
     0,
     "untouched",
     "untouched",
     {"GetNextVideo begin", "Return status = 0", "get ad media info error"}},
};

class NextVideoTest : public testing::DatabaseTest,
                      public ::testing::WithParamInterface<Case> {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    ASSERT_TRUE(diag_.ok());
    SetEnv("RONDEL_DIAG_TARGET", diag_.target());
    testing::AddMedia(101, kFilm, "film").GroupId = 2;
    testing::AddMedia(102, kSong, "song").GroupId = 2;
    testing::AddMedia(103, kAd, "ad").GroupId = 2;
    testing::AddMedia(104, kFilm, "no group").GroupId = 0;
    testing::AddMedia(-101, kFilm, "negative").GroupId = 2;
    RebuildLookupIndexes();
  }
  void TearDown() override { platform::ClearClockOverride(); }

  void Define(const char* name, const std::string& params,
              const std::string& body) {
    if (body == kFail) {
      DefineProcedure(name, params, "SELECT 1");
      FailProcedure(name);
    } else {
      DefineProcedure(name, params, body);
    }
  }

  // Every datagram sent so far (they are in the socket when the call returns).
  std::vector<std::string> Datagrams() {
    std::vector<std::string> texts;
    std::string payload;
    while (diag_.Receive(&payload, 100)) texts.push_back(payload);
    return texts;
  }

  testing::UdpReceiver diag_;
};

TEST_P(NextVideoTest, AnswersAndDatagrams) {
  const Case& c = GetParam();
  Define("spm_getplayingmedia",
         "@userip varchar(20) = NULL, @media_id int = 0 OUTPUT",
         "SELECT " + std::to_string(c.selected) + " AS \"@media_id\"");
  Define("spm_getadsfilepath",
         "@sequence int = 0, @room_id int = 0, @room_ipaddress varchar(20) = "
         "NULL, @media_id int = 0 OUTPUT",
         c.ad);
  Define("sp_getfileserverconnectioninfo", "@group_id int = NULL", c.counted);
  Define("sp_getfileservers", "@groupID int = NULL", c.uncounted);
  if (c.counted_closes_after_rows >= 0) {
    venue_.Exec(
        "INSERT INTO vdb_faults VALUES('close_after_rows', "
        "'sp_getfileserverconnectioninfo', " +
        std::to_string(c.counted_closes_after_rows) + ")");
  }
  StoreFileServerIp(c.file_server_ip);
  platform::OverrideClock(kTick, c.second);

  char url[64] = "untouched";
  char kind[16] = "untouched";
  char name[100] = "";
  EXPECT_EQ(GetNextVideo("10.30.0.1", name, nullptr, url, kind, nullptr,
                         nullptr, nullptr, nullptr, nullptr),
            c.result);
  EXPECT_EQ(std::vector<std::string>({url, kind}),
            std::vector<std::string>({c.url, c.kind}));
  EXPECT_EQ(Datagrams(), c.datagrams);
}

INSTANTIATE_TEST_SUITE_P(Paths, NextVideoTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

class NextVideoWireTest : public NextVideoTest {};

// The exchanges of a call that needs everything: no selection, an
// advertisement, the counted list failing and the uncounted one answering.
TEST_F(NextVideoWireTest, ExchangesCarryTheirParametersInOrder) {
  Define("spm_getplayingmedia",
         "@userip varchar(20) = NULL, @media_id int = 0 OUTPUT",
         "SELECT 0 AS \"@media_id\"");
  Define("spm_getadsfilepath",
         "@sequence int = 0, @room_id int = 0, @room_ipaddress varchar(20) = "
         "NULL, @media_id int = 0 OUTPUT",
         kAdBody);
  Define("sp_getfileserverconnectioninfo", "@group_id int = NULL", kFail);
  Define("sp_getfileservers", "@groupID int = NULL",
         UncountedRows({"10.0.1.1"}));
  platform::OverrideClock(kTick, kEvenSecond);
  char url[64], kind[8];
  ASSERT_EQ(GetNextVideo("10.30.0.1", nullptr, nullptr, url, kind, nullptr,
                         nullptr, nullptr, nullptr, nullptr),
            1);
  std::string wire;
  for (const testing::Row& r : venue_.Query(
           "SELECT j.text, p.name, p.type, p.output, coalesce(p.value, 'NULL') "
           "FROM vdb_journal j JOIN vdb_journal_params p ON p.journal_id = "
           "j.id WHERE j.kind = 'rpc' ORDER BY j.id, p.ordinal")) {
    for (const auto& v : r) wire += v.value_or("?") + " ";
    wire += "\n";
  }
  EXPECT_EQ(wire,
            "spm_getplayingmedia @userip varchar 0 10.30.0.1 \n"
            "spm_getplayingmedia @media_id int 1 0 \n"
            "spm_getadsfilepath @sequence int 0 61 \n"
            "spm_getadsfilepath @room_id int 0 0 \n"
            "spm_getadsfilepath @room_ipaddress varchar 0 10.30.0.1 \n"
            "spm_getadsfilepath @media_id int 1 0 \n"
            "sp_getfileserverconnectioninfo @group_id int 0 2 \n"
            "sp_getfileservers @groupID int 0 2 \n");
  // Four exchanges, four logins: the two list attempts on two connections.
  EXPECT_EQ(venue_.Query("SELECT count(*) FROM vdb_connections")[0][0], "4");
}

TEST_F(NextVideoWireTest, MoreThanTwentyRowsKeepTheFirstTwenty) {
  // The twentieth row is the least loaded of the first twenty; the five after
  // it, less loaded still, are read and dropped.
  std::vector<std::pair<int, std::string>> rows;
  for (int i = 0; i < 25; ++i) {
    rows.push_back({i < 20 ? 100 - i : 0, "10.0.2." + std::to_string(i)});
  }
  Define("spm_getplayingmedia",
         "@userip varchar(20) = NULL, @media_id int = 0 OUTPUT",
         "SELECT 101 AS \"@media_id\"");
  Define("sp_getfileserverconnectioninfo", "@group_id int = NULL",
         CountedRows(rows));
  char url[64], kind[8];
  ASSERT_EQ(GetNextVideo("10.30.0.1", nullptr, nullptr, url, kind, nullptr,
                         nullptr, nullptr, nullptr, nullptr),
            1);
  EXPECT_STREQ(url, "vsp://10.0.2.19/|||101");
}

}  // namespace
}  // namespace rondel
