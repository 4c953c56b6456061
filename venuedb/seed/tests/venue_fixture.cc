#include "venue_fixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "../row_writer.h"

namespace venuedb {

std::string ReadSqlFile(const std::string& name) {
  std::ifstream in(std::string(VENUEDB_SQL_DIR) + "/" + name, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

DbHandle SeededVenue(const SeedOptions& options, SeedSummary* summary) {
  sqlite3* raw = nullptr;
  sqlite3_open(":memory:", &raw);
  DbHandle db(raw);
  std::string schema = ReadSqlFile("schema.sql");
  EXPECT_FALSE(schema.empty());
  std::string error;
  EXPECT_TRUE(Execute(db.get(), schema.c_str(), &error)) << error;
  SeedSummary ignored;
  EXPECT_TRUE(
      SeedVenue(db.get(), options, summary ? summary : &ignored, &error))
      << error;
  return db;
}

std::vector<std::vector<Cell>> Query(sqlite3* db, const std::string& sql) {
  std::vector<std::vector<Cell>> rows;
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
  Statement owned(stmt);
  if (rc != SQLITE_OK) {
    ADD_FAILURE() << sqlite3_errmsg(db) << " in: " << sql;
    return rows;
  }
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    std::vector<Cell> row;
    for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
      switch (sqlite3_column_type(stmt, c)) {
        case SQLITE_NULL:
          row.push_back(Cell::Null());
          break;
        case SQLITE_INTEGER:
          row.push_back(Cell::Int(sqlite3_column_int64(stmt, c)));
          break;
        default: {
          const char* bytes =
              static_cast<const char*>(sqlite3_column_blob(stmt, c));
          row.push_back(Cell::Text(
              std::string(bytes ? bytes : "",
                          static_cast<size_t>(sqlite3_column_bytes(stmt, c)))));
        }
      }
    }
    rows.push_back(row);
  }
  return rows;
}

int64_t QueryInt(sqlite3* db, const std::string& sql) {
  auto rows = Query(db, sql);
  if (rows.empty() || rows[0].empty()) {
    ADD_FAILURE() << "no value from: " << sql;
    return -1;
  }
  return rows[0][0].number;
}

std::string DumpTables(sqlite3* db) {
  std::string dump;
  for (const auto& table : Query(db,
                                 "SELECT name FROM sqlite_master WHERE type = "
                                 "'table' ORDER BY name")) {
    dump += "table " + table[0].text + "\n";
    for (const auto& row :
         Query(db, "SELECT * FROM \"" + table[0].text + "\"")) {
      for (const Cell& cell : row) {
        dump += cell.kind == Cell::kNull ? "N|"
                : cell.kind == Cell::kInt
                    ? "I" + std::to_string(cell.number) + "|"
                    : "T" + cell.text + "|";
      }
      dump += "\n";
    }
  }
  return dump;
}

}  // namespace venuedb
