// The stored procedures as the library meets them: a seeded venue served by
// venuedb, called through FreeTDS DB-Library with the parameters the library
// sends, and the columns, outputs and return statuses it reads, by position.
// Expected values come from the same database file, read straight with SQLite.
#include <gtest/gtest.h>
#include <sybdb.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "procedure_text.h"
#include "tds_client.h"
#include "venue_server.h"

namespace venuedb::testing {
namespace {

using rondel::testing::Row;
using rondel::testing::VenueServer;

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

Param I(const std::string& name, int32_t value) {
  return IntParam(name, value);
}
Param S(const std::string& name, std::optional<std::string> value) {
  return TextParam(name, std::move(value));
}
Param IntOut(const std::string& name, int32_t value) {
  return IntParam(name, value, true);
}
Param TextOut(const std::string& name) {
  return TextParam(name, std::nullopt, true);
}

std::string Lower(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Describe(const std::vector<ServerMessage>& messages) {
  std::string text;
  for (const ServerMessage& m : messages)
    text += "[" + std::to_string(m.number) + "] " + m.text + " ";
  return text;
}

// A cell that must hold an integer, as a number (-1 and a failure otherwise).
int64_t Number(const Cell& cell) {
  if (!cell || cell->empty()) {
    ADD_FAILURE() << "expected a number, got "
                  << (cell ? "an empty text" : "NULL");
    return -1;
  }
  return std::stoll(*cell);
}

bool IsIntegerType(int type) {
  return type == SYBINT1 || type == SYBINT2 || type == SYBINT4 ||
         type == SYBINT8;
}
bool IsTextType(int type) {
  return type == SYBCHAR || type == SYBVARCHAR || type == SYBTEXT;
}

// The value of the output parameter name as the client received it.
Cell Output(const Outcome& out, const std::string& name) {
  for (const ReturnValue& r : out.returns) {
    if (r.name == name) return r.value;
  }
  ADD_FAILURE() << "no output " << name;
  return std::nullopt;
}

class ProceduresTest : public ::testing::Test {
 protected:
  ProceduresTest()
      : server_({"--medias", "600", "--rooms", "24", "--playlist-rows", "200",
                 "--play-type", "7"}) {}

  void SetUp() override {
    ASSERT_GT(server_.port(), 0);
    client_ = std::make_unique<Client>(server_.port(), "sa", "", "GB18030");
    ASSERT_TRUE(client_->connected());
    ASSERT_TRUE(client_->Use("karaok"));
  }

  // Calls a procedure and fails the test when it does not run cleanly.
  Outcome Call(const std::string& name, const std::vector<Param>& params = {}) {
    Outcome out = client_->Call(name, params);
    EXPECT_TRUE(out.ok) << name << ": " << Describe(out.messages);
    EXPECT_TRUE(out.messages.empty()) << name << ": " << Describe(out.messages);
    return out;
  }

  // The one result set a call sends.
  ResultSet Result(const std::string& name,
                   const std::vector<Param>& params = {}) {
    Outcome out = Call(name, params);
    EXPECT_EQ(out.results.size(), 1u) << name;
    return out.results.empty() ? ResultSet() : out.results[0];
  }

  std::vector<Cells> Rows(const std::string& name,
                          const std::vector<Param>& params = {}) {
    return Result(name, params).rows;
  }

  std::vector<Row> Query(const std::string& sql) { return server_.Query(sql); }

  int64_t QueryInt(const std::string& sql) {
    auto rows = Query(sql);
    if (rows.empty() || rows[0].empty()) {
      ADD_FAILURE() << "no value from: " << sql;
      return -1;
    }
    return Number(rows[0][0]);
  }

  VenueServer server_;
  std::unique_ptr<Client> client_;
};

TEST_F(ProceduresTest, DeclareEveryParameterTheLibrarySends) {
  // The declarations init stored, parsed as the server parses them at every
  // call.
  std::map<std::string, std::vector<ParamDecl>> declared;
  for (const Row& row : Query("SELECT name, params FROM vdb_procedures")) {
    ASSERT_TRUE(row[0].has_value());
    const std::string params = row[1].value_or("");
    std::vector<ParamDecl> decls;
    std::string error;
    ASSERT_TRUE(ParseParamDecls(params, &decls, &error)) << *row[0] << error;
    // Every parameter has a default, so a caller may leave any of them out.
    std::istringstream lines(params);
    std::string line;
    while (std::getline(lines, line)) {
      if (line.find_first_not_of(" \t") == std::string::npos) continue;
      EXPECT_NE(line.find('='), std::string::npos) << *row[0] << " " << line;
    }
    declared[Lower(*row[0])] = decls;
  }
  EXPECT_EQ(declared.size(),
            LibraryCalls().size() - 1);  // sp_getfileservers twice

  for (const LibraryCall& call : LibraryCalls()) {
    auto found = declared.find(Lower(call.procedure));
    ASSERT_NE(found, declared.end()) << call.procedure;
    const std::vector<ParamDecl>& decls = found->second;
    size_t last_position = 0;
    std::vector<Param> params;
    std::vector<Sent> outputs;
    for (const Sent& sent : call.params) {
      auto it =
          std::find_if(decls.begin(), decls.end(),
                       [&](const ParamDecl& p) { return p.name == sent.name; });
      ASSERT_NE(it, decls.end()) << call.procedure << " " << sent.name;
      size_t position = static_cast<size_t>(it - decls.begin());
      EXPECT_GE(position, last_position)
          << call.procedure << " " << sent.name << " order";
      last_position = position;
      EXPECT_EQ(it->is_int, sent.kind == 'i' || sent.kind == 'I') << sent.name;
      EXPECT_EQ(it->output, sent.kind == 'I' || sent.kind == 'S') << sent.name;
      switch (sent.kind) {
        case 'i':
          params.push_back(I(sent.name, 1));
          break;
        case 's':
          params.push_back(S(sent.name, "10.0.1.10"));
          break;
        case 'I':
          params.push_back(IntOut(sent.name, 0));
          outputs.push_back(sent);
          break;
        default:
          params.push_back(TextOut(sent.name));
          outputs.push_back(sent);
          break;
      }
    }
    // The call itself, with exactly the library's parameters: it runs, and
    // every output comes back under its name, typed as sent.
    Outcome out = client_->Call(call.procedure, params);
    EXPECT_TRUE(out.ok) << call.procedure << ": " << Describe(out.messages);
    EXPECT_TRUE(out.messages.empty())
        << call.procedure << ": " << Describe(out.messages);
    EXPECT_EQ(out.return_status, std::optional<int>(0)) << call.procedure;
    ASSERT_EQ(out.returns.size(), outputs.size()) << call.procedure;
    for (size_t i = 0; i < outputs.size(); ++i) {
      const Sent& sent = outputs[i];
      EXPECT_EQ(out.returns[i].name, sent.name) << call.procedure;
      EXPECT_EQ(IsIntegerType(out.returns[i].type), sent.kind == 'I')
          << sent.name;
      EXPECT_EQ(IsTextType(out.returns[i].type), sent.kind == 'S') << sent.name;
    }
  }

  // The journal holds every parameter with the library's type and direction.
  std::vector<Row> expected;
  for (const LibraryCall& call : LibraryCalls()) {
    for (const Sent& sent : call.params) {
      const bool is_int = sent.kind == 'i' || sent.kind == 'I';
      const bool output = sent.kind == 'I' || sent.kind == 'S';
      expected.push_back(Row{call.procedure, sent.name,
                             is_int ? "int" : "varchar", output ? "1" : "0"});
    }
  }
  EXPECT_EQ(Query("SELECT j.text, p.name, p.type, p.output FROM vdb_journal j"
                  " JOIN vdb_journal_params p ON p.journal_id = j.id"
                  " WHERE j.kind = 'rpc' ORDER BY j.id, p.ordinal"),
            expected);
}

TEST_F(ProceduresTest, MediaOfAGroupComeOneRowPerFileInMediaOrder) {
  ResultSet set = Result("sp_getmediainfobyvideoserver",
                         {I("@i_ServerGroupid", 1), I("@i_Serverid", 1)});
  auto expected = Query(
      "SELECT f.media_id, m.media_name, m.media_code, m.stroke_count,"
      " m.artist_name, l.language_name, m.volume, m.vocal_channel,"
      " f.file_path FROM media_files f JOIN medias m USING (media_id)"
      " JOIN languages l USING (language_id) WHERE f.group_id = 1"
      " ORDER BY f.media_id, f.file_order");
  const auto& rows = set.rows;
  ASSERT_EQ(rows.size(), expected.size());
  ASSERT_GT(rows.size(), 300u);
  ASSERT_GE(set.types.size(), 10u);
  for (int c : {0, 3, 7, 8}) EXPECT_TRUE(IsIntegerType(set.types[c])) << c;
  for (int c : {1, 2, 5, 6, 9}) EXPECT_TRUE(IsTextType(set.types[c])) << c;
  for (size_t r = 0; r < rows.size(); ++r) {
    ASSERT_GE(rows[r].size(), 10u);
    const auto& row = rows[r];
    const auto& want = expected[r];
    EXPECT_EQ(row[0], want[0]);  // 1 media id
    EXPECT_EQ(row[1], want[1]);  // 2 name, code page 936 bytes
    EXPECT_EQ(row[2], want[2]);  // 3 code
    EXPECT_EQ(row[3], want[3]);  // 4 NumberC
    EXPECT_EQ(row[5], want[4]);  // 6 TextA
    EXPECT_EQ(row[6], want[5]);  // 7 TextB
    EXPECT_EQ(row[7], want[6]);  // 8 NumberA
    EXPECT_EQ(row[8], want[7]);  // 9 NumberB
    EXPECT_EQ(row[9], want[8]);  // 10 file path
    for (int c : {0, 1, 2, 3, 5, 6, 7, 8, 9})
      EXPECT_TRUE(row[static_cast<size_t>(c)].has_value()) << r << " " << c;
  }
  EXPECT_TRUE(Rows("sp_getmediainfobyvideoserver", {I("@i_ServerGroupid", 99)})
                  .empty());
}

TEST_F(ProceduresTest, FileServersAndRoomsComeInTheirColumns) {
  ResultSet servers = Result("sp_getAllfileservers");
  ASSERT_EQ(servers.rows.size(), 4u);
  ASSERT_GE(servers.types.size(), 5u);
  EXPECT_TRUE(IsIntegerType(servers.types[2]));
  EXPECT_TRUE(IsIntegerType(servers.types[4]));
  EXPECT_EQ(servers.rows[0][0], "1");
  EXPECT_EQ(servers.rows[0][1], "127.0.0.1");
  EXPECT_EQ(servers.rows[0][3], "1");
  for (const auto& row : servers.rows) {
    ASSERT_GE(row.size(), 5u);
    EXPECT_TRUE(row[2].has_value());
    EXPECT_TRUE(row[4].has_value());
  }
  EXPECT_EQ(servers.rows[2][1], "172.16.1.13");
  EXPECT_EQ(servers.rows[2][3], "1");
  auto rooms = Rows("sp_getroomInfobyvideoserver");
  ASSERT_EQ(rooms.size(), 24u);
  EXPECT_EQ(rooms[0][0], "1");
  EXPECT_EQ(rooms[0][2], "10.0.1.10");
  EXPECT_EQ(rooms[0][3], "101");
  EXPECT_EQ(rooms[2][1], "Room 103");
}

// What the library sends, with its database server address as the room
// address.
std::vector<Param> SequenceArgs(int num, int isnewsong, int pagecount = 200,
                                int language_id = 0) {
  return {I("@num", num),
          I("@isnewsong", isnewsong),
          I("@len", 0),
          S("@soundsequence", std::nullopt),
          S("@Media_HeadStroke", std::nullopt),
          I("@Media_StrokeNum", 0),
          I("@language_id", language_id),
          S("@language_name", std::nullopt),
          I("@typeid", 1),
          I("@pagecount", pagecount),
          I("@room_id", 0),
          S("@room_serialno", std::nullopt),
          S("@room_ipaddress", "127.0.0.1"),
          S("@media_name", std::nullopt)};
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
        std::string("SELECT media_id FROM media_charts WHERE chart_name = '") +
        list.chart + "' ORDER BY chart_rank");
    ASSERT_EQ(rows.size(), 200u) << list.chart;
    ASSERT_EQ(chart.size(), 200u) << list.chart;
    for (size_t r = 0; r < rows.size(); ++r)
      EXPECT_EQ(rows[r][0], chart[r][0]) << list.chart << " " << r;
  }
  EXPECT_EQ(Rows("spa_sequencemedia", SequenceArgs(7, 0, 5)).size(), 5u);
  auto rows = Rows("spa_sequencemedia", SequenceArgs(0, 0, 200, 4));
  ASSERT_FALSE(rows.empty());
  for (const auto& row : rows) {
    ASSERT_TRUE(row[0].has_value());
    EXPECT_EQ(
        QueryInt("SELECT language_id FROM medias WHERE media_id = " + *row[0]),
        4);
  }
}

TEST_F(ProceduresTest, PlayingMediaHandsOutTheQueueOldestFirst) {
  auto playing = [&](const char* address) {
    return Number(Output(Call("spm_getplayingmedia",
                              {S("@userip", address), IntOut("@media_id", 5)}),
                         "@media_id"));
  };
  auto queue = Query(
      "SELECT media_id FROM room_selections WHERE room_id = 1"
      " ORDER BY queued_at, selection_id");
  ASSERT_FALSE(queue.empty());
  for (const auto& queued : queue)
    EXPECT_EQ(playing("10.0.1.10"), Number(queued[0]));
  EXPECT_EQ(playing("10.0.1.10"), 0);  // all handed out
  EXPECT_EQ(playing("10.0.1.11"), 0);  // room 2 has nothing queued
  EXPECT_EQ(playing("10.7.7.7"), 0);   // no room has this address
}

TEST_F(ProceduresTest, AdvertisementIsChosenBySequenceModuloTheirNumber) {
  auto ads = Query(
      "SELECT media_id FROM advertisements WHERE is_enabled = 1"
      " ORDER BY sort_order, ad_id");
  ASSERT_GT(ads.size(), 2u);
  const int32_t n = static_cast<int32_t>(ads.size());
  for (int32_t sequence : {0, 1, n, n + 2, 32767}) {
    Outcome r =
        Call("spm_getadsfilepath",
             {I("@sequence", sequence), I("@room_id", 0),
              S("@room_ipaddress", "10.0.1.10"), IntOut("@media_id", 0)});
    EXPECT_EQ(Output(r, "@media_id"), ads[static_cast<size_t>(sequence % n)][0])
        << sequence;
    EXPECT_EQ(r.return_status, std::optional<int>(0));
  }
  server_.Exec("UPDATE advertisements SET is_enabled = 0");
  Outcome none =
      Call("spm_getadsfilepath", {I("@sequence", 3), IntOut("@media_id", 0)});
  EXPECT_EQ(Output(none, "@media_id"), "0");
  EXPECT_EQ(none.return_status, std::optional<int>(-1));
}

std::vector<Param> ConnectionArgs(int32_t fileserver_id, int32_t count,
                                  std::optional<std::string> address) {
  return {I("@group_id", 1), I("@fileserver_id", fileserver_id),
          I("@connection_count", count),
          S("@fileserver_ipaddress1", std::move(address)),
          I("@totalconnection_count", 50)};
}

TEST_F(ProceduresTest, ConnectionCountsAreAddedChangedListedAndDeleted) {
  ResultSet listed =
      Result("sp_getfileserverconnectioninfo", {I("@group_id", 1)});
  ASSERT_EQ(listed.rows.size(), 2u);  // servers 1 and 3
  EXPECT_EQ(listed.rows[0][0], "1");
  EXPECT_EQ(listed.rows[0][3], "127.0.0.1");
  ASSERT_GE(listed.types.size(), 4u);
  EXPECT_TRUE(IsIntegerType(listed.types[2]));
  EXPECT_TRUE(listed.rows[0][2].has_value());

  Call("sp_addfileserverconnectioninfo", ConnectionArgs(9, 7, "10.9.9.9"));
  auto one = Rows("sp_getfileserverconnectioninfo",
                  {I("@group_id", 1), I("@fileserver_id", 9)});
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0][2], "7");
  EXPECT_EQ(one[0][3], "10.9.9.9");
  // A NULL address keeps the registered one.
  Call("sp_modifyfileserverconnectioninfo",
       ConnectionArgs(9, 12, std::nullopt));
  one = Rows("sp_getfileserverconnectioninfo",
             {I("@group_id", 1), I("@fileserver_id", 9)});
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0][2], "12");
  EXPECT_EQ(one[0][3], "10.9.9.9");

  Call("sp_deletefileserverconnectioninfo",
       {I("@group_id", 1), I("@fileserver_id", 9)});
  EXPECT_EQ(Rows("sp_getfileserverconnectioninfo", {I("@group_id", 1)}).size(),
            2u);
  Call("sp_deletefileserverconnectioninfo", {I("@group_id", 1)});
  EXPECT_TRUE(
      Rows("sp_getfileserverconnectioninfo", {I("@group_id", 1)}).empty());
  EXPECT_EQ(Rows("sp_getfileserverconnectioninfo", {I("@group_id", 2)}).size(),
            2u);
}

