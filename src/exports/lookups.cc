// The catalogue lookups as the host calls them. Nothing is thrown across: each
// export turns anything unexpected into its failure result.
#include "playback/lookups.h"

#include "playback/song_total.h"
#include "rondel.h"

int GetMediaInfo(int mediaId, char* name, char* code, int* mediaClass,
                 char* textA, char* textB, int* numberA, int* numberB,
                 int* numberC, int* groupId) {
  try {
    return rondel::LookUpMediaInfo(mediaId, name, code, mediaClass, textA,
                                   textB, numberA, numberB, numberC, groupId)
               ? 1
               : 0;
  } catch (...) {
    return 0;
  }
}

int GetMediaFileInfo(int mediaId, char** files) {
  if (files == nullptr) return 0;
  try {
    return rondel::LookUpMediaFiles(mediaId, files) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

void DestroyMediaFilesBuffer(char* files) {
  try {
    rondel::ReleaseMediaFiles(files);
  } catch (...) {
  }
}

int GetRoomIDInfoFromIP(char* roomAddress, char* roomInfo) {
  try {
    return rondel::LookUpRoomInfo(roomAddress, roomInfo) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int GetFileServerID(const char* serverAddress, int* fileServerId,
                    int* groupId) {
  try {
    return rondel::LookUpFileServer(serverAddress, fileServerId, groupId) ? 1
                                                                          : 0;
  } catch (...) {
    return 0;
  }
}

int GetSongTotal(int number) {
  try {
    return rondel::SongTotalBelow(number) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
