// The actions of the host command. Each runs between the caller's
// InitialDatabase and ExitDatabase, writes readable lines to `out` and returns
// the command's exit status.
#ifndef RONDEL_TOOLS_HOST_ACTIONS_H_
#define RONDEL_TOOLS_HOST_ACTIONS_H_

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "diag_listener.h"
#include "exports/host_interface.h"
#include "host_library.h"

namespace rondel {
namespace tools {

// Output buffers are the size the exports document (exports/host_interface.h)
// plus this margin, which the library never writes; they are read back only up
// to the documented size.
constexpr size_t kMargin = 64;

// "film", "song", "ad" for media classes 1, 2, 3; "other" for any other.
const char* ClassName(int media_class);

// Exit statuses of the host command.
constexpr int kExitOk = 0;
constexpr int kExitMiss =
    1;  // a lookup found nothing, or the database did not answer
constexpr int kExitUsage = 2;  // the command line is wrong
constexpr int kExitLibrary =
    3;  // the library cannot be loaded or lacks an export

// What `rondel start` probes. The exports give no counts, so the summary is
// what single-key lookups over these ranges answer. A range with first > last
// is not probed.
struct StartProbes {
  int32_t first_id = 1;
  int32_t last_id = 0;
  std::vector<std::string>
      room_ranges;  // address ranges, as ParseAddressRange takes
  std::vector<std::string> server_ranges;  // address ranges
};

// Summary after start-up: media found in the id range by class, rooms and file
// servers found in the address ranges. Always kExitOk (an empty catalogue is an
// answer too).
int RunStart(HostLibrary& library, const StartProbes& probes,
             std::ostream& out);

// Every attribute and file path of each media; kExitMiss when any id is
// unknown.
int RunMedia(HostLibrary& library, const std::vector<int32_t>& ids,
             std::ostream& out);

// The information text of the room at `address`; kExitMiss when no room has it.
int RunRoom(HostLibrary& library, const std::string& address,
            std::ostream& out);

// The id and group of the file server at `address`; kExitMiss when none has it.
int RunServer(HostLibrary& library, const std::string& address,
              std::ostream& out);

// GetSongTotal(number) with its meaning. kExitOk for either answer.
int RunSongTotal(HostLibrary& library, int32_t number, std::ostream& out);

// The exact number of rows of the database's media table, found by bisecting on
// GetSongTotal; kExitMiss when the database does not answer.
int RunSongCount(HostLibrary& library, std::ostream& out);

// LoadDBOptions(path), then whether the database answers with the options read.
// kExitMiss when it does not.
int RunOptions(HostLibrary& library, const std::string& path,
               std::ostream& out);

// --- Playback (playback_actions.cc) ------------------------------------------

// The playback exports an action calls (exported names, as kAllSymbols holds
// them); empty for the other actions. Checked with
// HostLibrary::MissingExports before the library starts.
std::vector<const char*> PlaybackExportsOf(const std::string& action);

// GetNextVideo(room) and every output, written or not, then the diagnostic
// texts `listener` received during the call (those of the start-up are
// dropped). kExitMiss when it answered 0.
int RunNext(HostLibrary& library, const std::string& room,
            DiagListener& listener, std::ostream& out);

// `calls` calls of GetRandPlayMediaID(room), a line each: the id and, when the
// catalogue has it, its class and name. kExitMiss when any call answered -1.
int RunPlay(HostLibrary& library, const std::string& room, int calls,
            std::ostream& out);

// GetFirealarmVideo(address) and its URL and two format texts. kExitMiss when
// it answered 0.
int RunFireAlarm(HostLibrary& library, const std::string& address,
                 std::ostream& out);

// GetFirealarmPage and the page. kExitMiss when it answered 0.
int RunFirePage(HostLibrary& library, std::ostream& out);

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_HOST_ACTIONS_H_
