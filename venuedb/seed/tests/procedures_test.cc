// The stored procedures: the parameters the library sends, and the columns,
// outputs and return statuses it reads, by position, from a seeded venue.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "venue_fixture.h"

namespace venuedb {
namespace {

// How the library sends a parameter: 'i' integer input, 's' text input, 'I'
// integer output, 'S' text output.
struct Sent {
  const char* name;
  char kind;
};

struct LibraryCall {
  const char* procedure;
  std::vector<Sent> params;
};

const std::vector<LibraryCall>& LibraryCalls() {
  static const std::vector<LibraryCall> calls = {
      {"sp_getmediainfobyvideoserver",
       {{"@i_ServerGroupid", 'i'}, {"@i_Serverid", 'i'}}},
      {"sp_getAllfileservers", {}},
      {"sp_getroomInfobyvideoserver", {}},
      {"spa_sequencemedia",
       {{"@num", 'i'},
        {"@isnewsong", 'i'},
        {"@len", 'i'},
        {"@soundsequence", 's'},
        {"@Media_HeadStroke", 's'},
        {"@Media_StrokeNum", 'i'},
        {"@language_id", 'i'},
        {"@language_name", 's'},
        {"@typeid", 'i'},
        {"@pagecount", 'i'},
        {"@room_id", 'i'},
        {"@room_serialno", 's'},
        {"@room_ipaddress", 's'},
        {"@media_name", 's'}}},
      {"spm_getplayingmedia", {{"@userip", 's'}, {"@media_id", 'I'}}},
      {"spm_getadsfilepath",
       {{"@sequence", 'i'},
        {"@room_id", 'i'},
        {"@room_ipaddress", 's'},
        {"@media_id", 'I'}}},
      {"sp_getfileserverconnectioninfo",
       {{"@group_id", 'i'}, {"@fileserver_id", 'i'}}},
      {"sp_getfileservers", {{"@groupID", 'i'}}},
      {"sp_getfileservers",
       {{"@id", 'i'},
        {"@ipaddress", 's'},
        {"@group_id", 'i'},
        {"@group_name", 's'}}},
      {"sp_lookupfirealerts", {{"@ipaddress", 's'}}},
      {"sp_getfirealertdefaultvideofile", {}},
      {"sp_getfirealerthomepage", {}},
      {"SP_SaveMediaOrderInfo",
       {{"@i_iMediaID", 'i'},
        {"@i_dtmBeginPlayingTime", 's'},
        {"@i_dtmEndPlayingTime", 's'},
        {"@i_strRoomIP", 's'},
        {"@i_strSongType", 'i'}}},
      {"sp_addlog",
       {{"@ipaddress", 's'},
        {"@media_id", 'i'},
        {"@tradelog_id", 'I'},
        {"@error_code", 'I'},
        {"@error_string", 'S'},
        {"@reserved", 's'}}},
      {"sp_modifylog",
       {{"@tradelog_id", 'i'},
        {"@error_code", 'I'},
        {"@error_string", 'S'},
        {"@reserved", 's'}}},
      {"sp_getauthorization",
       {{"@ipaddress", 's'},
        {"@media_id", 'i'},
        {"@error_code", 'I'},
        {"@error_string", 'S'},
        {"@reserved", 's'}}},
      {"sp_addfileserverconnectioninfo",
       {{"@group_id", 'i'},
        {"@fileserver_id", 'i'},
        {"@connection_count", 'i'},
        {"@fileserver_ipaddress1", 's'},
        {"@totalconnection_count", 'i'}}},
      {"sp_modifyfileserverconnectioninfo",
       {{"@group_id", 'i'},
        {"@fileserver_id", 'i'},
        {"@connection_count", 'i'},
        {"@fileserver_ipaddress1", 's'},
        {"@totalconnection_count", 'i'}}},
      {"sp_deletefileserverconnectioninfo",
       {{"@group_id", 'i'}, {"@fileserver_id", 'i'}}},
      {"sp_modifyservergroup", {{"@curid", 'i'}, {"@isvalid", 'i'}}},
  };
  return calls;
}

Cell I(int64_t n) { return Cell::Int(n); }
Cell S(const std::string& t) { return Cell::Text(t); }

class ProceduresTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SeedOptions options;
    options.db_path = "unused";
    options.medias = 600;
    options.rooms = 24;
    options.playlist_rows = 200;
    options.play_type = 7;
    db_ = SeededVenue(options);
    std::string error;
    ASSERT_TRUE(
        ParseProcedures(ReadSqlFile("procedures.sql"), &procedures_, &error))
        << error;
  }

