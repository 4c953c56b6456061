// The log's recent trouble. Two line formats are read, the older one without a
// process id and level, whose lines were all errors:
//   2026-12-08 05:08:46.171 login database server "127.0.0.1" error
//   2026-12-08 05:08:46.171 rondel[4711]: error: connecting to ... failed
// and a line's " (repeated N times)" counts N more of it.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "platform/file_error.h"
#include "platform/file_info.h"
#include "status_model.h"

namespace rondel {
namespace tools {

namespace {

// Only the log's end is read: a full log is 16 MiB.
constexpr uint64_t kTailBytes = 1u << 20;
constexpr size_t kProblemsShown = 8;
constexpr size_t kStampSize = 23;  // "YYYY-MM-DD HH:MM:SS.mmm"

bool IsStamp(const std::string& line) {
  if (line.size() <= kStampSize || line[kStampSize] != ' ') return false;
  static const char kShape[] = "dddd-dd-dd dd:dd:dd.ddd";
  for (size_t i = 0; i < kStampSize; ++i) {
    const bool digit = line[i] >= '0' && line[i] <= '9';
    if ((kShape[i] == 'd') != digit) return false;
    if (!digit && line[i] != kShape[i]) return false;
  }
  return true;
}

struct ParsedLine {
  std::string stamp;
  std::string level;
  std::string text;
  int64_t count = 1;
};

bool Parse(const std::string& line, ParsedLine* parsed) {
  if (!IsStamp(line)) return false;
  parsed->stamp = line.substr(0, kStampSize);
  std::string rest = line.substr(kStampSize + 1);
  parsed->level = "error";
  // "rondel[PID]: LEVEL: "
  const size_t bracket = rest.find("]: ");
  if (rest.rfind("rondel[", 0) == 0 && bracket != std::string::npos) {
    const size_t colon = rest.find(": ", bracket + 3);
    if (colon != std::string::npos) {
      parsed->level = rest.substr(bracket + 3, colon - bracket - 3);
      rest = rest.substr(colon + 2);
    }
  }
  static const char kRepeated[] = " (repeated ";
  const size_t at = rest.rfind(kRepeated);
  if (at != std::string::npos && rest.size() > 7 &&
      rest.compare(rest.size() - 7, 7, " times)") == 0) {
    const std::string number =
        rest.substr(at + std::strlen(kRepeated),
                    rest.size() - 7 - at - std::strlen(kRepeated));
    char* end = nullptr;
    const long long n = std::strtoll(number.c_str(), &end, 10);
    if (!number.empty() && *end == '\0' && n > 0) {
      parsed->count = n;
      rest.erase(at);
    }
  }
  parsed->text = rest;
  return true;
}

}  // namespace

LogStatus ReadLogStatus(const std::string& file, const std::string& from) {
  LogStatus status;
  status.file = file;
  status.from = from;
  platform::FileInfo info;
  if (!platform::GetFileInfo(file, &info)) return status;
  status.exists = true;
  status.size = info.size;
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    status.error = platform::ErrorText(errno);
    return status;
  }
  const uint64_t skip = status.size > kTailBytes ? status.size - kTailBytes : 0;
  in.seekg(static_cast<std::streamoff>(skip));
  std::string line;
  if (skip > 0) std::getline(in, line);  // the first line read is cut
  // Per distinct text and level, in the order of their last appearance.
  std::map<std::string, LogLine> seen;
  std::map<std::string, uint64_t> order;
  uint64_t sequence = 0;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ParsedLine parsed;
    if (!Parse(line, &parsed)) continue;
    if (parsed.level == "notice") {
      status.last_change = parsed.stamp + " " + parsed.text;
      continue;
    }
    if (parsed.level != "error" && parsed.level != "warning") continue;
    const std::string key = parsed.level + '\n' + parsed.text;
    LogLine& entry = seen[key];
    if (entry.count == 0) {
      entry.level = parsed.level;
      entry.text = parsed.text;
      entry.first = parsed.stamp;
    }
    entry.count += parsed.count;
    entry.last = parsed.stamp;
    order[key] = ++sequence;
  }
  std::vector<std::pair<uint64_t, std::string>> newest;
  for (const auto& [key, at] : order) newest.emplace_back(at, key);
  std::sort(newest.begin(), newest.end());
  const size_t first =
      newest.size() > kProblemsShown ? newest.size() - kProblemsShown : 0;
  for (size_t i = first; i < newest.size(); ++i) {
    status.problems.push_back(seen[newest[i].second]);
  }
  return status;
}

}  // namespace tools
}  // namespace rondel
