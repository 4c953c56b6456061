// The command line's checks, then the settings file's: the file is read with
// the rules of the library's settings reader (sections and keys matched
// without regard to ASCII case, blanks around them ignored, the first
// matching section and key winning, ';' and '#' comment lines, one pair of
// quotes stripped from a value, a UTF-8 byte-order mark skipped, at most
// 4 MiB read).
#include "venue_options.h"

#include <arpa/inet.h>
#include <errno.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace rondel {
namespace venue {

const char kUsage[] =
    "usage: rondel-venue (--diag-target IP:PORT | --broadcast) "
    "[--settings FILE]\n"
    "                    [--rooms N] [--threads M] [--seconds S] [--plays P]\n"
    "                    [--scale F] [--first-room A.B.C.D] [--json]\n"
    "\n"
    "A venue on the library: N rooms play one video after another on M host\n"
    "threads against the database of the settings file, with a live view on\n"
    "a terminal and a summary at the end.\n"
    "\n"
    "  --diag-target IP:PORT  where the library's diagnostic datagrams go (or\n"
    "                         RONDEL_DIAG_TARGET=IP:PORT); one is sent for\n"
    "                         nearly every call\n"
    "  --broadcast            send them to the venue's broadcast address, as "
    "a\n"
    "                         video server does; never the default\n"
    "  --settings FILE        the settings file naming the database: "
    "[MainServer]\n"
    "                         DataBaseServerIp and [KTV] DataBaseName (or\n"
    "                         RONDEL_SETTINGS_FILE=FILE)\n"
    "  --rooms N              rooms, 1 to 512 (24)\n"
    "  --threads M            host threads, 1 to 256 (4)\n"
    "  --seconds S            how long to play, above 0 (30)\n"
    "  --plays P              stop once P plays have begun (no limit)\n"
    "  --scale F              real seconds per second of video, above 0 "
    "(0.02)\n"
    "  --first-room A.B.C.D   the first room's address; the others follow it\n"
    "                         (10.0.1.10)\n"
    "  --json                 the summary as JSON\n"
    "  --help                 this text\n"
    "  --version              the version\n"
    "\n"
    "The summary's header names the database; its last line tells the plays\n"
    "saved apart: delivered, kept in the outbox to send later, and set aside\n"
    "as refused, counted from PlayRecords.outbox and PlayRecords.rejected in\n"
    "the snapshot directory before and after the run.\n"
    "\n"
    "Exit status: 0 the run ended (failed calls are counted in the summary);\n"
    "1 the settings file cannot be read or does not name the database; 2 a\n"
    "usage error: a bad or missing argument, no diagnostic target, no\n"
    "settings file.\n";

namespace {

constexpr size_t kMostSettingsBytes = 4 << 20;  // as the library reads

const char kSeeHelp[] = "; see rondel-venue --help";

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// A whole number in [low, high]; "" when it is one, else why not.
std::string ReadWhole(const std::string& flag, const std::string& text,
                      long low, long high, long* value) {
  const std::string range =
      "give " + std::to_string(low) + " to " + std::to_string(high);
  char* end = nullptr;
  errno = 0;
  const long number = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || text[0] == ' ') {
    return flag + " " + Quoted(text) + ": not a whole number; " + range;
  }
  if (errno == ERANGE || number < low || number > high) {
    return flag + " " + text + ": out of range; " + range;
  }
  *value = number;
  return "";
}

// A finite number above 0; "" when it is one, else why not.
std::string ReadPositive(const std::string& flag, const std::string& text,
                         double* value) {
  char* end = nullptr;
  const double number = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || text[0] == ' ' ||
      !std::isfinite(number)) {
    return flag + " " + Quoted(text) + ": not a number; give a number above 0";
  }
  if (number <= 0) {
    return flag + " " + text + ": out of range; give a number above 0";
  }
  *value = number;
  return "";
}

bool IsIpv4(const std::string& text, uint32_t* host_order) {
  in_addr address{};
  if (inet_pton(AF_INET, text.c_str(), &address) != 1) return false;
  *host_order = ntohl(address.s_addr);
  return true;
}