TEST_F(ProceduresTest, InvalidGroupListsNoServers) {
  Call("sp_modifyservergroup", {I("@curid", 1), I("@isvalid", 0)});
  EXPECT_TRUE(
      Rows("sp_getfileserverconnectioninfo", {I("@group_id", 1)}).empty());
  EXPECT_TRUE(Rows("sp_getfileservers", {I("@groupID", 1)}).empty());
  Call("sp_modifyservergroup", {I("@curid", 1), I("@isvalid", 1)});
  EXPECT_EQ(Rows("sp_getfileservers", {I("@groupID", 1)}).size(), 2u);

  Outcome unknown = client_->Call("sp_modifyservergroup",
                                  {I("@curid", 42), I("@isvalid", 1)});
  EXPECT_FALSE(unknown.ok);
  ASSERT_EQ(unknown.messages.size(), 1u) << Describe(unknown.messages);
  EXPECT_EQ(unknown.messages[0].number, 50000);
  EXPECT_EQ(unknown.messages[0].text, "server group 42 does not exist");
  EXPECT_EQ(unknown.return_status, std::optional<int>(-6));
  // The connection is still usable after the failed call.
  EXPECT_EQ(Rows("sp_getfileservers", {I("@groupID", 1)}).size(), 2u);
}

TEST_F(ProceduresTest, FileServersByGroupOrByIdHaveAddressAndGroupInPlace) {
  auto group = Rows("sp_getfileservers", {I("@groupID", 2)});
  ASSERT_EQ(group.size(), 2u);
  for (const auto& row : group) {
    ASSERT_GE(row.size(), 9u);
    EXPECT_EQ(row[8], "2");
    ASSERT_TRUE(row[2].has_value());
    EXPECT_EQ(row[2]->rfind("172.16.2.", 0), 0u) << *row[2];
  }
  auto one =
      Rows("sp_getfileservers", {I("@id", 3), S("@ipaddress", std::nullopt),
                                 IntParam("@group_id", std::nullopt),
                                 S("@group_name", std::nullopt)});
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0][0], "3");
  EXPECT_EQ(one[0][2], "172.16.1.13");
  EXPECT_EQ(one[0][8], "1");
}

