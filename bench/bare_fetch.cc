// bench_bare_fetch: the baseline of the database start-up. A bare DB-Library
// program that fetches the rows a start-up fetches, exchange by exchange, each
// on a connection of its own opened as the library opens one, binding every
// column the library binds into scratch buffers and storing nothing: the
// catalogue's ten exchanges, then the fire alarm's default, page and each
// room's lookup, as a start-up from the database asks them. Prints
// "elapsed_ns" (dbinit to the last close) and "rows" (rows fetched over all
// exchanges).
//   bench_bare_fetch SERVER DATABASE LOCAL_ADDRESS
// LOCAL_ADDRESS names this video server among the file servers, as start-up
// finds it.
#include <sqldb.h>  // DB-Library with the SQLINT4 and SQLVARCHAR names

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "process_stats.h"

namespace {

const char* g_server;
const char* g_database;
long long g_rows = 0;

std::string g_last_error;

// Keeps the last DB-Library error for the failure report; never ends the
// process.
int CancelOnError(DBPROCESS*, int, int error_number, int, char* error_text,
                  char*) {
  g_last_error = std::to_string(error_number) + " " +
                 (error_text != nullptr ? error_text : "");
  return INT_CANCEL;
}

// Names the exchange that failed, for the report.
const char* g_step = "start";

// A connection for one exchange, set up as the library sets up its own.
DBPROCESS* Open() {
  LOGINREC* login = dblogin();
  if (login == nullptr) return nullptr;
  DBSETLUSER(login, "sa");
  DBSETLPWD(login, "");
  DBSETLAPP(login, "db");
  DBSETLVERSION(login, DBVERSION_74);
  DBSETLCHARSET(login, "GB18030");
  dbsetlogintime(180);
  dbsettime(180);
  DBPROCESS* connection = dbopen(login, g_server);
  dbloginfree(login);
  if (connection == nullptr) return nullptr;
  if (dbuse(connection, g_database) != SUCCEED) {
    dbclose(connection);
    return nullptr;
  }
  return connection;
}

// One column binding: INTBIND into an int, or NTBSTRINGBIND into a text of
// `size` bytes.
struct Column {
  int number;
  int size;  // 0 for an int
};

// Reads every result set and row, binding `columns`; calls `on_row` for each
// row.
template <typename OnRow>
bool ReadRows(DBPROCESS* connection, const Column* columns, int column_count,
              OnRow on_row) {
  DBINT ints[16];
  static char texts[16][2048];
  RETCODE result;
  while ((result = dbresults(connection)) != NO_MORE_RESULTS) {
    if (result == FAIL) return false;
    for (int i = 0; i < column_count; ++i) {
      const Column& column = columns[i];
      RETCODE bound =
          column.size == 0
              ? dbbind(connection, column.number, INTBIND, 0,
                       reinterpret_cast<BYTE*>(&ints[i]))
              : dbbind(connection, column.number, NTBSTRINGBIND, column.size,
                       reinterpret_cast<BYTE*>(texts[i]));
      if (bound != SUCCEED) return false;
    }
    STATUS row;
    while ((row = dbnextrow(connection)) != NO_MORE_ROWS) {
      if (row == FAIL) return false;
      ++g_rows;
      on_row(ints, texts);
    }
  }
  return true;
}

bool Procedure(DBPROCESS* connection, const char* name) {
  return dbrpcinit(connection, const_cast<char*>(name), 0) == SUCCEED;
}

bool Send(DBPROCESS* connection) {
  return dbrpcsend(connection) == SUCCEED && dbsqlok(connection) == SUCCEED;
}

bool SendSql(DBPROCESS* connection, const char* text) {
  return dbcmd(connection, text) == SUCCEED &&
         dbsqlsend(connection) == SUCCEED && dbsqlok(connection) == SUCCEED;
}

bool IntParameter(DBPROCESS* connection, const char* name, DBINT* value) {
  return dbrpcparam(connection, const_cast<char*>(name), 0, SQLINT4, -1, -1,
                    reinterpret_cast<BYTE*>(value)) == SUCCEED;
}

bool TextParameter(DBPROCESS* connection, const char* name, const char* text) {
  DBINT length = text ? static_cast<DBINT>(std::strlen(text)) : 0;
  return dbrpcparam(connection, const_cast<char*>(name), 0, SQLVARCHAR, -1,
                    length, reinterpret_cast<BYTE*>(const_cast<char*>(text))) ==
         SUCCEED;
}

// One play-list exchange of "spa_sequencemedia" with its fourteen parameters.
bool Sequence(DBINT days, DBINT new_songs) {
  DBPROCESS* connection = Open();
  if (connection == nullptr) return false;
  DBINT zero = 0, type = 1, page = 200;
  bool ok = Procedure(connection, "spa_sequencemedia") &&
            IntParameter(connection, "@num", &days) &&
            IntParameter(connection, "@isnewsong", &new_songs) &&
            IntParameter(connection, "@len", &zero) &&
            TextParameter(connection, "@soundsequence", nullptr) &&
            TextParameter(connection, "@Media_HeadStroke", nullptr) &&
            IntParameter(connection, "@Media_StrokeNum", &zero) &&
            IntParameter(connection, "@language_id", &zero) &&
            TextParameter(connection, "@language_name", nullptr) &&
            IntParameter(connection, "@typeid", &type) &&
            IntParameter(connection, "@pagecount", &page) &&
            IntParameter(connection, "@room_id", &zero) &&
            TextParameter(connection, "@room_serialno", nullptr) &&
            TextParameter(connection, "@room_ipaddress", g_server) &&
            TextParameter(connection, "@media_name", nullptr) &&
            Send(connection);
  const Column columns[] = {{1, 0}};
  ok = ok && ReadRows(connection, columns, 1, [](DBINT*, char(*)[2048]) {});
  dbclose(connection);
  return ok;
}

bool FetchAll(const char* local_address) {
  // 1. The test connection.
  g_step = "test connection";
  DBPROCESS* connection = Open();
  if (connection == nullptr) return false;
  dbclose(connection);

  // 2. File servers; this server is the one at the local address.
  g_step = "file servers";
  DBINT server_id = 0, group_id = 0;
  connection = Open();
  if (connection == nullptr) return false;
  const Column server_columns[] = {{1, 0}, {2, 20}, {3, 0}, {4, 0}, {5, 0}};
  bool ok =
      Procedure(connection, "sp_getAllfileservers") && Send(connection) &&
      ReadRows(
          connection, server_columns, 5, [&](DBINT* ints, char(*texts)[2048]) {
            if (server_id == 0 && std::strcmp(texts[1], local_address) == 0) {
              server_id = ints[0];
              group_id = ints[3];
            }
          });
  dbclose(connection);
  if (!ok || server_id == 0) return false;

  // 3. Rooms.
  g_step = "rooms";
  connection = Open();
  if (connection == nullptr) return false;
  const Column room_columns[] = {{1, 0}, {2, 20}, {3, 20}, {4, 0}};
  std::vector<std::string> room_addresses;
  ok = Procedure(connection, "sp_getroomInfobyvideoserver") &&
       Send(connection) &&
       ReadRows(connection, room_columns, 4, [&](DBINT*, char(*texts)[2048]) {
         if (texts[2][0] != '\0') room_addresses.push_back(texts[2]);
       });
  dbclose(connection);
  if (!ok) return false;

  // 4. Media with their files.
  g_step = "media";
  connection = Open();
  if (connection == nullptr) return false;
  const Column media_columns[] = {{1, 0}, {2, 200}, {3, 10},
                                  {4, 0}, {6, 20},  {7, 20},
                                  {8, 0}, {9, 0},   {10, 2048}};
  ok = Procedure(connection, "sp_getmediainfobyvideoserver") &&
       IntParameter(connection, "@i_ServerGroupid", &group_id) &&
       IntParameter(connection, "@i_Serverid", &server_id) &&
       Send(connection) &&
       ReadRows(connection, media_columns, 9, [](DBINT*, char(*)[2048]) {});
  dbclose(connection);
  if (!ok) return false;

  // 5. The play type.
  g_step = "play type";
  connection = Open();
  if (connection == nullptr) return false;
  const Column play_type_columns[] = {{1, 0}};
  ok = SendSql(connection,
               "select Configure_Set01 as PlayType from configures where "
               "Configure_ID=1") &&
       ReadRows(connection, play_type_columns, 1, [](DBINT*, char(*)[2048]) {});
  dbclose(connection);
  if (!ok) return false;

  // 6-9. The four ranked play lists, in start-up order: all, week, month, new.
  g_step = "ranked play lists";
  if (!Sequence(0, 0) || !Sequence(7, 0) || !Sequence(30, 0) ||
      !Sequence(0, 1)) {
    return false;
  }

  // 10. The user play list.
  g_step = "user play list";
  connection = Open();
  if (connection == nullptr) return false;
  const Column user_columns[] = {{1, 0}};
  ok = SendSql(connection,
               "select MediaUserSet_MediaId from MediaUserSet order by "
               "MediaUserSet_Shunxu") &&
       ReadRows(connection, user_columns, 1, [](DBINT*, char(*)[2048]) {});
  dbclose(connection);
  if (!ok) return false;

  // 11-12. The fire alarm's default file and page.
  g_step = "fire-alarm default and page";
  for (const char* procedure :
       {"sp_getfirealertdefaultvideofile", "sp_getfirealerthomepage"}) {
    connection = Open();
    if (connection == nullptr) return false;
    const Column file_columns[] = {{1, 255}};
    ok = Procedure(connection, procedure) && Send(connection) &&
         ReadRows(connection, file_columns, 1, [](DBINT*, char(*)[2048]) {});
    dbclose(connection);
    if (!ok) return false;
  }

  // 13. Each room's fire-alarm lookup, one exchange per room.
  g_step = "fire-alarm lookups";
  for (const std::string& address : room_addresses) {
    connection = Open();
    if (connection == nullptr) return false;
    const Column lookup_columns[] = {{12, 255}};
    ok = Procedure(connection, "sp_lookupfirealerts") &&
         TextParameter(connection, "@ipaddress", address.c_str()) &&
         Send(connection) &&
         ReadRows(connection, lookup_columns, 1, [](DBINT*, char(*)[2048]) {});
    dbclose(connection);
    if (!ok) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr,
                 "usage: bench_bare_fetch SERVER DATABASE LOCAL_ADDRESS\n");
    return 2;
  }
  g_server = argv[1];
  g_database = argv[2];
  int64_t begin = rondel::bench::NowNanoseconds();
  if (dbinit() == FAIL) return 1;
  dberrhandle(CancelOnError);
  bool ok = FetchAll(argv[3]);
  dbexit();
  int64_t end = rondel::bench::NowNanoseconds();
  if (!ok) {
    std::fprintf(stderr, "bench_bare_fetch: the %s exchange failed (%s)\n",
                 g_step, g_last_error.c_str());
    return 1;
  }
  std::printf("elapsed_ns %lld\n", static_cast<long long>(end - begin));
  std::printf("rows %lld\n", g_rows);
  return 0;
}
