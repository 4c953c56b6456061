// Loading the venue's file servers and rooms from the database.
//
// Each loader is one locked exchange on its own connection. Both expect their
// table to be zero (ResetCatalogue) and write only the records they store;
// neither writes its counter in TableRecords: RefreshCatalogue stores their
// results there. REQUIRES for both: the catalogue lock not held by this thread.
#ifndef RONDEL_CATALOGUE_VENUE_LOADERS_H_
#define RONDEL_CATALOGUE_VENUE_LOADERS_H_

namespace rondel {

// FILE_SERVERS from procedure "sp_getAllfileservers" (no parameters): id,
// address (at most 19 characters kept), value 3, group id, value 5. Rows beyond
// 20 are read and dropped. Returns the number of records stored, or -1 on
// failure.
int LoadFileServers();

// Rooms from procedure "sp_getroomInfobyvideoserver" (no parameters): id, info
// text and address (at most 19 characters each), the low 16 bits of the room
// number; PlayCursor -1. Rows beyond 512 are read and dropped. Returns the
// number stored, or -1 on failure.
int LoadRooms();

}  // namespace rondel

#endif  // RONDEL_CATALOGUE_VENUE_LOADERS_H_
