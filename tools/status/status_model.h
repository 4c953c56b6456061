// The venue's state as a technician asks after it: what a start of the video
// server would serve now, and why. One model, gathered once, read by every
// view (the text of `rondel status`, its --json, the console):
//
//   StatusSources sources = SourcesFromEnvironment();  // then the options
//   VenueStatus status = GatherStatus(sources);
//   PrintStatusText(status, std::cout);
//   return StatusExitCode(status);
//
// Gathering never writes anything: no file, no log line, no settings persist;
// the database is asked as a client of its own (DB-Library, the settings'
// server, login and database) with a short time-out, never through the
// library's exports. Times are seconds since 1970 UTC (0: unknown or absent);
// texts from the venue's files stay the bytes stored. Calls may come from
// several threads: database checks take turns (the client library's handlers
// are process-wide), the rest shares nothing.
#ifndef RONDEL_TOOLS_STATUS_STATUS_MODEL_H_
#define RONDEL_TOOLS_STATUS_STATUS_MODEL_H_

#include <cstdint>
#include <string>
#include <vector>

#include "kept_files.h"

namespace rondel {
namespace tools {

// Where each file was taken from, and which option or variable named it.
struct StatusSources {
  std::string settings_file;
  std::string settings_from;  // "--settings", "RONDEL_SETTINGS_FILE", "default"
  std::string snapshot_dir;   // ends in '/'
  std::string snapshot_from;  // "--snapshot-dir", "RONDEL_SNAPSHOT_DIR",
                              // "working directory"
  std::string log_file;
  std::string log_from;  // "--log", "RONDEL_LOG_FILE", "working directory"
  int login_timeout_seconds = 5;
};

// The settings file and its environment, with --settings, --snapshot-dir and
// --log left to the caller.
StatusSources SourcesFromEnvironment();

struct SettingValue {
  std::string section;
  std::string key;
  std::string shown;       // the value as read; the password masked
  bool from_file = false;  // false: the library's default
};

struct SettingsStatus {
  std::string file;
  std::string from;
  bool readable = false;
  std::string error;  // !readable: the step, the file, the system's reason
  std::vector<SettingValue> values;  // every key the library reads, in order
  std::vector<std::string> warnings;
  // What the database check uses, as the library would read it.
  std::string server_address;
  int32_t server_port = 0;
  std::string database;
  std::string user;
  std::string password;
  std::string client_charset;
};

// One message the server sent while the login was answered.
struct ServerMessage {
  int32_t number = 0;
  int32_t severity = 0;  // the message's class
  int32_t state = 0;
  std::string text;
};

struct DatabaseStatus {
  std::string target;    // "host:port" as dbopen is given it
  std::string database;  // the name asked for
  std::string user;
  bool reached = false;       // something answered at the address
  bool logged_in = false;     // the login, with the database, was accepted
  std::string connect_error;  // !reached: the system's reason
  std::vector<ServerMessage> messages;  // errors (class 11 and above)
  int64_t login_ms = -1;                // when reached: the whole login
};

struct TableStatus {
  std::string file;  // "Medias.tbl"
  bool ok = false;
  int32_t records = 0;
};

struct SnapshotStatus {
  std::string directory;
  std::string from;
  bool exists = false;
  bool writable = false;
  int64_t written = 0;  // the newest of the table files
  std::vector<TableStatus> tables;
  bool loads = false;  // an offline start loads this set
  std::string
      verify_verdict;  // the inspector's verdict line, without "verdict"
  std::vector<std::string> verify_findings;  // its error and warning lines
  bool replacement_pending = false;          // a commit record of an unfinished
                                     // replacement lies in the directory
};

struct LogLine {
  std::string level;  // "error", "warning"; "error" for lines of the old
                      // format, which carried no level
  std::string text;
  int64_t count = 0;  // repeats folded in
  std::string first;  // "YYYY-MM-DD HH:MM:SS.mmm" as the log writes it
  std::string last;
};

struct LogStatus {
  std::string file;
  std::string from;
  bool exists = false;
  std::string error;  // exists but cannot be read
  uint64_t size = 0;
  std::vector<LogLine> problems;  // the last distinct ones, newest last
  std::string last_change;        // the last "notice" line, with its time
};

enum class Verdict {
  kDatabase,  // a start now loads from the database
  kOffline,   // the database cannot be used; a start would load the set
  kNothing,   // neither: every lookup would fail
};

struct VenueStatus {
  int64_t now = 0;  // when gathered
  Verdict verdict = Verdict::kNothing;
  SettingsStatus settings;
  DatabaseStatus database;
  SnapshotStatus snapshots;
  KeptFiles kept;  // plays kept, set aside, the fire alarm's answers
  LogStatus log;
};

// Each part on its own, then all of them and the verdict.
SettingsStatus ReadSettingsStatus(const std::string& file,
                                  const std::string& from);
DatabaseStatus CheckDatabase(const SettingsStatus& settings,
                             int timeout_seconds);
SnapshotStatus ReadSnapshotStatus(const std::string& directory,
                                  const std::string& from);
LogStatus ReadLogStatus(const std::string& file, const std::string& from);
VenueStatus GatherStatus(const StatusSources& sources);

// 0 a start would serve from the database, 1 offline from a whole set, 2
// nothing to serve, 3 the settings file cannot be read (a usage error is 3
// too).
constexpr int kStatusUsage = 3;
int StatusExitCode(const VenueStatus& status);

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_STATUS_STATUS_MODEL_H_
