// Loads rondel.dll as a venue's host does (by file name, each function by its
// decorated name) and asks for the song total without a database: the
// catalogue is empty, so the answer is 0. Exit status 0 when it is.
//   load_library_check PATH\TO\rondel.dll
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: load_library_check RONDEL_DLL\n");
    return 2;
  }
  HMODULE library = LoadLibraryA(argv[1]);
  if (library == nullptr) {
    std::fprintf(stderr, "cannot load %s: error %lu\n", argv[1],
                 GetLastError());
    return 1;
  }
  using SongTotal = int (*)(int);
  const auto get_song_total =
      reinterpret_cast<SongTotal>(reinterpret_cast<void*>(
          GetProcAddress(library, "?GetSongTotal@@YAHH@Z")));
  if (get_song_total == nullptr) {
    std::fprintf(stderr, "no ?GetSongTotal@@YAHH@Z in %s\n", argv[1]);
    return 1;
  }
  const int total = get_song_total(0);
  std::printf("GetSongTotal(0) = %d\n", total);
  return total == 0 ? 0 : 1;
}