  const ProcedureDef* Find(const std::string& name) {
    for (const ProcedureDef& p : procedures_) {
      if (p.name == name) return &p;
    }
    return nullptr;
  }

  // Calls a procedure and fails the test when it does not run.
  CallResult Call(const std::string& name,
                  const std::map<std::string, Cell>& args = {}) {
    const ProcedureDef* proc = Find(name);
    if (proc == nullptr) {
      ADD_FAILURE() << "no procedure " << name;
      return CallResult();
    }
    CallResult result = CallProcedure(db_.get(), *proc, args);
    EXPECT_TRUE(result.ok) << name << ": " << result.error;
    return result;
  }

  // The rows of the one result set a call sends.
  std::vector<std::vector<Cell>> Rows(
      const std::string& name, const std::map<std::string, Cell>& args = {}) {
    CallResult result = Call(name, args);
    EXPECT_EQ(result.results.size(), 1u) << name;
    return result.results.empty() ? std::vector<std::vector<Cell>>()
                                  : result.results[0].rows;
  }

  sqlite3* db() { return db_.get(); }

  DbHandle db_;
  std::vector<ProcedureDef> procedures_;
};

TEST_F(ProceduresTest, DeclareEveryParameterTheLibrarySends) {
  for (const LibraryCall& call : LibraryCalls()) {
    const ProcedureDef* proc = Find(call.procedure);
    ASSERT_NE(proc, nullptr) << call.procedure;
    size_t last_position = 0;
    for (const Sent& sent : call.params) {
      auto it =
          std::find_if(proc->params.begin(), proc->params.end(),
                       [&](const ParamDef& p) { return p.name == sent.name; });
      ASSERT_NE(it, proc->params.end()) << call.procedure << " " << sent.name;
      size_t position = static_cast<size_t>(it - proc->params.begin());
      EXPECT_GE(position, last_position)
          << call.procedure << " " << sent.name << " order";
      last_position = position;
      EXPECT_EQ(it->is_int, sent.kind == 'i' || sent.kind == 'I') << sent.name;
      EXPECT_EQ(it->output, sent.kind == 'I' || sent.kind == 'S') << sent.name;
    }
  }
  // Every parameter has a default, so a caller may leave any of them out.
  for (const ProcedureDef& proc : procedures_) {
    for (const ParamDef& p : proc.params)
      EXPECT_TRUE(p.has_default) << proc.name << p.name;
  }
  EXPECT_EQ(procedures_.size(),
            LibraryCalls().size() - 1);  // sp_getfileservers twice
}

TEST_F(ProceduresTest, MediaOfAGroupComeOneRowPerFileInMediaOrder) {
  auto rows = Rows("sp_getmediainfobyvideoserver",
                   {{"@i_ServerGroupid", I(1)}, {"@i_Serverid", I(1)}});
  auto expected =
      Query(db(),
            "SELECT f.media_id, m.media_name, m.media_code, m.stroke_count,"
            " m.artist_name, l.language_name, m.volume, m.vocal_channel,"
            " f.file_path FROM media_files f JOIN medias m USING (media_id)"
            " JOIN languages l USING (language_id) WHERE f.group_id = 1"
            " ORDER BY f.media_id, f.file_order");
  ASSERT_EQ(rows.size(), expected.size());
  ASSERT_GT(rows.size(), 300u);
  for (size_t r = 0; r < rows.size(); ++r) {
    ASSERT_GE(rows[r].size(), 10u);
    const auto& row = rows[r];
    const auto& want = expected[r];
    EXPECT_EQ(row[0].number, want[0].number);  // 1 media id
    EXPECT_EQ(row[1].text, want[1].text);      // 2 name
    EXPECT_EQ(row[2].text, want[2].text);      // 3 code
    EXPECT_EQ(row[3].number, want[3].number);  // 4 NumberC
    EXPECT_EQ(row[5].text, want[4].text);      // 6 TextA
    EXPECT_EQ(row[6].text, want[5].text);      // 7 TextB
    EXPECT_EQ(row[7].number, want[6].number);  // 8 NumberA
    EXPECT_EQ(row[8].number, want[7].number);  // 9 NumberB
    EXPECT_EQ(row[9].text, want[8].text);      // 10 file path
    for (int c : {0, 3, 7, 8})
      EXPECT_EQ(row[static_cast<size_t>(c)].kind, Cell::kInt);
    for (int c : {1, 2, 5, 6, 9})
      EXPECT_EQ(row[static_cast<size_t>(c)].kind, Cell::kText);
  }
  EXPECT_TRUE(
      Rows("sp_getmediainfobyvideoserver", {{"@i_ServerGroupid", I(99)}})
          .empty());
}

