#include "tds_client.h"

#include <sybdb.h>
#include <sybfront.h>

#include <mutex>

namespace venuedb::testing {

namespace {

thread_local std::vector<ServerMessage> messages;
thread_local std::vector<int> library_errors;

int ErrorHandler(DBPROCESS*, int, int dberr, int, char*, char*) {
  library_errors.push_back(dberr);
  return INT_CANCEL;
}

int MessageHandler(DBPROCESS*, DBINT number, int, int severity, char* text,
                   char*, char*, int) {
  messages.push_back({static_cast<int>(number), severity, text ? text : ""});
  return 0;
}

void InitOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    dbinit();
    dberrhandle(ErrorHandler);
    dbmsghandle(MessageHandler);
    dbsetlogintime(20);
    dbsettime(60);
  });
}

Cell ColumnCell(DBPROCESS* p, int col) {
  BYTE* data = dbdata(p, col);
  DBINT length = dbdatlen(p, col);
  if (data == nullptr && length == 0) return std::nullopt;
  int type = dbcoltype(p, col);
  switch (type) {
    case SYBINT1:
      return std::to_string(*reinterpret_cast<DBTINYINT*>(data));
    case SYBINT2:
      return std::to_string(*reinterpret_cast<DBSMALLINT*>(data));
    case SYBINT4:
      return std::to_string(*reinterpret_cast<DBINT*>(data));
    case SYBINT8:
      return std::to_string(*reinterpret_cast<DBBIGINT*>(data));
    case SYBFLT8:
      return std::to_string(*reinterpret_cast<DBFLT8*>(data));
    case SYBBIT:
    case SYBREAL:
    case SYBNUMERIC:
    case SYBDECIMAL:
    case SYBMONEY:
    case SYBMONEY4:
    case SYBDATETIME:
    case SYBDATETIME4: {
      // As DB-Library writes them as text.
      char text[64];
      const DBINT size = dbconvert(p, type, data, length, SYBCHAR,
                                   reinterpret_cast<BYTE*>(text), sizeof text);
      return size < 0 ? "?" : std::string(text, static_cast<size_t>(size));
    }
    default:
      return std::string(reinterpret_cast<char*>(data),
                         static_cast<size_t>(length));
  }
}

}  // namespace

Param IntParam(const std::string& name, std::optional<int32_t> value,
               bool output) {
  Param p;
  p.name = name;
  p.is_int = true;
  p.number = value;
  p.output = output;
  return p;
}

Param TextParam(const std::string& name, std::optional<std::string> value,
                bool output) {
  Param p;
  p.name = name;
  p.text = std::move(value);
  p.output = output;
  if (output) p.max_length = 200;
  return p;
}

std::vector<ServerMessage> TakeMessages() {
  std::vector<ServerMessage> out;
  out.swap(messages);
  return out;
}

std::vector<int> TakeLibraryErrors() {
  std::vector<int> out;
  out.swap(library_errors);
  return out;
}

Client::Client(int port, const std::string& user, const std::string& password,
               const std::string& charset, const std::string& database) {
  InitOnce();
  TakeMessages();
  LOGINREC* login = dblogin();
  DBSETLUSER(login, user.c_str());
  DBSETLPWD(login, password.c_str());
  DBSETLAPP(login, "venuedb-test");
  dbsetlversion(login, DBVERSION_74);
  if (!charset.empty()) DBSETLCHARSET(login, charset.c_str());
  if (!database.empty()) DBSETLDBNAME(login, database.c_str());
  std::string server = "127.0.0.1:" + std::to_string(port);
  dbproc_ = dbopen(login, server.c_str());
  dbloginfree(login);
  login_messages_ = TakeMessages();
}

Client::~Client() {
  if (dbproc_) dbclose(dbproc_);
}

bool Client::Use(const std::string& database) {
  return dbuse(dbproc_, database.c_str()) == SUCCEED;
}

void Client::ReadResults(Outcome* out) {
  if (dbsqlok(dbproc_) != SUCCEED) {
    out->ok = false;
    // Drain what is left so that the connection can be used again.
    while (dbresults(dbproc_) == SUCCEED) {
      while (dbnextrow(dbproc_) != NO_MORE_ROWS) {
      }
    }
  } else {
    out->ok = true;
    RETCODE rc;
    while ((rc = dbresults(dbproc_)) == SUCCEED) {
      int count = dbnumcols(dbproc_);
      if (count == 0) continue;
      ResultSet set;
      for (int c = 1; c <= count; ++c) {
        set.columns.push_back(dbcolname(dbproc_, c));
        set.types.push_back(dbcoltype(dbproc_, c));
      }
      STATUS row;
      while ((row = dbnextrow(dbproc_)) != NO_MORE_ROWS) {
        if (row == FAIL) {
          out->ok = false;
          break;
        }
        Cells cells;
        for (int c = 1; c <= count; ++c)
          cells.push_back(ColumnCell(dbproc_, c));
        set.rows.push_back(std::move(cells));
      }
      out->results.push_back(std::move(set));
    }
    if (rc == FAIL) out->ok = false;
  }
  if (dbhasretstat(dbproc_)) out->return_status = dbretstatus(dbproc_);
  for (int i = 1; i <= dbnumrets(dbproc_); ++i) {
    ReturnValue r;
    r.name = dbretname(dbproc_, i);
    r.type = dbrettype(dbproc_, i);
    BYTE* data = dbretdata(dbproc_, i);
    DBINT length = dbretlen(dbproc_, i);
    if (data == nullptr && length == 0) {
      r.value = std::nullopt;
    } else if (r.type == SYBINT4) {
      r.value = std::to_string(*reinterpret_cast<DBINT*>(data));
    } else {
      r.value = std::string(reinterpret_cast<char*>(data),
                            static_cast<size_t>(length));
    }
    out->returns.push_back(r);
  }
  out->messages = TakeMessages();
}

Outcome Client::Batch(const std::string& sql) {
  Outcome out;
  if (!dbproc_) return out;
  TakeMessages();
  if (dbcmd(dbproc_, sql.c_str()) != SUCCEED || dbsqlsend(dbproc_) != SUCCEED) {
    out.messages = TakeMessages();
    return out;
  }
  ReadResults(&out);
  return out;
}

Outcome Client::Call(const std::string& procedure,
                     const std::vector<Param>& params) {
  Outcome out;
  if (!dbproc_) return out;
  TakeMessages();
  if (dbrpcinit(dbproc_, procedure.c_str(), 0) != SUCCEED) return out;
  std::vector<DBINT> numbers(params.size());
  for (size_t i = 0; i < params.size(); ++i) {
    const Param& p = params[i];
    BYTE status = p.output ? DBRPCRETURN : 0;
    char* name = const_cast<char*>(p.name.c_str());
    RETCODE rc;
    if (p.is_int) {
      numbers[i] = p.number.value_or(0);
      rc = dbrpcparam(dbproc_, name, status, SYBINT4, -1, p.number ? -1 : 0,
                      reinterpret_cast<BYTE*>(&numbers[i]));
    } else {
      const std::string empty;
      const std::string& text = p.text ? *p.text : empty;
      rc = dbrpcparam(dbproc_, name, status, SYBVARCHAR, p.max_length,
                      p.text ? static_cast<DBINT>(text.size()) : 0,
                      reinterpret_cast<BYTE*>(const_cast<char*>(text.c_str())));
    }
    if (rc != SUCCEED) return out;
  }
  if (dbrpcsend(dbproc_) != SUCCEED) {
    out.messages = TakeMessages();
    return out;
  }
  ReadResults(&out);
  return out;
}

}  // namespace venuedb::testing