// "a.b.c.d:port" with a port of 1 to 65535, as the library takes it.
bool IsTarget(const std::string& text) {
  const size_t colon = text.rfind(':');
  uint32_t address = 0;
  if (colon == std::string::npos || !IsIpv4(text.substr(0, colon), &address))
    return false;
  const std::string port = text.substr(colon + 1);
  if (port.empty() || port.size() > 5 ||
      port.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const long number = std::strtol(port.c_str(), nullptr, 10);
  return number >= 1 && number <= 65535;
}

std::string TargetFault(const std::string& source, const std::string& text) {
  return source + " " + Quoted(text) +
         ": not IP:PORT; give an IPv4 address and a port from 1 to 65535, "
         "e.g. 127.0.0.1:6001";
}

// The checks of one option and its value; "" when they pass.
std::string ReadOption(const std::string& flag, const std::string& value,
                       Request* request) {
  Options& options = request->options;
  long whole = 0;
  std::string fault;
  if (flag == "--rooms") {
    fault = ReadWhole(flag, value, 1, 512, &whole);
    options.rooms = static_cast<int>(whole);
  } else if (flag == "--threads") {
    fault = ReadWhole(flag, value, 1, 256, &whole);
    options.threads = static_cast<int>(whole);
  } else if (flag == "--plays") {
    fault = ReadWhole(flag, value, 1, 1000000000L, &options.plays);
  } else if (flag == "--seconds") {
    fault = ReadPositive(flag, value, &options.seconds);
  } else if (flag == "--scale") {
    fault = ReadPositive(flag, value, &options.scale);
  } else if (flag == "--first-room") {
    uint32_t address = 0;
    if (!IsIpv4(value, &address)) {
      return flag + " " + Quoted(value) +
             ": not an IPv4 address; give four numbers, e.g. 10.0.1.10";
    }
    options.first_room = value;
  } else if (flag == "--settings") {
    request->settings_file = value;
  } else if (flag == "--diag-target") {
    if (!IsTarget(value)) return TargetFault(flag, value);
    request->diag_target = value;
  }
  return fault;
}

bool TakesValue(const std::string& flag) {
  static const char* const kFlags[] = {
      "--rooms", "--threads",    "--seconds",     "--plays",
      "--scale", "--first-room", "--diag-target", "--settings"};
  for (const char* known : kFlags) {
    if (flag == known) return true;
  }
  return false;
}

// The run as a whole: rooms whose addresses fit, a diagnostic target, a
// settings file.
std::string WholeFault(const Request& request, bool target_given) {
  uint32_t first = 0;
  IsIpv4(request.options.first_room, &first);
  if (static_cast<uint64_t>(first) +
          static_cast<uint64_t>(request.options.rooms) - 1 >
      UINT32_MAX) {
    return "--first-room " + request.options.first_room + " with " +
           std::to_string(request.options.rooms) +
           " rooms: the rooms' addresses would run past 255.255.255.255; "
           "give a lower first room or fewer rooms";
  }
  if (request.broadcast && target_given) {
    return "--broadcast and a diagnostic target (--diag-target or "
           "RONDEL_DIAG_TARGET) both given; give one of them";
  }
  if (!request.broadcast && !target_given) {
    return "no diagnostic target: the diagnostics of every call would go to "
           "the venue's broadcast address; give --diag-target IP:PORT (or "
           "RONDEL_DIAG_TARGET=IP:PORT), or --broadcast to send them there on "
           "purpose";
  }
  if (request.settings_file.empty()) {
    return "no settings file: give --settings FILE (or "
           "RONDEL_SETTINGS_FILE=FILE) naming the database ([MainServer] "
           "DataBaseServerIp, [KTV] DataBaseName); the simulator does not run "
           "on the library's defaults";
  }
  return "";
}

// ASCII letters folded, blanks around removed.
std::string Name(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  std::string name =
      text.substr(begin, text.find_last_not_of(" \t") + 1 - begin);
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return name;
}

// The value of `key` in the first section named `section`; "" when missing.
std::string ProfileValue(const std::string& text, const std::string& section,
                         const std::string& key) {
  bool in_section = false, seen_section = false;
  size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == ';' || line[first] == '#')
      continue;
    if (line[first] == '[') {
      const size_t close = line.find(']', first);
      if (close == std::string::npos) continue;
      if (seen_section && in_section) return "";
      in_section = Name(line.substr(first + 1, close - first - 1)) == section;
      seen_section = seen_section || in_section;
      continue;
    }
    const size_t equals = line.find('=');
    if (!in_section || equals == std::string::npos ||
        Name(line.substr(0, equals)) != key)
      continue;
    std::string value = line.substr(equals + 1);
    const size_t begin = value.find_first_not_of(" \t");
    if (begin == std::string::npos) return "";
    value = value.substr(begin, value.find_last_not_of(" \t") + 1 - begin);
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') &&
        value.back() == value[0]) {
      value = value.substr(1, value.size() - 2);
    }
    return value;
  }
  return "";
}

}  // namespace