TEST_F(ProceduresTest, FireAlarmVideoPerAddressWithDefaultAndPage) {
  auto alerts = Rows("sp_lookupfirealerts", {S("@ipaddress", "10.0.1.10")});
  ASSERT_EQ(alerts.size(), 1u);
  ASSERT_GE(alerts[0].size(), 12u);
  EXPECT_EQ(alerts[0][11], "fire_floor1.mpg");
  // Room 5 also has a switched-off drill entry, which is not returned.
  auto room5 = Rows("sp_lookupfirealerts", {S("@ipaddress", "10.0.1.14")});
  ASSERT_EQ(room5.size(), 1u);
  EXPECT_EQ(room5[0][11], "fire_floor1.mpg");
  EXPECT_TRUE(
      Rows("sp_lookupfirealerts", {S("@ipaddress", "10.0.1.11")}).empty());
  EXPECT_TRUE(
      Rows("sp_lookupfirealerts", {S("@ipaddress", std::nullopt)}).empty());
  auto fallback = Rows("sp_getfirealertdefaultvideofile");
  ASSERT_EQ(fallback.size(), 1u);
  EXPECT_EQ(fallback[0][0], "fire_default.mpg");
  auto page = Rows("sp_getfirealerthomepage");
  ASSERT_EQ(page.size(), 1u);
  EXPECT_EQ(page[0][0], "http://127.0.0.1/fire/evacuation.htm");
}

