// GetNextVideo as the host calls it. Nothing is thrown across.
#include "playback/next_video.h"

#include "rondel.h"

int GetNextVideo(const char* roomAddress, char* name, char* code, char* url,
                 char* kind, char* textA, char* textB, int* numberA,
                 int* numberB, int* numberC) {
  // The address, the URL and the kind are required: without one there is no
  // question or no place for the answer, so nothing is asked or written.
  if (roomAddress == nullptr || url == nullptr || kind == nullptr) return 0;
  try {
    return rondel::NextVideo(roomAddress, name, code, url, kind, textA, textB,
                             numberA, numberB, numberC);
  } catch (...) {
    return 0;
  }
}
