// A library exporting the lifecycle, diagnostic and lookup functions but none
// of the playback, records or registry ones, as a build from before them did:
// the host command must still run the other actions and name what an action
// calling one of those lacks.
#include "rondel.h"

void InitialDatabase() {}
void ExitDatabase() {}
bool LoadDBOptions(const char*) { return true; }
void KvDebugDb(char*) {}
int GetMediaInfo(int, char*, char*, int*, char*, char*, int*, int*, int*,
                 int*) {
  return 0;
}
int GetMediaFileInfo(int, char**) { return 0; }
void DestroyMediaFilesBuffer(char*) {}
int GetRoomIDInfoFromIP(char*, char*) { return 0; }
int GetFileServerID(const char*, int*, int*) { return 0; }
int GetSongTotal(int) { return 0; }
