#include "server_functions.h"

#include <cstring>
#include <string>

#include "collation.h"
#include "store.h"

namespace venuedb {

namespace {

using DatabaseName = std::function<std::string()>;

std::string TextArgument(sqlite3_value* value) {
  const unsigned char* text = sqlite3_value_text(value);
  return text == nullptr ? std::string()
                         : std::string(reinterpret_cast<const char*>(text));
}

bool SameWord(const std::string& a, const char* b) {
  return a.size() == std::strlen(b) && strncasecmp(a.c_str(), b, a.size()) == 0;
}

void DbName(sqlite3_context* context, int, sqlite3_value**) {
  const auto* name = static_cast<DatabaseName*>(sqlite3_user_data(context));
  const std::string text = (*name)();
  sqlite3_result_text(context, text.c_str(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
}

// Every database of this server shares the file's default collation.
void DatabasePropertyEx(sqlite3_context* context, int,
                        sqlite3_value** arguments) {
  if (!SameWord(TextArgument(arguments[1]), "Collation")) {
    sqlite3_result_null(context);
    return;
  }
  const Collation* collation =
      DatabaseCollation(sqlite3_context_db_handle(context));
  sqlite3_result_text(context, collation->name, -1, SQLITE_STATIC);
}

void CollationProperty(sqlite3_context* context, int,
                       sqlite3_value** arguments) {
  const Collation* collation = FindCollation(TextArgument(arguments[0]));
  const std::string property = TextArgument(arguments[1]);
  if (collation == nullptr) {
    sqlite3_result_null(context);
  } else if (SameWord(property, "CodePage")) {
    sqlite3_result_int(context,
                       collation->code_page == CodePage::kCp1252 ? 1252 : 936);
  } else if (SameWord(property, "LCID")) {
    sqlite3_result_int(context, collation->bytes[0] | collation->bytes[1] << 8);
  } else {
    sqlite3_result_null(context);
  }
}

void DestroyDatabaseName(void* name) {
  delete static_cast<DatabaseName*>(name);
}

}  // namespace

void DefineServerFunctions(sqlite3* db, DatabaseName database_name) {
  sqlite3_create_function_v2(db, "db_name", 0, SQLITE_UTF8,
                             new DatabaseName(std::move(database_name)),
                             &DbName, nullptr, nullptr, &DestroyDatabaseName);
  sqlite3_create_function_v2(db, "databasepropertyex", 2, SQLITE_UTF8, nullptr,
                             &DatabasePropertyEx, nullptr, nullptr, nullptr);
  sqlite3_create_function_v2(db, "collationproperty", 2, SQLITE_UTF8, nullptr,
                             &CollationProperty, nullptr, nullptr, nullptr);
}

}  // namespace venuedb
