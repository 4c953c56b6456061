// rondel: the host command. Loads the library the way the venue's video server
// does (librondel.so with dlopen and dlsym of each export under its mangled
// name; on Windows rondel.dll with LoadLibraryA and GetProcAddress under its
// decorated name), starts it, runs one action and ends it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "catalogue/snapshot_format.h"
#include "diag_listener.h"
#include "host_actions.h"
#include "host_library.h"
#include "host_process.h"
#include "platform/paths.h"
#include "probe_range.h"
#include "records_actions.h"
#include "status_action.h"

namespace {

using rondel::tools::HostLibrary;

constexpr const char kUsageHead[] =
    R"(usage: rondel [--library PATH] ACTION [ARGUMENTS]

Loads the library, calls InitialDatabase, runs one action, calls ExitDatabase (status
excepted: it never loads the library).

Actions:
  start [--probe-ids A-B] [--rooms RANGE]... [--servers RANGE]...
                       start up, then summarise what lookups answer: media found in the
                       id range by class, rooms and file servers found in each address
                       range (RANGE is A.B.C.D-E.F.G.H or one address)
  media ID...          every attribute and file path of each media
  room ADDRESS         the information text of the room at ADDRESS
  server ADDRESS       the id and group of the file server at ADDRESS
  songtotal N          GetSongTotal(N): 1 when the database's media table has fewer rows
  songtotal --count    the exact row count of the media table, bisecting on GetSongTotal
  options FILE         LoadDBOptions(FILE), then whether the database answers with it
  next ROOM            GetNextVideo for the room at address ROOM: every output, and the
                       diagnostic texts the call sent (the command receives them on a
                       loopback port of its own, named in RONDEL_DIAG_TARGET)
  play ROOM [-n N]     N calls (1) of GetRandPlayMediaID for the room at address ROOM:
                       background play by the venue's play type
  firealarm ADDRESS    GetFirealarmVideo: the fire-alarm video URL and formats of ADDRESS
  firepage             GetFirealarmPage: the fire-alarm page
  playtime MEDIA ROOM BEGIN END TYPE
                       SaveVideoTime: one play of MEDIA in ROOM with its begin and end
                       times (texts such as "2026-02-01 20:00:00") and song type
  addlog ROOM MEDIA [RESERVED]
                       AddLog: a trade log; its id, error code and error text
  modifylog TRADELOG [RESERVED]
                       ModifyLog: closes a trade log; error code and text
  authorize ROOM MEDIA [RESERVED]
                       GetAuthorization: may MEDIA play in ROOM; error code and text
                       (ROOM "-" sends no room; RESERVED left out sends none)
  dataserver           GetDataServer: whether this machine is a registered file server,
                       and FileServerIP before and after (read from the fire-alarm URL)
  group SERVER_ID      GetServerGroup: the server group of a file server
  conn add|modify GROUP SERVER COUNT TOTAL ADDRESS
                       Add/ModifyVideoServerConnectNum: a server's connection counts;
                       modify also shows the diagnostic texts it sent
  conn get GROUP [SERVER]
                       GetVideoServerConnectNum: count and address of the last row
                       (SERVER 0 or left out: the whole group)
  conn delete GROUP [SERVER]
                       DeleteVideoServerConnectNum
  groupstate ISVALID GROUP
                       ModifyGroupState: puts a server group in service (1) or not (0)
  Outputs that are outputs only start at -1 and "", so one the call did not write
  shows as such.
)";
// The status action's lines (status_action.h), then the options.
constexpr const char kUsageOptions[] = R"(
Options:
  --library PATH       the library to load (default: )";
// The default library's text goes between the two.
constexpr const char kUsageTail[] = R"()
  --help               this text
  --version            the version

Environment (read by the library): RONDEL_SETTINGS_FILE (settings file),
RONDEL_SNAPSHOT_DIR (snapshot directory), RONDEL_DIAG_TARGET (127.0.0.1:PORT for the
diagnostic datagrams; `next` and `conn modify` replace it with their own port), RONDEL_LOG_FILE
(the log; rondel.log in the working directory when unset). Before the library starts, the
command names on standard error the library it loaded and the settings file, snapshot
directory and log the run uses.

Exit status (status has its own, above): 0 done, 1 not found or no answer (also a play
call answering -1, a refused authorization, a trade-log error code, a connection count without a row), 2 usage error, 3 library not loadable or lacking an export the action calls.
)";

int UsageError(const std::string& message) {
  std::cerr << "rondel: " << message
            << "\nusage: rondel [--library PATH] ACTION [ARGUMENTS] "
               "(rondel --help lists the actions)\n";
  return rondel::tools::kExitUsage;
}

