#include "procedure_harness.h"

#include <cctype>
#include <cstdlib>
#include <sstream>

namespace venuedb {

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

std::string Lower(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// "@name type [= default] [OUTPUT]" with an optional trailing comma.
bool ParseParam(std::string line, ParamDef* param) {
  if (!line.empty() && line.back() == ',') line.pop_back();
  std::istringstream in(line);
  std::string equals, value, output;
  in >> param->name >> param->type;
  if (param->name.size() < 2 || param->name[0] != '@' || param->type.empty())
    return false;
  param->is_int = Lower(param->type) == "int";
  if (in >> equals) {
    if (equals != "=" || !(in >> value)) return false;
    param->has_default = true;
    if (Lower(value) == "null") {
      param->default_value = Cell::Null();
    } else if (value.front() == '\'') {
      if (value.size() < 2 || value.back() != '\'') return false;
      param->default_value = Cell::Text(value.substr(1, value.size() - 2));
    } else {
      char* end = nullptr;
      long long n = std::strtoll(value.c_str(), &end, 10);
      if (*end != '\0') return false;
      param->default_value = Cell::Int(n);
    }
    if (in >> output) {
      if (Lower(output) != "output") return false;
      param->output = true;
    }
  }
  return !(in >> output);
}

bool ParseOne(const std::vector<std::string>& lines, ProcedureDef* proc,
              std::string* error) {
  size_t i = 0;
  while (i < lines.size() &&
         (Trim(lines[i]).empty() || Trim(lines[i]).rfind("--", 0) == 0))
    ++i;
  const std::string prefix = "CREATE PROCEDURE ";
  if (i == lines.size() || lines[i].rfind(prefix, 0) != 0) {
    *error = "expected CREATE PROCEDURE at: " +
             (i < lines.size() ? lines[i] : "end");
    return false;
  }
  proc->name = Trim(lines[i].substr(prefix.size()));
  for (++i; i < lines.size() && Trim(lines[i]) != "AS"; ++i) {
    ParamDef param;
    if (!ParseParam(Trim(lines[i]), &param)) {
      *error = proc->name + ": bad parameter line: " + lines[i];
      return false;
    }
    proc->params.push_back(param);
  }
  if (i == lines.size()) {
    *error = proc->name + ": no AS";
    return false;
  }
  for (++i; i < lines.size(); ++i) proc->body += lines[i] + "\n";
  return true;
}

Cell ColumnCell(sqlite3_stmt* stmt, int column) {
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_NULL:
      return Cell::Null();
    case SQLITE_INTEGER:
      return Cell::Int(sqlite3_column_int64(stmt, column));
    default: {
      const char* bytes =
          static_cast<const char*>(sqlite3_column_blob(stmt, column));
      return Cell::Text(
          std::string(bytes ? bytes : "",
                      static_cast<size_t>(sqlite3_column_bytes(stmt, column))));
    }
  }
}

const ParamDef* FindParam(const ProcedureDef& proc, const std::string& name) {
  for (const ParamDef& p : proc.params) {
    if (Lower(p.name) == Lower(name)) return &p;
  }
  return nullptr;
}

}  // namespace

bool ParseProcedures(const std::string& text,
                     std::vector<ProcedureDef>* procedures,
                     std::string* error) {
  std::vector<std::string> chunk;
  std::istringstream in(text);
  std::string line;
  auto flush = [&]() {
    bool empty = true;
    for (const std::string& l : chunk) {
      if (!Trim(l).empty() && Trim(l).rfind("--", 0) != 0) empty = false;
    }
    if (!empty) {
      ProcedureDef proc;
      if (!ParseOne(chunk, &proc, error)) return false;
      procedures->push_back(proc);
    }
    chunk.clear();
    return true;
  };
  while (std::getline(in, line)) {
    if (Trim(line) == "GO") {
      if (!flush()) return false;
    } else {
      chunk.push_back(line);
    }
  }
  return flush();
}

CallResult CallProcedure(sqlite3* db, const ProcedureDef& proc,
                         const std::map<std::string, Cell>& args) {
  CallResult result;
  for (const ParamDef& p : proc.params) result.params[p.name] = p.default_value;
  for (const auto& [name, value] : args) {
    const ParamDef* p = FindParam(proc, name);
    if (p == nullptr) {
      result.error = proc.name + " has no parameter " + name;
      return result;
    }
    result.params[p->name] = value;
  }
  const char* sql = proc.body.c_str();
  while (*sql != '\0') {
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, &tail) != SQLITE_OK) {
      result.error = sqlite3_errmsg(db);
      return result;
    }
    sql = tail;
    if (stmt == nullptr) continue;
    for (int i = 1; i <= sqlite3_bind_parameter_count(stmt); ++i) {
      const char* name = sqlite3_bind_parameter_name(stmt, i);
      const ParamDef* p = name ? FindParam(proc, name) : nullptr;
      if (p == nullptr) {
        result.error =
            std::string("undeclared parameter ") + (name ? name : "?");
        sqlite3_finalize(stmt);
        return result;
      }
      const Cell& v = result.params[p->name];
      if (v.kind == Cell::kInt) sqlite3_bind_int64(stmt, i, v.number);
      if (v.kind == Cell::kText) {
        sqlite3_bind_text(stmt, i, v.text.data(),
                          static_cast<int>(v.text.size()), SQLITE_TRANSIENT);
      }
    }
    int columns = sqlite3_column_count(stmt);
    bool assigns = columns > 0;
    ResultSet set;
    for (int c = 0; c < columns; ++c) {
      set.columns.push_back(sqlite3_column_name(stmt, c));
      if (set.columns.back().empty() || set.columns.back()[0] != '@')
        assigns = false;
    }
    int rc;
    bool first = true;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      std::vector<Cell> row;
      for (int c = 0; c < columns; ++c) row.push_back(ColumnCell(stmt, c));
      if (!assigns) {
        set.rows.push_back(row);
      } else if (first) {
        for (int c = 0; c < columns; ++c) {
          const std::string& column = set.columns[static_cast<size_t>(c)];
          if (column == "@@return") {
            result.return_status = row[static_cast<size_t>(c)].number;
          } else if (column == "@@error") {
            if (row[static_cast<size_t>(c)].kind != Cell::kNull) {
              result.error = row[static_cast<size_t>(c)].text;
              sqlite3_finalize(stmt);
              return result;
            }
          } else if (const ParamDef* p = FindParam(proc, column)) {
            result.params[p->name] = row[static_cast<size_t>(c)];
          } else {
            result.error = "assignment to undeclared " + column;
            sqlite3_finalize(stmt);
            return result;
          }
        }
      }
      first = false;
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) {
      result.error = sqlite3_errmsg(db);
      return result;
    }
    if (columns > 0 && !assigns) result.results.push_back(set);
  }
  result.ok = true;
  return result;
}

}  // namespace venuedb