TEST_F(ProceduresTest, FileServersAndRoomsComeInTheirColumns) {
  auto servers = Rows("sp_getAllfileservers");
  ASSERT_EQ(servers.size(), 4u);
  EXPECT_EQ(servers[0][0].number, 1);
  EXPECT_EQ(servers[0][1].text, "127.0.0.1");
  EXPECT_EQ(servers[0][3].number, 1);
  for (const auto& row : servers) {
    ASSERT_GE(row.size(), 5u);
    EXPECT_EQ(row[2].kind, Cell::kInt);
    EXPECT_EQ(row[4].kind, Cell::kInt);
  }
  EXPECT_EQ(servers[2][1].text, "172.16.1.13");
  EXPECT_EQ(servers[2][3].number, 1);
  auto rooms = Rows("sp_getroomInfobyvideoserver");
  ASSERT_EQ(rooms.size(), 24u);
  EXPECT_EQ(rooms[0][0].number, 1);
  EXPECT_EQ(rooms[0][2].text, "10.0.1.10");
  EXPECT_EQ(rooms[0][3].number, 101);
  EXPECT_EQ(rooms[2][1].text, "Room 103");
}

std::map<std::string, Cell> SequenceArgs(int num, int isnewsong) {
  // What the library sends, with its database server address as the room
  // address.
  return {{"@num", I(num)},
          {"@isnewsong", I(isnewsong)},
          {"@len", I(0)},
          {"@soundsequence", {}},
          {"@Media_HeadStroke", {}},
          {"@Media_StrokeNum", I(0)},
          {"@language_id", I(0)},
          {"@language_name", {}},
          {"@typeid", I(1)},
          {"@pagecount", I(200)},
          {"@room_id", I(0)},
          {"@room_serialno", {}},
          {"@room_ipaddress", S("127.0.0.1")},
          {"@media_name", {}}};
}

TEST_F(ProceduresTest, SequenceListsFollowTheirCharts) {
  struct List {
    int num, isnewsong;
    const char* chart;
  };
  for (const List& list : {List{0, 0, "all"}, List{7, 0, "week"},
                           List{30, 0, "month"}, List{0, 1, "new"}}) {
    auto rows =
        Rows("spa_sequencemedia", SequenceArgs(list.num, list.isnewsong));
    auto chart = Query(
        db(),
        std::string("SELECT media_id FROM media_charts WHERE chart_name = '") +
            list.chart + "' ORDER BY chart_rank");
    ASSERT_EQ(rows.size(), 200u) << list.chart;
    for (size_t r = 0; r < rows.size(); ++r)
      EXPECT_EQ(rows[r][0].number, chart[r][0].number);
  }
  auto page = SequenceArgs(7, 0);
  page["@pagecount"] = I(5);
  EXPECT_EQ(Rows("spa_sequencemedia", page).size(), 5u);
  auto english = SequenceArgs(0, 0);
  english["@language_id"] = I(4);
  auto rows = Rows("spa_sequencemedia", english);
  ASSERT_FALSE(rows.empty());
  for (const auto& row : rows) {
    EXPECT_EQ(
        QueryInt(db(), "SELECT language_id FROM medias WHERE media_id = " +
                           std::to_string(row[0].number)),
        4);
  }
}

TEST_F(ProceduresTest, PlayingMediaHandsOutTheQueueOldestFirst) {
  auto playing = [&](const char* address) {
    return Call("spm_getplayingmedia",
                {{"@userip", S(address)}, {"@media_id", I(5)}})
        .params["@media_id"]
        .number;
  };
  auto queue = Query(db(),
                     "SELECT media_id FROM room_selections WHERE room_id = 1"
                     " ORDER BY queued_at, selection_id");
  ASSERT_FALSE(queue.empty());
  for (const auto& queued : queue)
    EXPECT_EQ(playing("10.0.1.10"), queued[0].number);
  EXPECT_EQ(playing("10.0.1.10"), 0);  // all handed out
  EXPECT_EQ(playing("10.0.1.11"), 0);  // room 2 has nothing queued
  EXPECT_EQ(playing("10.7.7.7"), 0);   // no room has this address
}