// What the library will use, found as it finds them, so that the venue's
// technician sees which files a run read and wrote. Standard error: the
// actions' output stays what scripts parse.
void SayWhatIsUsed(const std::string& library) {
  const char* settings = std::getenv("RONDEL_SETTINGS_FILE");
  const char* snapshots = std::getenv("RONDEL_SNAPSHOT_DIR");
  const char* log = std::getenv("RONDEL_LOG_FILE");
  const bool settings_set = settings != nullptr && settings[0] != '\0';
  const bool snapshots_set = snapshots != nullptr && snapshots[0] != '\0';
  const bool log_set = log != nullptr && log[0] != '\0';
  std::cerr << "rondel: library " << library << "\n"
            << "rondel: settings "
            << (settings_set ? settings
                             : rondel::platform::DefaultSettingsPath())
            << "\n"
            << "rondel: snapshot directory "
            << (snapshots_set ? std::string(snapshots)
                              : rondel::platform::ExecutableDirectory() +
                                    rondel::snapshot::kDirectoryName)
            << "\n"
            << "rondel: log "
            << (log_set ? log : "rondel.log in the working directory") << "\n";
}

// The parsed command line: the action and its arguments checked before the
// library loads, so that a usage error never starts the library.
struct Command {
  std::string library;
  std::string action;
  rondel::tools::StartProbes probes;
  std::vector<int32_t> media_ids;
  std::string text;    // address or settings path
  int32_t number = 0;  // songtotal's N, play's call count
  bool count_rows = false;
  rondel::tools::RecordsCommand records;
};

// Returns kExitOk when `args` make a command, else prints the problem and
// returns the status.
int Parse(const std::vector<std::string>& args, Command* command) {
  size_t i = 0;
  command->library = HostLibrary::DefaultPath();
  for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
    if (args[i] == "--library" && i + 1 < args.size()) {
      command->library = args[++i];
    } else {
      return UsageError("unknown option " + args[i]);
    }
  }
  if (i == args.size()) return UsageError("no action given");
  command->action = args[i++];
  std::vector<std::string> rest(args.begin() + static_cast<long>(i),
                                args.end());
  const std::string& action = command->action;
  if (action == "start") {
    for (size_t k = 0; k < rest.size(); ++k) {
      if (k + 1 >= rest.size()) return UsageError(rest[k] + " needs a value");
      const std::string& value = rest[++k];
      if (rest[k - 1] == "--probe-ids") {
        if (!rondel::tools::ParseIdRange(value, &command->probes.first_id,
                                         &command->probes.last_id)) {
          return UsageError("bad id range " + value);
        }
      } else if (rest[k - 1] == "--rooms" || rest[k - 1] == "--servers") {
        uint32_t first, last;
        if (!rondel::tools::ParseAddressRange(value, &first, &last)) {
          return UsageError("bad address range " + value);
        }
        (rest[k - 1] == "--rooms" ? command->probes.room_ranges
                                  : command->probes.server_ranges)
            .push_back(value);
      } else {
        return UsageError("unknown start option " + rest[k - 1]);
      }
    }
  } else if (action == "media") {
    if (rest.empty()) return UsageError("media needs at least one id");
    for (const std::string& word : rest) {
      int32_t first, last;
      if (!rondel::tools::ParseIdRange(word, &first, &last) || first != last) {
        return UsageError("bad media id " + word);
      }
      command->media_ids.push_back(first);
    }
  } else if (action == "play") {
    command->number = 1;
    for (size_t k = 0; k < rest.size(); ++k) {
      int32_t first, last;
      if (rest[k] != "-n") {
        if (!command->text.empty()) return UsageError("play takes one room");
        command->text = rest[k];
      } else if (k + 1 < rest.size() &&
                 rondel::tools::ParseIdRange(rest[k + 1], &first, &last) &&
                 first == last && first >= 1 && first <= 1000000) {
        command->number = first;
        ++k;
      } else {
        return UsageError("-n needs a call count from 1 to 1000000");
      }
    }
    if (command->text.empty()) return UsageError("play needs a room address");
  } else if (action == "firepage") {
    if (!rest.empty()) return UsageError("firepage takes no argument");
  } else if (action == "room" || action == "server" || action == "options" ||
             action == "next" || action == "firealarm") {
    if (rest.size() != 1) return UsageError(action + " needs one argument");
    command->text = rest[0];
  } else if (action == "songtotal") {
    if (rest.size() != 1) return UsageError("songtotal needs one argument");
    int32_t first, last;
    if (rest[0] == "--count") {
      command->count_rows = true;
    } else if (rondel::tools::ParseIdRange(rest[0], &first, &last) &&
               first == last) {
      command->number = first;
    } else {
      return UsageError("bad number " + rest[0]);
    }
  } else if (rondel::tools::IsRecordsAction(action)) {
    std::string error;
    if (!rondel::tools::ParseRecordsCommand(action, rest, &command->records,
                                            &error)) {
      return UsageError(error);
    }
  } else {
    return UsageError("unknown action " + action);
  }
  return rondel::tools::kExitOk;
}

