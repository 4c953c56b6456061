#include "frame/server_charset.h"

#include <cassert>
#include <cstdint>
#include <map>

#include "frame/db_library.h"
#include "frame/session.h"
#include "platform/message_log.h"
#include "platform/no_destructor.h"

namespace rondel {

namespace {

// The database's default collation's code page (SQL Server 2000 and later).
constexpr char kCodePageQuery[] =
    "SELECT CONVERT(int, COLLATIONPROPERTY(CONVERT(nvarchar(128), "
    "DATABASEPROPERTYEX(DB_NAME(), 'Collation')), 'CodePage'))";

constexpr char kChineseCharset[] = "GB18030";

// Learned sets by database; guarded by the exchange lock.
std::map<std::string, std::string>& Learned() {
  static platform::NoDestructor<std::map<std::string, std::string>> learned;
  return *learned.get();
}

// The code page the query answers, or 0 when it fails or answers no number.
int AskCodePage(DBPROCESS* db) {
  if (dbcmd(db, kCodePageQuery) != SUCCEED || dbsqlexec(db) != SUCCEED) {
    dbcancel(db);
    return 0;
  }
  DBINT code_page = 0;
  RETCODE results;
  while ((results = dbresults(db)) != NO_MORE_RESULTS) {
    if (results == FAIL) {
      dbcancel(db);
      return 0;
    }
    if (dbnumcols(db) >= 1 &&
        dbbind(db, 1, INTBIND, sizeof code_page,
               reinterpret_cast<BYTE*>(&code_page)) == SUCCEED) {
      RETCODE row;
      while ((row = dbnextrow(db)) != NO_MORE_ROWS) {
        if (row == FAIL) {
          dbcancel(db);
          return 0;
        }
      }
    }
  }
  return code_page > 0 ? static_cast<int>(code_page) : 0;
}

}  // namespace

bool FollowsServerCharset(const char* setting) {
  const char* word = "server";
  for (; *setting != '\0' && *word != '\0'; ++setting, ++word) {
    const char c = *setting >= 'A' && *setting <= 'Z'
                       ? static_cast<char>(*setting - 'A' + 'a')
                       : *setting;
    if (c != *word) return false;
  }
  return *setting == '\0' && *word == '\0';
}

std::string LearnedServerCharset(const std::string& database) {
  assert(CatalogueLock().HeldByThisThread());
  auto found = Learned().find(database);
  return found == Learned().end() ? std::string() : found->second;
}

std::string CharsetForCodePage(int code_page) {
  if (code_page == 936) return kChineseCharset;
  if (code_page == 65001) return "UTF-8";
  return "CP" + std::to_string(code_page);
}

std::string LearnServerCharset(void* db, const std::string& database) {
  assert(CatalogueLock().HeldByThisThread());
  const int code_page = AskCodePage(static_cast<DBPROCESS*>(db));
  if (DBDEAD(static_cast<DBPROCESS*>(db))) return std::string();
  std::string charset;
  platform::MessageLog log;
  if (code_page == 0) {
    charset = kChineseCharset;
    log.AddLog(("ClientCharset=server: " + database +
                " does not say its code page; texts are read as " + charset)
                   .c_str(),
               platform::LogLevel::kWarning);
  } else {
    charset = CharsetForCodePage(code_page);
    log.AddLog(("ClientCharset=server: " + database + " keeps code page " +
                std::to_string(code_page) + "; texts are read as " + charset)
                   .c_str(),
               platform::LogLevel::kNotice);
  }
  Learned()[database] = charset;
  return charset;
}

}  // namespace rondel