TEST_F(ProceduresTest, AdvertisementIsChosenBySequenceModuloTheirNumber) {
  auto ads = Query(db(),
                   "SELECT media_id FROM advertisements WHERE is_enabled = 1"
                   " ORDER BY sort_order, ad_id");
  ASSERT_GT(ads.size(), 2u);
  const int64_t n = static_cast<int64_t>(ads.size());
  for (int64_t sequence : {int64_t{0}, int64_t{1}, n, n + 2, int64_t{32767}}) {
    CallResult r =
        Call("spm_getadsfilepath", {{"@sequence", I(sequence)},
                                    {"@room_id", I(0)},
                                    {"@room_ipaddress", S("10.0.1.10")},
                                    {"@media_id", I(0)}});
    EXPECT_EQ(r.params["@media_id"].number,
              ads[static_cast<size_t>(sequence % n)][0].number);
    EXPECT_EQ(r.return_status, 0);
  }
  Query(db(), "UPDATE advertisements SET is_enabled = 0");
  CallResult none =
      Call("spm_getadsfilepath", {{"@sequence", I(3)}, {"@media_id", I(0)}});
  EXPECT_EQ(none.params["@media_id"].number, 0);
  EXPECT_EQ(none.return_status, -1);
}

TEST_F(ProceduresTest, ConnectionCountsAreAddedChangedListedAndDeleted) {
  auto listed = Rows("sp_getfileserverconnectioninfo", {{"@group_id", I(1)}});
  ASSERT_EQ(listed.size(), 2u);  // servers 1 and 3
  EXPECT_EQ(listed[0][0].number, 1);
  EXPECT_EQ(listed[0][3].text, "127.0.0.1");
  EXPECT_EQ(listed[0][2].kind, Cell::kInt);

  Call("sp_addfileserverconnectioninfo",
       {{"@group_id", I(1)},
        {"@fileserver_id", I(9)},
        {"@connection_count", I(7)},
        {"@fileserver_ipaddress1", S("10.9.9.9")},
        {"@totalconnection_count", I(50)}});
  auto one = Rows("sp_getfileserverconnectioninfo",
                  {{"@group_id", I(1)}, {"@fileserver_id", I(9)}});
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0][2].number, 7);
  EXPECT_EQ(one[0][3].text, "10.9.9.9");
  // A NULL address keeps the registered one.
  Call("sp_modifyfileserverconnectioninfo",
       {{"@group_id", I(1)},
        {"@fileserver_id", I(9)},
        {"@connection_count", I(12)},
        {"@fileserver_ipaddress1", Cell::Null()},
        {"@totalconnection_count", I(50)}});
  one = Rows("sp_getfileserverconnectioninfo",
             {{"@group_id", I(1)}, {"@fileserver_id", I(9)}});
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0][2].number, 12);
  EXPECT_EQ(one[0][3].text, "10.9.9.9");

  Call("sp_deletefileserverconnectioninfo",
       {{"@group_id", I(1)}, {"@fileserver_id", I(9)}});
  EXPECT_EQ(
      Rows("sp_getfileserverconnectioninfo", {{"@group_id", I(1)}}).size(), 2u);
  Call("sp_deletefileserverconnectioninfo", {{"@group_id", I(1)}});
  EXPECT_TRUE(
      Rows("sp_getfileserverconnectioninfo", {{"@group_id", I(1)}}).empty());
  EXPECT_EQ(
      Rows("sp_getfileserverconnectioninfo", {{"@group_id", I(2)}}).size(), 2u);
}

TEST_F(ProceduresTest, InvalidGroupListsNoServers) {
  Call("sp_modifyservergroup", {{"@curid", I(1)}, {"@isvalid", I(0)}});
  EXPECT_TRUE(
      Rows("sp_getfileserverconnectioninfo", {{"@group_id", I(1)}}).empty());
  EXPECT_TRUE(Rows("sp_getfileservers", {{"@groupID", I(1)}}).empty());
  Call("sp_modifyservergroup", {{"@curid", I(1)}, {"@isvalid", I(1)}});
  EXPECT_EQ(Rows("sp_getfileservers", {{"@groupID", I(1)}}).size(), 2u);

  CallResult unknown = CallProcedure(db(), *Find("sp_modifyservergroup"),
                                     {{"@curid", I(42)}, {"@isvalid", I(1)}});
  EXPECT_FALSE(unknown.ok);
  EXPECT_EQ(unknown.error, "server group 42 does not exist");
}

