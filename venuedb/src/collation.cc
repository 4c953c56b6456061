#include "collation.h"

#include <strings.h>

#include <cstring>

namespace venuedb {

const Collation kDefaultCollation = {
    "Chinese_PRC_CI_AS", {0x04, 0x08, 0xD0, 0x00, 0x00}, CodePage::kGb18030};

namespace {

const Collation kLatin1Sql = {"SQL_Latin1_General_CP1_CI_AS",
                              {0x09, 0x04, 0xD0, 0x00, 0x34},
                              CodePage::kCp1252};
const Collation kLatin1Windows = {
    "Latin1_General_CI_AS", {0x09, 0x04, 0xD0, 0x00, 0x00}, CodePage::kCp1252};

const Collation* const kCollations[] = {&kDefaultCollation, &kLatin1Sql,
                                        &kLatin1Windows};

bool SameName(const std::string& a, const char* b) {
  return a.size() == std::strlen(b) && strncasecmp(a.c_str(), b, a.size()) == 0;
}

// The case-folded byte of a single-byte character.
unsigned char Fold(unsigned char b, CodePage page) {
  if (b >= 'A' && b <= 'Z') return static_cast<unsigned char>(b + 0x20);
  if (page != CodePage::kCp1252) return b;
  // À..Þ (not ×), Š Œ Ž, Ÿ.
  if (b >= 0xC0 && b <= 0xDE && b != 0xD7)
    return static_cast<unsigned char>(b + 0x20);
  if (b == 0x8A || b == 0x8C || b == 0x8E)
    return static_cast<unsigned char>(b + 0x10);
  if (b == 0x9F) return 0xFF;
  return b;
}

// A GB18030 multi-byte character is compared as its bytes: only a byte that
// is a character by itself is folded.
int Compare(void* context, int size_a, const void* a, int size_b,
            const void* b) {
  const CodePage page = static_cast<const Collation*>(context)->code_page;
  const auto* pa = static_cast<const unsigned char*>(a);
  const auto* pb = static_cast<const unsigned char*>(b);
  bool in_a = false, in_b = false;  // the next byte is a GB18030 trail byte
  for (int i = 0; i < size_a && i < size_b; ++i) {
    unsigned char ca = in_a ? pa[i] : Fold(pa[i], page);
    unsigned char cb = in_b ? pb[i] : Fold(pb[i], page);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (page == CodePage::kGb18030) {
      in_a = !in_a && pa[i] >= 0x81 && pa[i] <= 0xFE;
      in_b = !in_b && pb[i] >= 0x81 && pb[i] <= 0xFE;
    }
  }
  return size_a == size_b ? 0 : size_a < size_b ? -1 : 1;
}

}  // namespace

const Collation* FindCollation(const std::string& name) {
  for (const Collation* c : kCollations) {
    if (SameName(name, c->name)) return c;
  }
  return nullptr;
}

std::string CollationNames() {
  std::string names;
  for (const Collation* c : kCollations) {
    if (!names.empty()) names += ", ";
    names += c->name;
  }
  return names;
}

std::string InvalidCollationMessage(const std::string& name) {
  return "Invalid collation '" + name + "'.";
}

int RegisterCollations(sqlite3* db) {
  for (const Collation* c : kCollations) {
    int rc = sqlite3_create_collation(db, c->name, SQLITE_UTF8,
                                      const_cast<Collation*>(c), Compare);
    if (rc != SQLITE_OK) return rc;
  }
  return SQLITE_OK;
}

const Collation* ColumnCollation(sqlite3_stmt* stmt, int column,
                                 const Collation* database_default) {
  const char* table = sqlite3_column_table_name(stmt, column);
  const char* origin = sqlite3_column_origin_name(stmt, column);
  if (!table || !origin) return database_default;
  const char* declared = nullptr;
  if (sqlite3_table_column_metadata(sqlite3_db_handle(stmt),
                                    sqlite3_column_database_name(stmt, column),
                                    table, origin, nullptr, &declared, nullptr,
                                    nullptr, nullptr) != SQLITE_OK ||
      !declared) {
    return database_default;
  }
  const Collation* own = FindCollation(declared);
  return own ? own : database_default;
}

}  // namespace venuedb
