// The fire-alarm video and page as the host calls them. Nothing is thrown
// across: each export turns anything unexpected into 0. A null output is
// refused before any database call, so the answer is 0 with nothing written
// rather than a crash part-way.
#include "playback/fire_alarm.h"

#include "rondel.h"

int GetFirealarmVideo(const char* address, char* url, char* format1,
                      char* format2) {
  if (url == nullptr || format1 == nullptr || format2 == nullptr) return 0;
  try {
    return rondel::FindFirealarmVideo(address, url, format1, format2) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int GetFirealarmPage(const char* /*address*/, char* page) {
  if (page == nullptr) return 0;
  try {
    return rondel::FindFirealarmPage(page) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}