TEST_F(ProceduresTest, FileServersByGroupOrByIdHaveAddressAndGroupInPlace) {
  auto group = Rows("sp_getfileservers", {{"@groupID", I(2)}});
  ASSERT_EQ(group.size(), 2u);
  for (const auto& row : group) {
    ASSERT_GE(row.size(), 9u);
    EXPECT_EQ(row[8].number, 2);
    EXPECT_EQ(row[2].text.rfind("172.16.2.", 0), 0u) << row[2].text;
  }
  auto one = Rows("sp_getfileservers", {{"@id", I(3)},
                                        {"@ipaddress", Cell::Null()},
                                        {"@group_id", Cell::Null()},
                                        {"@group_name", Cell::Null()}});
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0][0].number, 3);
  EXPECT_EQ(one[0][2].text, "172.16.1.13");
  EXPECT_EQ(one[0][8].number, 1);
}

TEST_F(ProceduresTest, FireAlarmVideoPerAddressWithDefaultAndPage) {
  auto alerts = Rows("sp_lookupfirealerts", {{"@ipaddress", S("10.0.1.10")}});
  ASSERT_EQ(alerts.size(), 1u);
  ASSERT_GE(alerts[0].size(), 12u);
  EXPECT_EQ(alerts[0][11].text, "fire_floor1.mpg");
  // Room 5 also has a switched-off drill entry, which is not returned.
  auto room5 = Rows("sp_lookupfirealerts", {{"@ipaddress", S("10.0.1.14")}});
  ASSERT_EQ(room5.size(), 1u);
  EXPECT_EQ(room5[0][11].text, "fire_floor1.mpg");
  EXPECT_TRUE(
      Rows("sp_lookupfirealerts", {{"@ipaddress", S("10.0.1.11")}}).empty());
  EXPECT_TRUE(
      Rows("sp_lookupfirealerts", {{"@ipaddress", Cell::Null()}}).empty());
  auto fallback = Rows("sp_getfirealertdefaultvideofile");
  ASSERT_EQ(fallback.size(), 1u);
  EXPECT_EQ(fallback[0][0].text, "fire_default.mpg");
  auto page = Rows("sp_getfirealerthomepage");
  ASSERT_EQ(page.size(), 1u);
  EXPECT_EQ(page[0][0].text, "http://127.0.0.1/fire/evacuation.htm");
}

TEST_F(ProceduresTest, PlayIsRecordedAndCounted) {
  int64_t before =
      QueryInt(db(), "SELECT play_count FROM medias WHERE media_id = 4");
  CallResult r = Call("SP_SaveMediaOrderInfo",
                      {{"@i_iMediaID", I(4)},
                       {"@i_dtmBeginPlayingTime", S("2026-02-01 20:00:00")},
                       {"@i_dtmEndPlayingTime", S("2026-02-01 20:04:10")},
                       {"@i_strRoomIP", S("10.0.1.12")},
                       {"@i_strSongType", I(2)}});
  EXPECT_TRUE(r.results.empty());
  auto records =
      Query(db(),
            "SELECT media_id, begin_time, end_time, room_address, song_type"
            " FROM play_records");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0][0].number, 4);
  EXPECT_EQ(records[0][1].text, "2026-02-01 20:00:00");
  EXPECT_EQ(records[0][2].text, "2026-02-01 20:04:10");
  EXPECT_EQ(records[0][3].text, "10.0.1.12");
  EXPECT_EQ(records[0][4].number, 2);
  EXPECT_EQ(QueryInt(db(), "SELECT play_count FROM medias WHERE media_id = 4"),
            before + 1);
}

