// The settings as the library reads them (through its own reader), and what in
// the file it would silently get wrong: keys it never reads, a port it drops,
// an empty FileServerIP, a byte-order mark.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "frame/settings.h"
#include "platform/settings_file.h"
#include "status_model.h"

namespace rondel {
namespace tools {

namespace {

struct KnownKey {
  const char* section;
  const char* key;
  const char* default_value;
  size_t read_length;  // texts: the library's read length, which keeps one
                       // byte less (frame/settings.cc); 0 for numbers
};

// Every key the library reads, in the order shown.
constexpr KnownKey kKnownKeys[] = {
    {"MainServer", "DataBaseServerIp", "127.0.0.1", 20},
    {"MainServer", "DataBaseServerPort", "", 0},
    {"KTV", "DataBaseName", "karaok", 255},
    {"MainServer", "UserName", "sa", 255},
    {"MainServer", "PassWord", "", 255},
    {"MainServer", "ClientCharset", "GB18030", sizeof Settings::client_charset},
    {"MainServer", "FileServerIP", "", 20},
    {"VideoServer", "KeepUnsentPlays", "1", 0},
    {"VideoServer", "RandPlayType", "2", 0},
};

// The reader's own bound: nothing past it is read.
constexpr size_t kMostBytesRead = 4u << 20;

std::string Lower(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return text;
}

std::string Trimmed(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1,
                         diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

const KnownKey* Known(const std::string& section, const std::string& key) {
  for (const KnownKey& known : kKnownKeys) {
    if (Lower(known.section) == Lower(section) &&
        Lower(known.key) == Lower(key)) {
      return &known;
    }
  }
  return nullptr;
}

// Why a key line of the file is one the library never reads.
std::string UnknownKeyWarning(const std::string& section,
                              const std::string& key) {
  std::string warning =
      "[" + section + "] " + key + "= is not a key this library reads";
  for (const KnownKey& known : kKnownKeys) {
    if (Lower(known.key) == Lower(key)) {
      return warning + "; " + known.key + " belongs in [" + known.section + "]";
    }
  }
  const KnownKey* nearest = nullptr;
  size_t best = 3;  // at most two letters apart
  for (const KnownKey& known : kKnownKeys) {
    const size_t distance = EditDistance(Lower(known.key), Lower(key));
    if (distance < best) {
      best = distance;
      nearest = &known;
    }
  }
  if (nearest != nullptr)
    warning += std::string("; did you mean ") + nearest->key + "?";
  return warning;
}

// The file's key lines the library would not read, and a byte-order mark.
void CheckFileShape(const std::string& path, SettingsStatus* status) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes;
  bytes.resize(kMostBytesRead);
  in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) {
    status->warnings.push_back(
        "the file starts with a UTF-8 byte-order mark: read here, but the "
        "Windows library takes it for part of the first line, so its first "
        "section is not found there; save the file without it");
    bytes.erase(0, 3);
  }
  std::string section;
  size_t at = 0;
  while (at < bytes.size()) {
    size_t end = bytes.find('\n', at);
    if (end == std::string::npos) end = bytes.size();
    const std::string line = Trimmed(bytes.substr(at, end - at));
    at = end + 1;
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      const size_t close = line.find(']');
      if (close != std::string::npos)
        section = Trimmed(line.substr(1, close - 1));
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = Trimmed(line.substr(0, equals));
    if (Known(section, key) == nullptr) {
      status->warnings.push_back(UnknownKeyWarning(section, key));
    }
  }
}

std::string Read(const std::string& path, const KnownKey& known, bool* found) {
  char value[4096];
  // A value absent from the file reads back as a default no value can hold.
  static const char kAbsent[] = "\x01";
  platform::ReadProfileString(path.c_str(), known.section, known.key, kAbsent,
                              value, sizeof value);
  *found = std::string(value) != kAbsent;
  return *found ? value : known.default_value;
}

}  // namespace

SettingsStatus ReadSettingsStatus(const std::string& file,
                                  const std::string& from) {
  SettingsStatus status;
  status.file = file;
  status.from = from;
  const platform::FileError error = platform::ProbeProfile(file.c_str());
  status.readable = error.ok();
  if (!status.readable) status.error = error.ToString();
  for (const KnownKey& known : kKnownKeys) {
    SettingValue setting{known.section, known.key, "", false};
    std::string value = status.readable ? Read(file, known, &setting.from_file)
                                        : known.default_value;
    const std::string key = known.key;
    if (known.read_length != 0 && value.size() >= known.read_length) {
      value.resize(known.read_length - 1);
      status.warnings.push_back(
          key + " is longer than the library keeps: it uses its first " +
          std::to_string(known.read_length - 1) + " bytes" +
          (key == "PassWord" ? "" : " (\"" + value + "\")"));
    }
    if (key == "PassWord") {
      setting.shown = value.empty() ? "(empty)" : "********";
      status.password = value;
    } else if (key == "DataBaseServerPort" && value.empty()) {
      setting.shown = "(none: the client library's default)";
    } else {
      setting.shown = value;
    }
    if (key == "DataBaseServerIp") status.server_address = value;
    if (key == "DataBaseName") status.database = value;
    if (key == "UserName") status.user = value;
    if (key == "ClientCharset") status.client_charset = value;
    if (key == "FileServerIP" && value.empty()) {
      status.warnings.push_back(
          "FileServerIP is empty: play and fire-alarm URLs would name no "
          "server");
    }
    status.values.push_back(setting);
  }
  const int port = status.readable
                       ? platform::ReadProfileInt(file.c_str(), "MainServer",
                                                  "DataBaseServerPort", 0)
                       : 0;
  if (port >= 1 && port <= 65535) {
    status.server_port = port;
  } else if (port != 0) {
    status.warnings.push_back(
        "DataBaseServerPort " + std::to_string(port) +
        " is out of range (1-65535): the client library's default port is "
        "used");
  }
  if (status.readable) CheckFileShape(file, &status);
  return status;
}

}  // namespace tools
}  // namespace rondel