TEST_F(ProceduresTest, PlayIsRecordedAndCounted) {
  int64_t before = QueryInt("SELECT play_count FROM medias WHERE media_id = 4");
  Outcome r = Call(
      "SP_SaveMediaOrderInfo",
      {I("@i_iMediaID", 4), S("@i_dtmBeginPlayingTime", "2026-02-01 20:00:00"),
       S("@i_dtmEndPlayingTime", "2026-02-01 20:04:10"),
       S("@i_strRoomIP", "10.0.1.12"), I("@i_strSongType", 2)});
  EXPECT_TRUE(r.results.empty());
  auto records = Query(
      "SELECT media_id, begin_time, end_time, room_address, song_type"
      " FROM play_records");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0], (Row{"4", "2026-02-01 20:00:00", "2026-02-01 20:04:10",
                             "10.0.1.12", "2"}));
  EXPECT_EQ(QueryInt("SELECT play_count FROM medias WHERE media_id = 4"),
            before + 1);
}

// sp_addlog as the library calls it; it leaves out a NULL address.
Outcome AddLog(Client* client, std::optional<std::string> address,
               int32_t media_id) {
  std::vector<Param> params;
  if (address) params.push_back(S("@ipaddress", *address));
  params.push_back(I("@media_id", media_id));
  params.push_back(IntOut("@tradelog_id", 77));
  params.push_back(IntOut("@error_code", 5));
  params.push_back(TextOut("@error_string"));
  return client->Call("sp_addlog", params);
}

