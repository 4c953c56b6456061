// The records and registry actions of the host command: play times, trade
// logs, authorization, this machine's file-server identity, server groups and
// connection counts. One action per export; each prints the export's result
// and every output it has.
#ifndef RONDEL_TOOLS_RECORDS_ACTIONS_H_
#define RONDEL_TOOLS_RECORDS_ACTIONS_H_

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "diag_listener.h"
#include "host_library.h"

namespace rondel {
namespace tools {

// A records action with its arguments, checked before the library loads.
struct RecordsCommand {
  std::string action;  // "playtime", ..., "conn add", "conn get", "groupstate"
  // The integer arguments in command-line order; an optional one left out is 0.
  std::vector<int32_t> numbers;
  // The text arguments in command-line order; nullopt for a room given as "-"
  // and for a reserved text left out (the export then receives null).
  std::vector<std::optional<std::string>> texts;
};

// True when `action` (the first word after the options) is a records action.
bool IsRecordsAction(const std::string& action);

// Parses the words after the action ("conn" takes its verb from `rest`). False
// with the problem in *error for a usage error.
bool ParseRecordsCommand(const std::string& action,
                         const std::vector<std::string>& rest,
                         RecordsCommand* command, std::string* error);

// The optional exports the command calls (exported names), for
// HostLibrary::MissingExports. "dataserver" also calls GetFirealarmVideo when
// the library has it, to show FileServerIP; it does not need it.
std::vector<const char*> RecordsExportsOf(const RecordsCommand& command);

// True when the command shows the diagnostic texts its export sends
// ("conn modify"): the caller opens a DiagListener and names it in
// RONDEL_DIAG_TARGET before the library starts.
bool RecordsShowDiagnostics(const RecordsCommand& command);

// Runs the command between the caller's InitialDatabase and ExitDatabase and
// returns the exit status: kExitOk when the export answered success (for
// "playtime" and "conn delete", whose answers never tell, always; for "conn
// get" when a row arrived), else kExitMiss. REQUIRES: the exports of
// RecordsExportsOf are present; `listener` is non-null when
// RecordsShowDiagnostics.
int RunRecords(HostLibrary& library, const RecordsCommand& command,
               DiagListener* listener, std::ostream& out);

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_RECORDS_ACTIONS_H_
