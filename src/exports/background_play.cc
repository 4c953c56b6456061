// Background play as the host calls it. Nothing is thrown across: anything
// unexpected answers "no media".
#include "playback/background_play.h"

#include "rondel.h"

RONDEL_API int GetRandPlayMediaID(const char* roomAddress) {
  try {
    return rondel::NextBackgroundMedia(roomAddress);
  } catch (...) {
    return rondel::kNoBackgroundMedia;
  }
}
