// A venue host built against an installed Rondel, run without a database.
#include <rondel.h>

#include <cstdio>

int main() {
  char text[] = "installed host";
  KvDebugDb(text);  // the test's monitor receives it
  InitialDatabase();  // the database refuses: an empty catalogue from snapshots
  int below = GetSongTotal(100);                   // 0: the database cannot be asked
  int media = GetRandPlayMediaID("10.0.0.31");  // -1: nothing to choose from
  ExitDatabase();
  std::printf("GetSongTotal %d GetRandPlayMediaID %d\n", below, media);
  return below == 0 && media == -1 ? 0 : 1;
}