Request ParseRequest(const std::vector<std::string>& arguments,
                     const char* settings_variable, const char* diag_variable) {
  Request request;
  for (const std::string& argument : arguments) {
    if (argument == "--help" || argument == "-h") {
      request.help = true;
      return request;
    }
    if (argument == "--version") {
      request.version = true;
      return request;
    }
  }
  bool target_given = false;
  if (settings_variable != nullptr) request.settings_file = settings_variable;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& flag = arguments[i];
    std::string fault;
    if (flag == "--json") {
      request.options.json = true;
    } else if (flag == "--broadcast") {
      request.broadcast = true;
    } else if (!TakesValue(flag)) {
      fault = "unknown argument " + Quoted(flag) + kSeeHelp;
    } else if (i + 1 >= arguments.size()) {
      fault = flag + " needs a value" + kSeeHelp;
    } else {
      fault = ReadOption(flag, arguments[++i], &request);
      target_given = target_given || flag == "--diag-target";
    }
    if (!fault.empty()) {
      request.status = kExitUsage;
      request.reason = fault;
      return request;
    }
  }
  // The variable counts only where no option gives the target.
  if (!target_given && diag_variable != nullptr) {
    if (!IsTarget(diag_variable)) {
      request.status = kExitUsage;
      request.reason = TargetFault("RONDEL_DIAG_TARGET", diag_variable);
      return request;
    }
    request.diag_target = diag_variable;
    target_given = true;
  }
  const std::string fault = WholeFault(request, target_given);
  if (!fault.empty()) {
    request.status = kExitUsage;
    request.reason = fault;
  }
  return request;
}

// The settings file's first bytes, as many as the library reads; false when
// it cannot be read.
bool ReadSettings(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (in) {
    text->resize(kMostSettingsBytes);
    in.read(&(*text)[0], static_cast<std::streamsize>(text->size()));
    text->resize(static_cast<size_t>(in.gcount()));
  }
  return in || in.eof();
}

std::string DatabaseNamed(const std::string& path) {
  std::string text;
  ReadSettings(path, &text);
  std::string server = ProfileValue(text, "mainserver", "databaseserverip");
  const long port = std::strtol(
      ProfileValue(text, "mainserver", "databaseserverport").c_str(), nullptr,
      10);
  if (port > 0 && server.find(':') == std::string::npos) {
    server += ":" + std::to_string(port);
  }
  return server + ", database " + ProfileValue(text, "ktv", "databasename");
}

std::string SettingsFault(const std::string& path) {
  std::string text;
  if (!ReadSettings(path, &text)) {
    const int error = errno != 0 ? errno : EIO;
    return "settings file " + Quoted(path) + ": " + std::strerror(error) +
           "; give a readable settings file naming the database with "
           "--settings FILE";
  }
  std::string missing;
  if (ProfileValue(text, "mainserver", "databaseserverip").empty()) {
    missing = "[MainServer] DataBaseServerIp";
  }
  if (ProfileValue(text, "ktv", "databasename").empty()) {
    missing +=
        (missing.empty() ? "" : ", ") + std::string("[KTV] DataBaseName");
  }
  if (missing.empty()) return "";
  return "settings file " + Quoted(path) + " does not name the database (" +
         missing + " missing); add the missing keys or give another file";
}

}  // namespace venue
}  // namespace rondel
