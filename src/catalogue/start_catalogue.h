// The catalogue stage of start-up.
#ifndef RONDEL_CATALOGUE_START_CATALOGUE_H_
#define RONDEL_CATALOGUE_START_CATALOGUE_H_

namespace rondel {

// Fills the catalogue: from the database when it answers (then saves the
// snapshot files and persists the play type), else from the snapshot files
// (then restores the play type); the class indexes are built on every path.
// True when the catalogue came from the database. Runs once, inside
// InitialDatabase.
bool StartCatalogue();

class SnapshotStore;

// The database half of StartCatalogue. Loads the catalogue from the database,
// each step only after the ones before it succeeded: file servers
// (FileServerCount), this server's identity, rooms (RoomCount), media
// (MediaCount), the play type, then the play lists All, Week, Month, New and
// User. Returns 1 when every step succeeded, -1 at the first failure (what was
// loaded so far stays until the caller resets the catalogue). Writes no
// setting. When `snapshots` is given, the media table is staged there as soon
// as it is loaded, so that its snapshot file is written while the play lists
// load; the caller then saves or discards it. REQUIRES: the tables reset,
// LocalAddressList loaded, the catalogue lock not held.
int RefreshCatalogue(SnapshotStore* snapshots = nullptr);

}  // namespace rondel

#endif  // RONDEL_CATALOGUE_START_CATALOGUE_H_
