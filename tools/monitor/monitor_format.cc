#include "monitor_format.h"

#include <langinfo.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "text_view.h"

namespace rondel {
namespace tools {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

bool IsControl(unsigned char byte) { return byte < 0x20 || byte == 0x7f; }

// Reads `text` as code page 936 (GB18030, its superset). The empty text is
// valid; Gb18030ToUtf8 answers empty only for the empty text or a failure.
bool DecodeGbk(const std::string& text, std::string* utf8) {
  if (text.empty()) {
    utf8->clear();
    return true;
  }
  *utf8 = Gb18030ToUtf8(text);
  return !utf8->empty();
}

void AppendEscaped(const std::string& bytes, std::string* out) {
  for (char c : bytes) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x80 || IsControl(byte) || c == '\\') {
      *out += "\\x";
      *out += kHexDigits[byte >> 4];
      *out += kHexDigits[byte & 0x0f];
    } else {
      *out += c;
    }
  }
}

std::string Hex(const std::string& bytes) {
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (char c : bytes) {
    unsigned char byte = static_cast<unsigned char>(c);
    hex += kHexDigits[byte >> 4];
    hex += kHexDigits[byte & 0x0f];
  }
  return hex;
}

// `utf8` as a JSON string, quotes included. The input is valid UTF-8 (it
// comes from iconv), so only quotes, backslashes and control bytes need
// escapes.
std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (char c : utf8) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      out += "\\u00";
      out += kHexDigits[byte >> 4];
      out += kHexDigits[byte & 0x0f];
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

// The text's "text" and "hex" members, shared by the datagram lines and the
// count table.
std::string JsonTextMembers(const std::string& text) {
  std::string utf8;
  std::string out = "\"text\":";
  out += DecodeGbk(text, &utf8) ? JsonString(utf8) : "null";
  out += ",\"hex\":\"" + Hex(text) + "\"";
  return out;
}

std::string LocalTime(const timespec& when, const char* format) {
  tm local;
  localtime_r(&when.tv_sec, &local);
  char buffer[64];
  size_t length = std::strftime(buffer, sizeof(buffer), format, &local);
  return std::string(buffer, length);
}

std::string Milliseconds(const timespec& when) {
  char buffer[24];
  std::snprintf(buffer, sizeof(buffer), ".%03ld", when.tv_nsec / 1000000);
  return buffer;
}

}  // namespace

Terminal CurrentTerminal() {
  const char* codeset = nl_langinfo(CODESET);
  if (codeset == nullptr) return Terminal::kOther;
  if (std::strcmp(codeset, "UTF-8") == 0) return Terminal::kUtf8;
  for (const char* chinese : {"GBK", "GB2312", "GB18030", "EUC-CN"}) {
    if (std::strcmp(codeset, chinese) == 0) return Terminal::kChinese;
  }
  return Terminal::kOther;
}

std::string ShownText(const std::string& text, Terminal terminal) {
  // No multibyte code page 936 character contains a control byte, so the text
  // splits at them without cutting a character: each run between control
  // bytes is converted (or escaped) on its own, and the control bytes are
  // always escaped.
  std::string shown;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = start;
    while (end < text.size() &&
           !IsControl(static_cast<unsigned char>(text[end])))
      ++end;
    const std::string run = text.substr(start, end - start);
    std::string utf8;
    bool ascii = std::none_of(run.begin(), run.end(), [](char c) {
      return static_cast<unsigned char>(c) >= 0x80;
    });
    if (ascii) {
      shown += run;
    } else if (terminal == Terminal::kUtf8 && DecodeGbk(run, &utf8)) {
      shown += utf8;
    } else if (terminal == Terminal::kChinese && DecodeGbk(run, &utf8)) {
      shown += run;
    } else {
      AppendEscaped(run, &shown);
    }
    if (end == text.size()) break;
    AppendEscaped(text.substr(end, 1), &shown);
    start = end + 1;
  }
  return shown;
}

std::string PlainLine(const Datagram& datagram, const std::string& shown) {
  return LocalTime(datagram.received, "%H:%M:%S") +
         Milliseconds(datagram.received) + " " + datagram.sender + " " + shown;
}

std::string JsonLine(const Datagram& datagram) {
  // ISO 8601 wants the offset as +hh:mm; strftime gives +hhmm.
  std::string offset = LocalTime(datagram.received, "%z");
  if (offset.size() == 5) offset.insert(3, ":");
  const std::string time = LocalTime(datagram.received, "%Y-%m-%dT%H:%M:%S") +
                           Milliseconds(datagram.received) + offset;
  return "{\"time\":\"" + time + "\",\"sender\":\"" + datagram.sender +
         "\",\"size\":" + std::to_string(datagram.text.size()) + "," +
         JsonTextMembers(datagram.text) + "}";
}

namespace {

// Most frequent first; equal counts in byte order, so the table is the same
// from run to run.
std::vector<std::pair<std::string, long>> ByCount(const TextCounts& counts) {
  std::vector<std::pair<std::string, long>> rows(counts.begin(), counts.end());
  std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
    return a.second > b.second;
  });
  return rows;
}

}  // namespace

std::string CountTable(const TextCounts& counts, Terminal terminal, bool raw) {
  std::string table = "  count  text\n";
  long total = 0;
  char number[32];
  for (const auto& row : ByCount(counts)) {
    std::snprintf(number, sizeof(number), "%7ld  ", row.second);
    table += number;
    table += raw ? row.first : ShownText(row.first, terminal);
    table += '\n';
    total += row.second;
  }
  std::snprintf(number, sizeof(number), "%7ld  ", total);
  table += number;
  table += "(total)\n";
  return table;
}

std::string CountJson(const TextCounts& counts) {
  std::string json = "{\"counts\":[";
  long total = 0;
  bool first = true;
  for (const auto& row : ByCount(counts)) {
    if (!first) json += ',';
    first = false;
    json += "{" + JsonTextMembers(row.first) +
            ",\"count\":" + std::to_string(row.second) + "}";
    total += row.second;
  }
  json += "],\"total\":" + std::to_string(total) + "}";
  return json;
}

}  // namespace tools
}  // namespace rondel
