// The catalogue stage of start-up: the database path and the snapshot path.
//
// What every start-up keeps true:
//  1. Only a complete database load replaces the snapshot files and the stored
//     play type; a failed one leaves both exactly as they were.
//  2. A start that falls back to the snapshot files serves exactly what an
//     offline start from the same files serves: nothing of a failed database
//     load (tables, counters, play lists, Prefix86List) stays underneath.
//  3. The class and media-id indexes are built last, on every path, from the
//     tables as they finally are.
//  4. Every start-up ends with one log line saying where the catalogue came
//     from (the database, the snapshot set and when it was written, or
//     nothing) and how many media, rooms and file servers it holds.
#include "catalogue/start_catalogue.h"

#include <string>

#include "catalogue/class_index.h"
#include "catalogue/media_index.h"
#include "catalogue/media_loader.h"
#include "catalogue/play_list_loaders.h"
#include "catalogue/server_identity.h"
#include "catalogue/snapshot_store.h"
#include "catalogue/tables.h"
#include "catalogue/venue_loaders.h"
#include "frame/exchange.h"
#include "frame/session.h"
#include "frame/settings.h"
#include "platform/message_log.h"

namespace rondel {

namespace {

// Opens and closes one connection under the lock: can the database be reached
// at all?
bool DatabaseAnswers() {
  Exchange probe;
  return probe.connected();
}

// The start-up's last line, "started from ...: M media, R rooms, F file
// servers", at the level a technician should give it: a start from the
// snapshots serves but no longer changes, one from nothing serves nothing.
void LogWhereTheCatalogueCameFrom(bool loaded, bool reachable,
                                  bool snapshot_loaded,
                                  const SnapshotStore& store) {
  const TableRecords& counters = g_catalogue.table_records;
  const std::string counts =
      ": " + std::to_string(counters.MediaCount) + " media, " +
      std::to_string(counters.RoomCount) + " rooms, " +
      std::to_string(counters.FileServerCount) + " file servers";
  const Settings& settings = CurrentSettings();
  const std::string database =
      DatabaseServerTarget(settings.database_server_ip,
                           settings.database_server_port) +
      " \"" + settings.database_name + "\"";
  const std::string why =
      reachable ? "the load from the database " + database + " failed"
                : "the database " + database + " does not answer";
  std::string line;
  platform::LogLevel level;
  if (loaded) {
    line = "started from the database " + database + counts;
    level = platform::LogLevel::kNotice;
  } else if (snapshot_loaded) {
    const std::string written = platform::FileWrittenStamp(
        SnapshotDirectoryPath() +
        snapshot::kTables[snapshot::kTableRecords].file_name);
    line = "started from the snapshot set written " +
           (written.empty() ? std::string("at an unknown time") : written) +
           " (" + why + ")" + counts;
    level = platform::LogLevel::kWarning;
  } else {
    line = "started from nothing, every lookup will fail (" + why +
           "; no whole snapshot set: " + store.LastLoad().reason + ")" + counts;
    level = platform::LogLevel::kError;
  }
  ModuleLog().AddLog(line.c_str(), level);
}

}  // namespace

int RefreshCatalogue(SnapshotStore* snapshots) {
  TableRecords& counters = g_catalogue.table_records;
  counters.FileServerCount = LoadFileServers();
  if (counters.FileServerCount < 0) return -1;
  if (!IdentifyServer()) return -1;
  counters.RoomCount = LoadRooms();
  if (counters.RoomCount < 0) return -1;
  counters.MediaCount = LoadMedias();
  if (counters.MediaCount < 0) return -1;
  // The media table is final now: its snapshot file is written while the play
  // lists load (a failed staging just leaves the work to the save).
  if (snapshots != nullptr) (void)snapshots->StageTable("Medias");
  if (!LoadPlayType()) return -1;
  for (Sequence list :
       {Sequence::kAll, Sequence::kWeek, Sequence::kMonth, Sequence::kNew}) {
    if (LoadSequence(list) < 0) return -1;
  }
  if (LoadUserSequence() < 0) return -1;
  return 1;
}

bool StartCatalogue() {
  ResetCatalogue();
  LoadLocalAddresses();
  SnapshotStore store;
  const bool reachable = DatabaseAnswers();
  const bool loaded = reachable && RefreshCatalogue(&store) == 1;
  bool snapshot_loaded = false;
  if (loaded) {
    // Only a complete load replaces the last good snapshot and play type.
    (void)store.SaveAllTables();
    PersistRandPlayType(g_play_type);
  } else {
    // Offline start, or a failed load: serve from the last good snapshot.
    store.DiscardStaged();
    if (reachable) {
      // Nothing of the failed load may stay under the snapshot's tables.
      ResetCatalogue();
      ClearPlayLists();
    }
    snapshot_loaded = store.LoadAllTables();
    (void)IdentifyServer();
    g_play_type = RestoreRandPlayType();
  }
  BuildClassIndexes();
  RebuildLookupIndexes();
  LogWhereTheCatalogueCameFrom(loaded, reachable, snapshot_loaded, store);
  return loaded;
}

}  // namespace rondel
