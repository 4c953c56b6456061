// `rondel status` for a person: the verdict, then the database, the settings,
// the snapshot set, the plays, the fire alarm and the log, one section each.
// Texts from the venue's files are shown with every byte kept (EscapedText).
#include <ctime>
#include <string>

#include "kept_files_view.h"
#include "snapshot_view.h"
#include "status_render.h"

namespace rondel {
namespace tools {

const char* VerdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::kDatabase:
      return "database";
    case Verdict::kOffline:
      return "offline";
    case Verdict::kNothing:
      break;
  }
  return "nothing";
}

std::string UtcTime(int64_t seconds) {
  const time_t at = static_cast<time_t>(seconds);
  struct tm utc;
  gmtime_r(&at, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
  return text;
}

std::string Age(int64_t then, int64_t now) {
  const int64_t seconds = now > then ? now - then : 0;
  if (seconds < 120)
    return Plural(static_cast<uint64_t>(seconds), "second", "seconds");
  if (seconds < 2 * 3600)
    return Plural(static_cast<uint64_t>(seconds / 60), "minute", "minutes");
  if (seconds < 2 * 86400)
    return Plural(static_cast<uint64_t>(seconds / 3600), "hour", "hours");
  return Plural(static_cast<uint64_t>(seconds / 86400), "day", "days");
}

std::string DatabaseProblem(const DatabaseStatus& database) {
  if (database.logged_in) return "";
  if (!database.reached) {
    return "is unreachable (" + database.target + ": " +
           database.connect_error + ")";
  }
  // The server's last word decides (18456 comes after the 4060 that caused
  // it); the first says why.
  std::string words;
  for (const ServerMessage& message : database.messages) {
    words += (words.empty() ? "" : "; ") + std::to_string(message.number) +
             ": " + message.text;
  }
  return "refuses the login (" + words + ")";
}

namespace {

std::string SetWritten(const SnapshotStatus& snapshots, int64_t now) {
  return UtcTime(snapshots.written) + " (" + Age(snapshots.written, now) +
         " ago)";
}

std::string WhyNoSet(const SnapshotStatus& snapshots) {
  if (!snapshots.exists) return "no directory " + snapshots.directory;
  return snapshots.verify_verdict;
}

std::string PlayText(const PlayRecord& play) {
  return "media " + std::to_string(play.media_id) + " in room " +
         EscapedText(play.room_address) + ", " + EscapedText(play.begin_time) +
         " to " + EscapedText(play.end_time) + ", song type " +
         std::to_string(play.song_type);
}

void PrintDatabase(const DatabaseStatus& database, std::ostream& out) {
  out << "database    " << database.target;
  if (database.target.find(':') == std::string::npos) {
    out << " (no DataBaseServerPort: the client library's default port)";
  }
  out << " \"" << database.database << "\" as " << database.user << ": ";
  if (!database.reached) {
    out << "unreachable: " << database.connect_error << "\n";
    return;
  }
  out << "reachable; login " << (database.logged_in ? "accepted" : "refused")
      << " in " << database.login_ms << " ms\n";
  for (const ServerMessage& message : database.messages) {
    out << "  server says " << message.number << " (class " << message.severity
        << ", state " << message.state << "): " << message.text << "\n";
  }
}

void PrintSettings(const SettingsStatus& settings, std::ostream& out) {
  out << "settings    " << settings.file << " (" << settings.from << ")";
  if (!settings.readable) {
    out << ": cannot be read (" << settings.error
        << "); the library would use these defaults";
  }
  out << "\n";
  for (const SettingValue& value : settings.values) {
    const std::string name = "[" + value.section + "] " + value.key;
    out << "  " << name
        << std::string(name.size() < 32 ? 32 - name.size() : 1, ' ')
        << (value.shown.empty() ? "(empty)" : EscapedText(value.shown))
        << (value.from_file ? "" : "  (default)") << "\n";
  }
  for (const std::string& warning : settings.warnings) {
    out << "  warning: " << EscapedText(warning) << "\n";
  }
}

void PrintSnapshots(const SnapshotStatus& snapshots, int64_t now,
                    std::ostream& out) {
  out << "snapshots   " << snapshots.directory << " (" << snapshots.from
      << "): ";
  if (!snapshots.exists) {
    out << "no such directory\n";
    return;
  }
  out << (snapshots.writable ? "writable" : "NOT writable");
  if (snapshots.written != 0) {
    out << "; written " << SetWritten(snapshots, now);
  }
  out << "\n  records   ";
  for (size_t k = 0; k < snapshots.tables.size(); ++k) {
    const TableStatus& table = snapshots.tables[k];
    out << (k == 0 ? "" : ", ") << table.file.substr(0, table.file.find('.'))
        << " " << (table.ok ? std::to_string(table.records) : "-");
  }
  out << "\n  verify    " << snapshots.verify_verdict << "\n";
  for (const std::string& finding : snapshots.verify_findings) {
    out << "  " << finding << "\n";
  }
  if (snapshots.replacement_pending) {
    out << "  a replacement was interrupted; the next start finishes it\n";
  }
}

void PrintPlays(const KeptFiles& kept, std::ostream& out) {
  const PlaysFile& outbox = kept.outbox;
  out << "plays       ";
  if (outbox.state == KeptState::kUnreadable) {
    out << "the outbox cannot be read: " << outbox.error << "\n";
  } else if (outbox.unsent() == 0) {
    out << "none kept in the outbox\n";
  } else {
    out << Plural(outbox.unsent(), "play", "plays")
        << " kept in the outbox, waiting for the database (oldest "
        << EscapedText(outbox.OldestUnsent()->play.begin_time) << ", newest "
        << EscapedText(outbox.NewestUnsent()->play.begin_time) << ")\n";
  }
  if (outbox.state == KeptState::kDamaged) {
    out << "  the outbox is damaged: "
        << Plural(outbox.damaged_bytes, "byte", "bytes")
        << " skipped; the next start sets them aside\n";
  }
  const PlaysFile& rejected = kept.rejected;
  out << "  set aside " << Plural(rejected.plays, "play", "plays");
  if (Failed(rejected.state))
    out << " (" << KeptStateName(rejected.state) << ")";
  out << "\n";
  for (const KeptEntry& entry : rejected.entries) {
    if (entry.kind == KeptEntry::kPlay)
      out << "    " << PlayText(entry.play) << "\n";
  }
  const uint64_t aside = outbox.aside_bytes() + rejected.aside_bytes();
  out << "  damaged bytes kept aside: "
      << (aside == 0 ? "none" : Plural(aside, "byte", "bytes"));
  for (const PlaysFile* file : {&outbox, &rejected}) {
    for (const AsideFile& other : file->aside) out << " (" << other.name << ")";
  }
  out << "\n";
}

void PrintFireAlarm(const FireAlarmFile& file, std::ostream& out) {
  out << "fire alarm  ";
  if (file.state != KeptState::kWhole) {
    out << "no answers remembered (" << KeptStateName(file.state);
    if (!file.error.empty()) out << ": " << file.error;
    if (!file.fault.empty()) out << ": " << file.fault;
    out << ")\n";
    return;
  }
  const fire_alarm::Answers& answers = file.answers;
  out << Plural(answers.files.size(), "room's answer", "rooms' answers")
      << " remembered; default "
      << (answers.default_file
              ? "\"" + EscapedText(*answers.default_file) + "\""
              : "none")
      << ", page "
      << (answers.page ? "\"" + EscapedText(*answers.page) + "\"" : "none")
      << "; written " << UtcTime(file.written) << "\n";
}

void PrintLog(const LogStatus& log, std::ostream& out) {
  out << "log         " << log.file << " (" << log.from << "): ";
  if (!log.exists) {
    out << "no such file yet\n";
    return;
  }
  if (!log.error.empty()) {
    out << "cannot be read: " << log.error << "\n";
    return;
  }
  out << Plural(log.size, "byte", "bytes") << "\n";
  if (!log.last_change.empty()) {
    out << "  last change  " << EscapedText(log.last_change) << "\n";
  }
  for (const LogLine& line : log.problems) {
    out << "  " << line.level << " x" << line.count << "  "
        << (line.count == 1 ? line.first : line.first + " to " + line.last)
        << "  " << EscapedText(line.text) << "\n";
  }
}

}  // namespace

std::string VerdictLine(const VenueStatus& status) {
  const SnapshotStatus& snapshots = status.snapshots;
  switch (status.verdict) {
    case Verdict::kDatabase:
      return "serving from the database: \"" + status.database.database +
             "\" on " + status.database.target;
    case Verdict::kOffline:
      return "the database " + DatabaseProblem(status.database) +
             ", an offline start would serve the snapshot set written at " +
             SetWritten(snapshots, status.now);
    case Verdict::kNothing:
      break;
  }
  return "NOTHING to serve: the database " + DatabaseProblem(status.database) +
         " and no whole snapshot set (" + WhyNoSet(snapshots) + ")";
}

void PrintStatusText(const VenueStatus& status, std::ostream& out) {
  out << VerdictLine(status) << "\n\n";
  PrintDatabase(status.database, out);
  PrintSettings(status.settings, out);
  PrintSnapshots(status.snapshots, status.now, out);
  PrintPlays(status.kept, out);
  PrintFireAlarm(status.kept.fire_alarm, out);
  PrintLog(status.log, out);
}

}  // namespace tools
}  // namespace rondel