int Run(HostLibrary& library, const Command& command,
        rondel::tools::DiagListener* listener) {
  using namespace rondel::tools;
  const std::string& action = command.action;
  if (IsRecordsAction(action))
    return RunRecords(library, command.records, listener, std::cout);
  if (action == "next")
    return RunNext(library, command.text, *listener, std::cout);
  if (action == "play")
    return RunPlay(library, command.text, command.number, std::cout);
  if (action == "firealarm")
    return RunFireAlarm(library, command.text, std::cout);
  if (action == "firepage") return RunFirePage(library, std::cout);
  if (action == "start") return RunStart(library, command.probes, std::cout);
  if (action == "media") return RunMedia(library, command.media_ids, std::cout);
  if (action == "room") return RunRoom(library, command.text, std::cout);
  if (action == "server") return RunServer(library, command.text, std::cout);
  if (action == "options") return RunOptions(library, command.text, std::cout);
  if (command.count_rows) return RunSongCount(library, std::cout);
  return RunSongTotal(library, command.number, std::cout);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  // `status` never loads the library: its options and --help are its own.
  const size_t action_at = args.size() >= 2 && args[0] == "--library" ? 2 : 0;
  if (args.size() > action_at && args[action_at] == "status") {
    return rondel::tools::RunStatusAction(std::vector<std::string>(
        args.begin() + static_cast<long>(action_at) + 1, args.end()));
  }
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsageHead << rondel::tools::kStatusActionHelp
                << kUsageOptions << HostLibrary::DefaultPathHelp()
                << kUsageTail;
      return rondel::tools::kExitOk;
    }
    if (arg == "--version") {
      std::cout << "rondel " << RONDEL_VERSION << "\n";
      return rondel::tools::kExitOk;
    }
  }
  Command command;
  int parsed = Parse(args, &command);
  if (parsed != rondel::tools::kExitOk) return parsed;

  std::string error;
  if (!rondel::tools::StartHostNetworking(&error)) {
    std::cerr << "rondel: " << error << "\n";
    return rondel::tools::kExitLibrary;
  }
  std::unique_ptr<HostLibrary> library =
      HostLibrary::Open(command.library, &error);
  if (!library) {
    std::cerr << "rondel: " << error << "\n";
    return rondel::tools::kExitLibrary;
  }
  const bool records = rondel::tools::IsRecordsAction(command.action);
  const std::string action_name =
      records ? command.records.action : command.action;
  std::vector<std::string> missing = library->MissingExports(
      records ? rondel::tools::RecordsExportsOf(command.records)
              : rondel::tools::PlaybackExportsOf(command.action));
  if (!missing.empty()) {
    for (const std::string& name : missing) {
      std::cerr << "rondel: " << command.library << " does not export " << name
                << ", which " << action_name << " calls\n";
    }
    return rondel::tools::kExitLibrary;
  }
  // `next` and `conn modify` show the texts the library sends: they come to a
  // port of the command's own, set before the library starts so that it never
  // sends one anywhere else.
  std::unique_ptr<rondel::tools::DiagListener> listener;
  if (command.action == "next" ||
      (records && rondel::tools::RecordsShowDiagnostics(command.records))) {
    listener = rondel::tools::DiagListener::Open(&error);
    if (!listener) {
      std::cerr << "rondel: cannot receive diagnostic texts: " << error << "\n";
      return rondel::tools::kExitMiss;
    }
    if (!rondel::tools::SetEnvironment("RONDEL_DIAG_TARGET",
                                       listener->Target())) {
      std::cerr << "rondel: cannot name the diagnostic port to the library\n";
      return rondel::tools::kExitMiss;
    }
  } else if (std::getenv("RONDEL_DIAG_TARGET") == nullptr) {
    std::cerr
        << "rondel: note: RONDEL_DIAG_TARGET is not set, so the library's "
           "diagnostic datagrams go to the venue broadcast address\n";
  }
  SayWhatIsUsed(command.library);
  library->InitialDatabase();
  std::cout << "InitialDatabase: done\n";
  int status = Run(*library, command, listener.get());
  std::cout.flush();
  library->ExitDatabase();
  return status;
}
