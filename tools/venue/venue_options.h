// The simulator's command line, and what it must be told before it calls
// anything. Nearly every call of the library sends a diagnostic datagram, by
// default to the venue's broadcast address, and a run makes thousands of
// calls a second: the simulator never starts on the library's defaults. It
// needs a diagnostic target (or --broadcast, to send there on purpose) and a
// settings file naming the database.
//
//   Request request = ParseRequest(arguments, getenv("RONDEL_SETTINGS_FILE"),
//                                  getenv("RONDEL_DIAG_TARGET"));
//   if (request.status == kExitUsage) -> "rondel-venue: " + request.reason
//   std::string fault = SettingsFault(request.settings_file);
//   if (!fault.empty()) -> "rondel-venue: " + fault, kExitCannotStart
#ifndef RONDEL_TOOLS_VENUE_VENUE_OPTIONS_H_
#define RONDEL_TOOLS_VENUE_VENUE_OPTIONS_H_

#include <string>
#include <vector>

#include "venue.h"

namespace rondel {
namespace venue {

// The exit statuses, as --help states them.
constexpr int kExitDone = 0;         // the run ended (failed calls included)
constexpr int kExitCannotStart = 1;  // the settings file: unreadable, no DB
constexpr int kExitUsage = 2;        // a bad or missing argument

extern const char kUsage[];  // the --help text

struct Request {
  Options options;
  bool help = false;
  bool version = false;
  // --settings, else $RONDEL_SETTINGS_FILE.
  std::string settings_file;
  // --diag-target, else $RONDEL_DIAG_TARGET ("ip:port"); empty with
  // --broadcast.
  std::string diag_target;
  bool broadcast = false;
  int status = kExitDone;  // kExitUsage when refused
  std::string reason;      // then: the cause and the fix, in one line
};

// Reads `arguments` (argv without the program's name) and the two variables'
// values (null when unset). --help wins over everything else. A refusal names
// the argument, what is wrong with it and what to give instead.
Request ParseRequest(const std::vector<std::string>& arguments,
                     const char* settings_variable, const char* diag_variable);

// "" when the file at `path` can be read and names the database server
// ([MainServer] DataBaseServerIp) and the database ([KTV] DataBaseName), read
// as the library reads its settings file; else why not, and what to do.
std::string SettingsFault(const std::string& path);

// The database the settings file at `path` names, read as SettingsFault reads
// it: "HOST:PORT, database NAME" ([MainServer] DataBaseServerIp and
// DataBaseServerPort, as the library joins them; the host alone when the port
// is not above 0, and the client library's own port applies).
std::string DatabaseNamed(const std::string& path);

}  // namespace venue
}  // namespace rondel

#endif  // RONDEL_TOOLS_VENUE_VENUE_OPTIONS_H_
