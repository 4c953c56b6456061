// dump: every record of one table, every field, as a table, CSV or JSON.
#include <strings.h>

#include <algorithm>
#include <string>
#include <vector>

#include "snapshot_actions.h"
#include "snapshot_view.h"

namespace rondel {
namespace tools {

namespace {

using snapshot::kTables;

snapshot::Table FindTableByName(const std::string& name) {
  for (int k = 0; k < snapshot::kTableCount; ++k) {
    if (strcasecmp(name.c_str(), kTables[k].table_name) == 0 ||
        strcasecmp(name.c_str(), kTables[k].file_name) == 0) {
      return static_cast<snapshot::Table>(k);
    }
  }
  return snapshot::kTableCount;
}

// Columns a UTF-8 text takes on a terminal: two for the wide (CJK) ranges.
size_t DisplayWidth(const std::string& text) {
  size_t width = 0;
  for (size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    unsigned code = length == 1 ? lead : lead & (0xFF >> (length + 1));
    for (size_t j = 1; j < length && i + j < text.size(); ++j) {
      code = (code << 6) | (static_cast<unsigned char>(text[i + j]) & 0x3F);
    }
    const bool wide = (code >= 0x1100 && code <= 0x115F) ||
                      (code >= 0x2E80 && code <= 0xA4CF) ||
                      (code >= 0xAC00 && code <= 0xD7A3) ||
                      (code >= 0xF900 && code <= 0xFAFF) ||
                      (code >= 0xFE30 && code <= 0xFE4F) ||
                      (code >= 0xFF00 && code <= 0xFF60) ||
                      (code >= 0xFFE0 && code <= 0xFFE6) || code >= 0x20000;
    width += wide ? 2 : 1;
    i += length;
  }
  return width;
}

// One field of a record as text for the table and CSV forms (paths of a file
// list joined by '|').
std::string PlainValue(const char* record, const FieldFormat& field, bool raw) {
  switch (field.kind) {
    case FieldKind::kInt32:
      return std::to_string(FieldInt(record, field));
    case FieldKind::kText:
      return TerminalText(FieldText(record, field), raw);
    case FieldKind::kFileList: {
      bool terminated = false;
      std::string joined;
      for (const std::string& path :
           FileListPaths(record + field.offset, field.size, &terminated)) {
        if (!joined.empty()) joined += '|';
        joined += TerminalText(path, raw);
      }
      return joined;
    }
  }
  return std::string();
}

std::string JsonText(const std::string& bytes, bool raw) {
  return raw ? JsonBytes(bytes) : JsonString(ConvertText(bytes));
}

std::string JsonValue(const char* record, const FieldFormat& field, bool raw) {
  switch (field.kind) {
    case FieldKind::kInt32:
      return std::to_string(FieldInt(record, field));
    case FieldKind::kText:
      return JsonText(FieldText(record, field), raw);
    case FieldKind::kFileList: {
      bool terminated = false;
      std::string list = "[";
      for (const std::string& path :
           FileListPaths(record + field.offset, field.size, &terminated)) {
        if (list.size() > 1) list += ',';
        list += JsonText(path, raw);
      }
      return list + "]";
    }
  }
  return "null";
}

void PrintTable(const TableFile& file, const std::vector<FieldFormat>& fields,
                bool raw, std::ostream& out) {
  std::vector<std::vector<std::string>> rows;
  rows.push_back({"#"});
  for (const FieldFormat& f : fields) rows[0].push_back(f.name);
  for (int32_t i = 0; i < file.count(); ++i) {
    std::vector<std::string> row = {std::to_string(i)};
    for (const FieldFormat& f : fields) {
      row.push_back(PlainValue(file.record(i), f, raw));
    }
    rows.push_back(row);
  }
  PrintAligned(rows, out);
}

}  // namespace

void PrintAligned(const std::vector<std::vector<std::string>>& rows,
                  std::ostream& out) {
  if (rows.empty()) return;
  std::vector<size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (size_t c = 0; c < row.size(); ++c) {
      widths[c] = std::max(widths[c], DisplayWidth(row[c]));
    }
  }
  for (const auto& row : rows) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) {
        line += std::string(widths[c] - DisplayWidth(row[c]) + 2, ' ');
      }
    }
    out << line << "\n";
  }
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

namespace {

void PrintCsv(const TableFile& file, const std::vector<FieldFormat>& fields,
              bool raw, std::ostream& out) {
  for (size_t c = 0; c < fields.size(); ++c) {
    out << (c ? "," : "") << fields[c].name;
  }
  out << "\r\n";
  for (int32_t i = 0; i < file.count(); ++i) {
    for (size_t c = 0; c < fields.size(); ++c) {
      out << (c ? "," : "")
          << CsvField(PlainValue(file.record(i), fields[c], raw));
    }
    out << "\r\n";
  }
}

void PrintJson(snapshot::Table table, const TableFile& file,
               const std::vector<FieldFormat>& fields, bool raw,
               std::ostream& out) {
  out << "{\"table\":" << JsonString(kTables[table].table_name)
      << ",\"records\":[";
  for (int32_t i = 0; i < file.count(); ++i) {
    out << (i ? ",\n" : "\n") << "{";
    for (size_t c = 0; c < fields.size(); ++c) {
      out << (c ? "," : "") << JsonString(fields[c].name) << ":"
          << JsonValue(file.record(i), fields[c], raw);
    }
    out << "}";
  }
  out << "\n]}\n";
}

}  // namespace

int DumpSnapshotTable(const std::string& directory, const std::string& name,
                      DumpFormat format, bool raw, std::ostream& out,
                      std::ostream& err) {
  const snapshot::Table table = FindTableByName(name);
  if (table == snapshot::kTableCount) {
    err << "rondel-snapshot: \"" << name << "\": not a table or a kept file\n";
    return 2;
  }
  const TableFile file = ReadSnapshotTable(directory, table);
  const std::vector<FieldFormat>& fields = RecordFields(table);
  // Stored counters out of range still show: the records were read.
  switch (format) {
    case DumpFormat::kTable:
      PrintTable(file, fields, raw, out);
      break;
    case DumpFormat::kCsv:
      PrintCsv(file, fields, raw, out);
      break;
    case DumpFormat::kJson:
      PrintJson(table, file, fields, raw, out);
      break;
  }
  if (!file.check.ok) {
    err << "rondel-snapshot: " << file.check.reason << "\n";
    return 1;
  }
  return 0;
}

}  // namespace tools
}  // namespace rondel
