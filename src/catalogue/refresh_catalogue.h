// The database half of the catalogue start-up.
#ifndef RONDEL_CATALOGUE_REFRESH_CATALOGUE_H_
#define RONDEL_CATALOGUE_REFRESH_CATALOGUE_H_

namespace rondel {

// Loads the catalogue from the database, each step only after the ones before
// it succeeded: file servers (FileServerCount), this server's identity, rooms
// (RoomCount), media (MediaCount), the play type, then the play lists All,
// Week, Month, New and User. Returns 1 when every step succeeded, -1 at the
// first failure (what was loaded so far stays until the caller resets the
// catalogue). Writes no snapshot and no setting. REQUIRES: the tables reset,
// LocalAddressList loaded, the catalogue lock not held.
int RefreshCatalogue();

}  // namespace rondel

#endif  // RONDEL_CATALOGUE_REFRESH_CATALOGUE_H_
