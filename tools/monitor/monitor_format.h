// How rondel-monitor writes what it receives: one line per diagnostic
// datagram, plain or JSON, and the table of texts with their counts.
//
// A datagram's payload is the library's text as bytes, usually ASCII, names in
// code page 936. Three ways to show it:
//   shown   printable ASCII as it is; a text that is valid code page 936
//           (GB18030) converted to UTF-8 when the terminal is UTF-8, left as
//           its bytes when the terminal itself is a Chinese code page; any
//           other byte, and every control byte, as \xHH. One datagram stays
//           one line.
//   raw     the bytes exactly as they arrived.
//   JSON    "text" holds the text converted to UTF-8 (null when it is no code
//           page 936 text) and "hex" every byte, so the line is valid JSON for
//           any payload.
#ifndef RONDEL_TOOLS_MONITOR_FORMAT_H_
#define RONDEL_TOOLS_MONITOR_FORMAT_H_

#include <cstddef>
#include <ctime>
#include <map>
#include <string>

namespace rondel {
namespace tools {

// What the terminal's character set (LC_CTYPE) allows.
enum class Terminal {
  kUtf8,     // converted code page 936 texts display
  kChinese,  // GBK, GB2312 or GB18030: the bytes display as they are
  kOther,    // only ASCII is safe
};

// The terminal kind of the current LC_CTYPE. REQUIRES: setlocale(LC_CTYPE,
// "") was called when the environment's locale should count.
Terminal CurrentTerminal();

// One received datagram.
struct Datagram {
  timespec received;   // wall-clock time of arrival
  std::string sender;  // "a.b.c.d:port"
  std::string text;    // the payload's bytes
};

// The text as a plain line shows it (see above).
std::string ShownText(const std::string& text, Terminal terminal);

// "HH:MM:SS.mmm SENDER TEXT" in local time, without the line end. `shown` is
// ShownText's result or the raw bytes.
std::string PlainLine(const Datagram& datagram, const std::string& shown);

// One JSON object, without the line end:
//   {"time":"2024-05-01T21:03:07.123+08:00","sender":"127.0.0.1:40000",
//    "size":4,"text":"...","hex":"b8e8c7fa"}
std::string JsonLine(const Datagram& datagram);

// Texts by their bytes, with how many datagrams carried each.
using TextCounts = std::map<std::string, long>;

// The count table: a header, one line per text (most frequent first, then by
// bytes), a total. Texts are shown as ShownText shows them, or raw.
std::string CountTable(const TextCounts& counts, Terminal terminal, bool raw);

// The counts as one JSON object on one line (no line end):
//   {"counts":[{"text":"...","hex":"...","count":3},...],"total":4}
std::string CountJson(const TextCounts& counts);

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_MONITOR_FORMAT_H_