TEST_F(ProceduresTest, TradeLogsAreOpenedAndClosedWithErrorCodes) {
  std::map<std::string, Cell> add = {{"@ipaddress", S("10.0.1.10")},
                                     {"@media_id", I(8)},
                                     {"@tradelog_id", I(77)},
                                     {"@error_code", I(5)},
                                     {"@error_string", Cell::Null()}};
  CallResult first = Call("sp_addlog", add);
  EXPECT_EQ(first.params["@error_code"].number, 0);
  EXPECT_EQ(first.params["@error_string"].text, "");
  EXPECT_EQ(first.params["@error_string"].kind, Cell::kText);
  const int64_t id = first.params["@tradelog_id"].number;
  EXPECT_GT(id, 0);
  add.erase("@ipaddress");  // the library leaves out a null address
  CallResult second = Call("sp_addlog", add);
  EXPECT_EQ(second.params["@tradelog_id"].number, id + 1);
  EXPECT_EQ(
      Query(db(), "SELECT room_address FROM trade_logs WHERE tradelog_id = " +
                      std::to_string(id + 1))[0][0]
          .kind,
      Cell::kNull);

  add["@media_id"] = I(999999);
  CallResult missing = Call("sp_addlog", add);
  EXPECT_EQ(missing.params["@error_code"].number, 1);
  EXPECT_EQ(missing.params["@error_string"].text,
            "media 999999 does not exist");
  EXPECT_EQ(missing.params["@tradelog_id"].number, 0);
  EXPECT_EQ(QueryInt(db(), "SELECT count(*) FROM trade_logs"), 2);

  CallResult closed = Call("sp_modifylog", {{"@tradelog_id", I(id)},
                                            {"@error_code", I(9)},
                                            {"@error_string", Cell::Null()}});
  EXPECT_EQ(closed.params["@error_code"].number, 0);
  EXPECT_EQ(QueryInt(db(), "SELECT state FROM trade_logs WHERE tradelog_id = " +
                               std::to_string(id)),
            1);
  CallResult unknown =
      Call("sp_modifylog", {{"@tradelog_id", I(12345)}, {"@error_code", I(0)}});
  EXPECT_EQ(unknown.params["@error_code"].number, 2);
  EXPECT_EQ(unknown.params["@error_string"].text,
            "trade log 12345 does not exist");
}

TEST_F(ProceduresTest, AuthorizationFollowsTheMostSpecificRule) {
  auto rules = Query(db(),
                     "SELECT room_address, media_id FROM authorizations"
                     " ORDER BY authorization_id");
  ASSERT_EQ(rules.size(), 4u);
  const std::string room2 = rules[0][0].text;
  const int64_t film = rules[0][1].number;
  const int64_t withdrawn = rules[1][1].number;
  const std::string room3 = rules[2][0].text;
  const int64_t allowed_in_room3 = rules[3][1].number;
  auto ask = [&](const Cell& address, int64_t media) {
    std::map<std::string, Cell> args = {{"@media_id", I(media)},
                                        {"@error_code", I(0)},
                                        {"@error_string", Cell::Null()}};
    if (address.kind != Cell::kNull) args["@ipaddress"] = address;
    CallResult r = Call("sp_getauthorization", args);
    return std::make_pair(r.params["@error_code"].number,
                          r.params["@error_string"].text);
  };
  EXPECT_EQ(ask(S("10.0.1.10"), film),
            std::make_pair(int64_t{0}, std::string()));
  EXPECT_EQ(ask(S(room2), film),
            std::make_pair(int64_t{3},
                           std::string("film not licensed for this room")));
  EXPECT_EQ(ask(Cell::Null(), withdrawn).first, 3);
  EXPECT_EQ(ask(S("10.0.1.10"), withdrawn).second,
            "withdrawn by the publisher");
  EXPECT_EQ(ask(S(room3), film).second, "room closed for cleaning");
  EXPECT_EQ(ask(S(room3), allowed_in_room3).first, 0);
}

TEST_F(ProceduresTest, LibrarySqlTextsRunAsWritten) {
  EXPECT_EQ(QueryInt(db(), "select count(*) from medias"), 600);
  EXPECT_EQ(QueryInt(db(),
                     "select Configure_Set01 as PlayType from configures where "
                     "Configure_ID=1"),
            7);
  auto user = Query(db(),
                    "select MediaUserSet_MediaId from MediaUserSet order by "
                    "MediaUserSet_Shunxu");
  EXPECT_EQ(user.size(), 200u);
  EXPECT_EQ(user[0][0].number,
            QueryInt(db(),
                     "SELECT MediaUserSet_MediaId FROM MediaUserSet"
                     " WHERE MediaUserSet_Shunxu = 10"));
  auto servers =
      Query(db(),
            "select fileservers.fileserver_id, fileservers.fileserver_name, "
            "fileserver_IpAddress from fileservers");
  ASSERT_EQ(servers.size(), 4u);
  EXPECT_EQ(servers[0][2].text, "127.0.0.1");
}

}  // namespace
}  // namespace venuedb