TEST_F(ProceduresTest, TradeLogsAreOpenedAndClosedWithErrorCodes) {
  const int64_t seeded = QueryInt("SELECT count(*) FROM trade_logs");
  ASSERT_GT(seeded, 0);
  Outcome first = AddLog(client_.get(), "10.0.1.10", 8);
  ASSERT_TRUE(first.ok) << Describe(first.messages);
  EXPECT_EQ(Output(first, "@error_code"), "0");
  // An empty text, not NULL.
  EXPECT_EQ(Output(first, "@error_string"), std::optional<std::string>(""));
  // New ids follow the sample logs.
  const int64_t id = Number(Output(first, "@tradelog_id"));
  EXPECT_EQ(id, seeded + 1);
  Outcome second = AddLog(client_.get(), std::nullopt, 8);
  ASSERT_TRUE(second.ok) << Describe(second.messages);
  EXPECT_EQ(Number(Output(second, "@tradelog_id")), id + 1);
  auto address =
      Query("SELECT room_address FROM trade_logs WHERE tradelog_id = " +
            std::to_string(id + 1));
  ASSERT_EQ(address.size(), 1u);
  EXPECT_EQ(address[0][0], std::nullopt);

  Outcome missing = AddLog(client_.get(), std::nullopt, 999999);
  ASSERT_TRUE(missing.ok) << Describe(missing.messages);
  EXPECT_EQ(Output(missing, "@error_code"), "1");
  EXPECT_EQ(Output(missing, "@error_string"), "media 999999 does not exist");
  EXPECT_EQ(Output(missing, "@tradelog_id"), "0");
  EXPECT_EQ(QueryInt("SELECT count(*) FROM trade_logs"), seeded + 2);

  Outcome closed = Call("sp_modifylog",
                        {I("@tradelog_id", static_cast<int32_t>(id)),
                         IntOut("@error_code", 9), TextOut("@error_string")});
  EXPECT_EQ(Output(closed, "@error_code"), "0");
  EXPECT_EQ(QueryInt("SELECT state FROM trade_logs WHERE tradelog_id = " +
                     std::to_string(id)),
            1);
  Outcome unknown =
      Call("sp_modifylog", {I("@tradelog_id", 12345), IntOut("@error_code", 0),
                            TextOut("@error_string")});
  EXPECT_EQ(Output(unknown, "@error_code"), "2");
  EXPECT_EQ(Output(unknown, "@error_string"), "trade log 12345 does not exist");
}

