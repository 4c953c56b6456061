// summary and verify of the kept files (kept_files.h), and what the kept
// files' views share (kept_files_view.h). Texts are shown by EscapedText, so
// no byte is lost; JSON carries the same model as the lines.
#include <strings.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "kept_files.h"
#include "kept_files_view.h"
#include "snapshot_actions.h"
#include "snapshot_view.h"

namespace rondel {
namespace tools {

namespace {

std::string Quoted(const std::string& bytes) {
  return "\"" + EscapedText(bytes) + "\"";
}

std::string Time(int64_t written, const char* format) {
  const time_t seconds = static_cast<time_t>(written);
  struct tm utc;
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, format, &utc);
  return text;
}

std::string Written(int64_t written) {
  return Time(written, "%Y-%m-%d %H:%M:%S UTC");
}

std::string JsonWritten(int64_t written) {
  return written == 0 ? "null"
                      : JsonString(Time(written, "%Y-%m-%dT%H:%M:%SZ"));
}

// What verify reports, and --json carries.
struct Finding {
  const char* level;  // "error" or "warning"
  int64_t offset;     // -1: not a place in the file
  uint64_t size;
  std::string text;  // starts with the file's name
};

std::vector<Finding> PlaysFindings(const PlaysFile& file) {
  std::vector<Finding> findings;
  if (file.state == KeptState::kUnreadable) {
    findings.push_back({"error", -1, 0, file.error});
  }
  if (file.other_magic) {
    findings.push_back(
        {"error", 0, file.size,
         file.name + ": not a " +
             (IsOutbox(file) ? "play outbox" : "rejected-plays file") +
             " (it begins " + Quoted(file.magic) + "): the library " +
             (IsOutbox(file)
                  ? "sets its " + Plural(file.size, "byte", "bytes") +
                        " aside at its next load"
                  : "moves it aside at its next set-aside")});
  }
  for (const KeptEntry& entry : file.entries) {
    const int64_t at = static_cast<int64_t>(entry.offset);
    const std::string where = file.name + ": " +
                              Plural(entry.size, "byte", "bytes") +
                              " at offset " + std::to_string(entry.offset);
    switch (entry.kind) {
      case KeptEntry::kDamaged:
        findings.push_back(
            {"error", at, entry.size,
             where +
                 " do not decode: skipped, the entries after them are "
                 "read" +
                 (IsOutbox(file) ? " (the library sets them aside at its "
                                   "next load)"
                                 : "")});
        break;
      case KeptEntry::kStrayMark:
        findings.push_back(
            {"error", at, entry.size,
             file.name + ": the sent mark at offset " +
                 std::to_string(entry.offset) + " (" +
                 std::to_string(entry.sent) + ") " +
                 (IsOutbox(file) ? "is not one a writer makes"
                                 : "is in a file of plays only") +
                 ": skipped"});
        break;
      case KeptEntry::kTornTail:
        findings.push_back({"warning", at, entry.size,
                            where +
                                " end the file undecoded, a write cut short: "
                                "cut off before the next append"});
        break;
      default:
        break;
    }
  }
  if (file.torn_bytes > 0 && file.entries.empty()) {
    findings.push_back({"warning", 0, file.torn_bytes,
                        file.name + ": " +
                            Plural(file.torn_bytes, "byte", "bytes") +
                            " of its magic only, a creation cut short"});
  }
  if (file.first_unsent_set_aside) {
    findings.push_back(
        {"warning", -1, 0,
         file.name + ": its oldest unsent play is the last one set aside in " +
             outbox::kRejectedFileName +
             " (before a stop): the library's next load lets it leave "
             "unsent"});
  }
  for (const AsideFile& aside : file.aside) {
    findings.push_back({"warning", -1, 0,
                        aside.name + ": " +
                            Plural(aside.size, "byte", "bytes") +
                            " set aside earlier, for someone to look at"});
  }
  return findings;
}

std::vector<Finding> FireAlarmFindings(const FireAlarmFile& file) {
  if (file.state == KeptState::kUnreadable) {
    return {{"error", -1, 0, file.error}};
  }
  if (file.state == KeptState::kDamaged) {
    return {{"error", -1, 0,
             file.name + ": " + file.fault + ": nothing is served from it"}};
  }
  return {};
}

std::string PlaysLine(const PlaysFile& file) {
  std::string line;
  switch (file.state) {
    case KeptState::kAbsent:
      line =
          IsOutbox(file) ? "absent: no plays kept" : "absent: none set aside";
      break;
    case KeptState::kUnreadable:
      return "unreadable: " + file.error;
    default:
      if (file.other_magic) {
        line = "not a file of its kind (" + Plural(file.size, "byte", "bytes") +
               ")";
        break;
      }
      if (IsOutbox(file)) {
        line = Plural(file.plays, "play", "plays") +
               " kept: " + std::to_string(file.sent) + " sent, " +
               std::to_string(file.unsent()) + " unsent";
        if (const KeptEntry* oldest = file.OldestUnsent()) {
          line += ", oldest unsent begun " + Quoted(oldest->play.begin_time) +
                  ", newest " + Quoted(file.NewestUnsent()->play.begin_time);
        }
      } else {
        line = Plural(file.plays, "play", "plays") + " set aside";
      }
      if (file.damaged_bytes > 0) {
        line += "; " +
                Plural(file.damaged_bytes, "damaged byte", "damaged bytes") +
                " skipped";
      }
      if (file.torn_bytes > 0) {
        line += "; a torn end of " + Plural(file.torn_bytes, "byte", "bytes");
      }
  }
  if (!file.aside.empty()) {
    line += "; " + Plural(file.aside_bytes(), "byte", "bytes") +
            " kept aside in " + file.aside[0].name;
    if (file.aside.size() > 1)
      line += " and " + Plural(file.aside.size() - 1, "more", "more");
  }
  if (file.written != 0) line += "; written " + Written(file.written);
  return line;
}

std::string FireAlarmLine(const FireAlarmFile& file) {
  switch (file.state) {
    case KeptState::kAbsent:
      return "absent: nothing remembered";
    case KeptState::kUnreadable:
      return "unreadable: " + file.error;
    case KeptState::kDamaged:
      return "damaged: " + file.fault + "; written " + Written(file.written);
    case KeptState::kWhole:
      break;
  }
  const fire_alarm::Answers& a = file.answers;
  return Plural(a.files.size(), "address", "addresses") +
         " remembered, default " +
         (a.default_file ? Quoted(*a.default_file) : "none") + ", page " +
         (a.page ? Quoted(*a.page) : "none") + "; written " +
         Written(file.written);
}

std::string JsonFindings(const std::vector<Finding>& findings) {
  std::string json = "[";
  for (const Finding& f : findings) {
    if (json.size() > 1) json += ",";
    json += "{\"level\":" + JsonString(f.level) + ",\"offset\":" +
            (f.offset < 0 ? "null" : std::to_string(f.offset)) +
            ",\"size\":" + std::to_string(f.size) +
            ",\"text\":" + JsonString(EscapedText(f.text)) + "}";
  }
  return json + "]";
}

std::string JsonPlayOrNull(const KeptEntry* entry) {
  return entry ? "{" + JsonPlay(entry->play, false) + "}" : "null";
}

std::string JsonHead(const std::string& name, KeptState state,
                     const std::string& error, uint64_t size, int64_t written) {
  return "{\"file\":" + JsonString(name) +
         ",\"state\":" + JsonString(KeptStateName(state)) + ",\"error\":" +
         (error.empty() ? "null" : JsonString(EscapedText(error))) +
         ",\"size\":" + std::to_string(size) +
         ",\"written\":" + JsonWritten(written);
}

std::string PlaysJson(const PlaysFile& file) {
  std::string json =
      JsonHead(file.name, file.state, file.error, file.size, file.written) +
      ",\"plays\":" + std::to_string(file.plays);
  if (IsOutbox(file)) {
    json += ",\"sent\":" + std::to_string(file.sent) +
            ",\"unsent\":" + std::to_string(file.unsent()) +
            ",\"oldest_unsent\":" + JsonPlayOrNull(file.OldestUnsent()) +
            ",\"newest_unsent\":" + JsonPlayOrNull(file.NewestUnsent()) +
            ",\"first_unsent_set_aside\":" +
            (file.first_unsent_set_aside ? "true" : "false");
  }
  json += ",\"damaged_bytes\":" + std::to_string(file.damaged_bytes) +
          ",\"torn_bytes\":" + std::to_string(file.torn_bytes) +
          ",\"kept_aside\":[";
  for (size_t i = 0; i < file.aside.size(); ++i) {
    json += (i ? ",{\"file\":" : "{\"file\":") +
            JsonString(file.aside[i].name) +
            ",\"size\":" + std::to_string(file.aside[i].size) + "}";
  }
  return json + "],\"findings\":" + JsonFindings(PlaysFindings(file)) + "}\n";
}

std::string FireAlarmJson(const FireAlarmFile& file) {
  const fire_alarm::Answers& a = file.answers;
  std::string json =
      JsonHead(file.name, file.state, file.error, file.size, file.written) +
      ",\"fault\":" + (file.fault.empty() ? "null" : JsonString(file.fault)) +
      ",\"default\":" +
      (a.default_file ? JsonText(*a.default_file, false) : "null") +
      ",\"page\":" + (a.page ? JsonText(*a.page, false) : "null") +
      ",\"files\":[";
  bool first = true;
  for (const auto& [address, file_name] : a.files) {
    json += std::string(first ? "" : ",") +
            "{\"Address\":" + JsonText(address, false) +
            ",\"FileName\":" + JsonText(file_name, false) + "}";
    first = false;
  }
  return json + "],\"findings\":" + JsonFindings(FireAlarmFindings(file)) +
         "}\n";
}

// verify's lines: the findings, then a verdict with their counts.
int PrintVerify(const std::vector<Finding>& findings, const std::string& name,
                const std::string& verdict, bool damaged, std::ostream& out) {
  int errors = 0;
  for (const Finding& f : findings) {
    out << (f.level[0] == 'e' ? "error    " : "warning  ") << f.text << "\n";
    errors += f.level[0] == 'e';
  }
  out << "verdict  " << name << " " << verdict << " ("
      << Plural(static_cast<uint64_t>(errors), "error", "errors") << ", "
      << Plural(findings.size() - static_cast<size_t>(errors), "warning",
                "warnings")
      << ")\n";
  return damaged ? 1 : 0;
}

std::string PlaysVerdict(const PlaysFile& file) {
  std::string plays = Plural(file.plays, "play", "plays");
  plays += IsOutbox(file) ? " (" + std::to_string(file.unsent()) + " unsent)"
                          : std::string(" set aside");
  switch (file.state) {
    case KeptState::kAbsent:
      return IsOutbox(file) ? "is absent: no plays kept"
                            : "is absent: none set aside";
    case KeptState::kUnreadable:
      return "cannot be read";
    case KeptState::kWhole:
      return "is whole: " + plays;
    case KeptState::kDamaged:
      break;
  }
  if (file.other_magic) return "is not a file of its kind: nothing is read";
  return "is damaged: " + Plural(file.damaged_bytes, "byte", "bytes") +
         " skipped, " + plays + " read";
}

std::string FireAlarmVerdict(const FireAlarmFile& file) {
  switch (file.state) {
    case KeptState::kAbsent:
      return "is absent: nothing remembered";
    case KeptState::kUnreadable:
      return "cannot be read";
    case KeptState::kDamaged:
      return "is damaged: the library ignores it";
    case KeptState::kWhole:
      break;
  }
  return "is whole: " +
         Plural(file.answers.files.size(), "address", "addresses") +
         (file.answers.default_file ? ", a default" : ", no default") +
         (file.answers.page ? ", a page" : ", no page");
}

}  // namespace

std::string Plural(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Shown(const std::string& bytes, bool raw) {
  return raw ? TerminalText(bytes, true) : EscapedText(bytes);
}

std::string JsonText(const std::string& bytes, bool raw) {
  return raw ? JsonBytes(bytes) : JsonString(EscapedText(bytes));
}

bool IsOutbox(const PlaysFile& file) {
  return file.kind == PlaysFileKind::kOutbox;
}

std::string JsonPlay(const PlayRecord& play, bool raw) {
  return "\"MediaId\":" + std::to_string(play.media_id) +
         ",\"RoomAddress\":" + JsonText(play.room_address, raw) +
         ",\"BeginTime\":" + JsonText(play.begin_time, raw) +
         ",\"EndTime\":" + JsonText(play.end_time, raw) +
         ",\"SongType\":" + std::to_string(play.song_type);
}

bool Failed(KeptState state) {
  return state == KeptState::kDamaged || state == KeptState::kUnreadable;
}

KeptFile FindKeptFile(const std::string& name) {
  if (strcasecmp(name.c_str(), outbox::kFileName) == 0) {
    return KeptFile::kOutbox;
  }
  if (strcasecmp(name.c_str(), outbox::kRejectedFileName) == 0) {
    return KeptFile::kRejected;
  }
  if (strcasecmp(name.c_str(), fire_alarm::kFileName) == 0) {
    return KeptFile::kFireAlarm;
  }
  return KeptFile::kNone;
}

void SummarizeKeptFiles(const std::string& directory, std::ostream& out) {
  const KeptFiles kept = ReadKeptFiles(directory);
  char name[32];
  for (const PlaysFile* file : {&kept.outbox, &kept.rejected}) {
    std::snprintf(name, sizeof name, "%-22s", file->name.c_str());
    out << name << PlaysLine(*file) << "\n";
  }
  std::snprintf(name, sizeof name, "%-22s", kept.fire_alarm.name.c_str());
  out << name << FireAlarmLine(kept.fire_alarm) << "\n";
}

int SummarizeKeptFile(const std::string& directory, KeptFile which, bool json,
                      std::ostream& out) {
  const KeptFiles kept = ReadKeptFiles(directory);
  if (which == KeptFile::kFireAlarm) {
    out << (json ? FireAlarmJson(kept.fire_alarm)
                 : kept.fire_alarm.name + ": " +
                       FireAlarmLine(kept.fire_alarm) + "\n");
    return 0;
  }
  const PlaysFile& file =
      which == KeptFile::kOutbox ? kept.outbox : kept.rejected;
  out << (json ? PlaysJson(file) : file.name + ": " + PlaysLine(file) + "\n");
  return 0;
}

int VerifyKeptFile(const std::string& directory, KeptFile which, bool json,
                   std::ostream& out) {
  const KeptFiles kept = ReadKeptFiles(directory);
  if (which == KeptFile::kFireAlarm) {
    const FireAlarmFile& file = kept.fire_alarm;
    if (json) {
      out << FireAlarmJson(file);
      return Failed(file.state) ? 1 : 0;
    }
    return PrintVerify(FireAlarmFindings(file), file.name,
                       FireAlarmVerdict(file), Failed(file.state), out);
  }
  const PlaysFile& file =
      which == KeptFile::kOutbox ? kept.outbox : kept.rejected;
  if (json) {
    out << PlaysJson(file);
    return Failed(file.state) ? 1 : 0;
  }
  return PrintVerify(PlaysFindings(file), file.name, PlaysVerdict(file),
                     Failed(file.state), out);
}

}  // namespace tools
}  // namespace rondel
