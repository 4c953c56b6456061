// The status action's command line: options, then the gathering and one view.
#include "status_command.h"

#include "status_model.h"
#include "status_render.h"

namespace rondel {
namespace tools {

const char kStatusHelp[] =
    R"(usage: rondel status [--json] [--settings FILE] [--snapshot-dir DIR] [--log FILE]

What a start of the video server would serve now, and why: a one-line verdict, then the
database (host:port, reachable or not, the login's outcome with the server's own message
number and text, the time to log in), the settings (the file, each value with the
password masked, warnings), the snapshot set (directory, writable, when written, records
per table, verify's verdict), the plays kept and set aside, the fire alarm's remembered
answers, and the log's last distinct error lines with counts and first and last times.

It writes nothing: no start-up, no snapshot, no settings, no log line. The database is
asked with a login of its own (DB-Library, the settings' server, user and database, a
5-second time-out), never through the library.

Options:
  --json               the same as one JSON object with stable keys
  --settings FILE      the settings file (default: RONDEL_SETTINGS_FILE, else the venue's
                       fixed path)
  --snapshot-dir DIR   the snapshot directory (default: RONDEL_SNAPSHOT_DIR, else
                       VideoServertable in the working directory)
  --log FILE           the log (default: RONDEL_LOG_FILE, else rondel.log in the working
                       directory)
  --help               this text
  --version            the version

Exit status: 0 a start would serve from the database, 1 the database cannot be used but a
whole snapshot set would serve, 2 nothing to serve, 3 usage error or a settings file that
cannot be read.
)";

int RunStatusCommand(const std::vector<std::string>& arguments,
                     std::ostream& out, std::ostream& err) {
  StatusSources sources = SourcesFromEnvironment();
  bool json = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& option = arguments[i];
    if (option == "--help" || option == "-h") {
      out << kStatusHelp;
      return 0;
    }
    if (option == "--version") {
      out << "rondel status " << RONDEL_VERSION << "\n";
      return 0;
    }
    if (option == "--json") {
      json = true;
      continue;
    }
    std::string* path = option == "--settings"       ? &sources.settings_file
                        : option == "--snapshot-dir" ? &sources.snapshot_dir
                        : option == "--log"          ? &sources.log_file
                                                     : nullptr;
    if (path == nullptr) {
      err << "rondel status: unknown option " << option
          << "\n(rondel status --help shows the usage)\n";
      return kStatusUsage;
    }
    if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
      err << "rondel status: " << option << " needs a path\n"
          << "(rondel status --help shows the usage)\n";
      return kStatusUsage;
    }
    *path = arguments[++i];
    std::string& from = option == "--settings"       ? sources.settings_from
                        : option == "--snapshot-dir" ? sources.snapshot_from
                                                     : sources.log_from;
    from = option;
  }
  const VenueStatus status = GatherStatus(sources);
  if (json) {
    PrintStatusJson(status, out);
  } else {
    PrintStatusText(status, out);
  }
  return StatusExitCode(status);
}

}  // namespace tools
}  // namespace rondel