TEST_F(ProceduresTest, EightClientsAddingLogsAtOnceGetDistinctIds) {
  constexpr int kClients = 8;
  constexpr int kCalls = 1000;
  const int64_t seeded = QueryInt("SELECT max(tradelog_id) FROM trade_logs");
  std::vector<std::vector<int64_t>> answers(kClients);
  std::vector<std::thread> threads;
  for (int t = 0; t < kClients; ++t) {
    threads.emplace_back([&, t] {
      Client client(server_.port(), "sa", "", "GB18030");
      if (!client.connected() || !client.Use("karaok")) return;
      const std::string address = "10.0.9." + std::to_string(t);
      for (int i = 0; i < kCalls; ++i) {
        Outcome out = AddLog(&client, address, 8);
        bool good = out.ok && out.returns.size() == 3 && out.returns[0].value &&
                    out.returns[1].value == "0";
        answers[static_cast<size_t>(t)].push_back(
            good ? std::stoll(*out.returns[0].value) : -1);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  // Every call answered, and the answers are exactly the ids that follow the
  // sample logs, each once.
  std::vector<int64_t> ids;
  for (const auto& client : answers)
    ids.insert(ids.end(), client.begin(), client.end());
  std::sort(ids.begin(), ids.end());
  std::vector<int64_t> expected(kClients * kCalls);
  for (size_t i = 0; i < expected.size(); ++i)
    expected[i] = seeded + 1 + static_cast<int64_t>(i);
  EXPECT_EQ(ids, expected);
  std::vector<Row> per_client;
  for (int t = 0; t < kClients; ++t)
    per_client.push_back(Row{"10.0.9." + std::to_string(t), "1000", "1000"});
  EXPECT_EQ(Query("SELECT room_address, count(*), count(DISTINCT tradelog_id)"
                  " FROM trade_logs WHERE room_address LIKE '10.0.9.%'"
                  " GROUP BY room_address ORDER BY room_address"),
            per_client);
}

TEST_F(ProceduresTest, AuthorizationFollowsTheMostSpecificRule) {
  auto rules = Query(
      "SELECT room_address, media_id FROM authorizations"
      " ORDER BY authorization_id");
  ASSERT_EQ(rules.size(), 4u);
  const Cell room2 = rules[0][0];
  const int32_t film = static_cast<int32_t>(Number(rules[0][1]));
  const int32_t withdrawn = static_cast<int32_t>(Number(rules[1][1]));
  const Cell room3 = rules[2][0];
  const int32_t allowed_in_room3 = static_cast<int32_t>(Number(rules[3][1]));
  // The library leaves out a NULL address.
  auto ask = [&](const Cell& address, int32_t media) {
    std::vector<Param> params;
    if (address) params.push_back(S("@ipaddress", *address));
    params.push_back(I("@media_id", media));
    params.push_back(IntOut("@error_code", 0));
    params.push_back(TextOut("@error_string"));
    Outcome r = Call("sp_getauthorization", params);
    return std::make_pair(Number(Output(r, "@error_code")),
                          Output(r, "@error_string").value_or("(NULL)"));
  };
  EXPECT_EQ(ask("10.0.1.10", film), std::make_pair(int64_t{0}, std::string()));
  EXPECT_EQ(ask(room2, film),
            std::make_pair(int64_t{3},
                           std::string("film not licensed for this room")));
  EXPECT_EQ(ask(std::nullopt, withdrawn).first, 3);
  EXPECT_EQ(ask("10.0.1.10", withdrawn).second, "withdrawn by the publisher");
  EXPECT_EQ(ask(room3, film).second, "room closed for cleaning");
  EXPECT_EQ(ask(room3, allowed_in_room3).first, 0);
}

TEST_F(ProceduresTest, LibrarySqlTextsRunAsWritten) {
  // The library's own statements, sent as batches.
  auto batch = [&](const std::string& sql) {
    Outcome out = client_->Batch(sql);
    EXPECT_TRUE(out.ok) << sql << ": " << Describe(out.messages);
    EXPECT_EQ(out.results.size(), 1u) << sql;
    return out.results.empty() ? std::vector<Cells>() : out.results[0].rows;
  };
  EXPECT_EQ(batch("select count(*) from medias"),
            (std::vector<Cells>{{"600"}}));
  EXPECT_EQ(batch("select Configure_Set01 as PlayType from configures where "
                  "Configure_ID=1"),
            (std::vector<Cells>{{"7"}}));
  auto user = batch(
      "select MediaUserSet_MediaId from MediaUserSet order by "
      "MediaUserSet_Shunxu");
  ASSERT_EQ(user.size(), 200u);
  EXPECT_EQ(Number(user[0][0]),
            QueryInt("SELECT MediaUserSet_MediaId FROM MediaUserSet"
                     " WHERE MediaUserSet_Shunxu = 10"));
  auto servers = batch(
      "select fileservers.fileserver_id, fileservers.fileserver_name, "
      "fileserver_IpAddress from fileservers");
  ASSERT_EQ(servers.size(), 4u);
  EXPECT_EQ(servers[0][2], "127.0.0.1");
}

}  // namespace
}  // namespace venuedb::testing
