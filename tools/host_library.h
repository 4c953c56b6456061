// The library as the venue's video server sees it: a shared object opened with
// dlopen whose functions are found with dlsym under their exported (mangled
// C++) names.
#ifndef RONDEL_TOOLS_HOST_LIBRARY_H_
#define RONDEL_TOOLS_HOST_LIBRARY_H_

#include <memory>
#include <string>

#include "rondel.h"

namespace rondel {
namespace tools {

// The exported names, written out as the host program knows them. Each is the
// Itanium C++ mangling of the declaration in rondel.h; `nm -D librondel.so`
// lists the same texts.
constexpr const char kInitialDatabaseSymbol[] = "_Z15InitialDatabasev";
constexpr const char kExitDatabaseSymbol[] = "_Z12ExitDatabasev";
constexpr const char kLoadDBOptionsSymbol[] = "_Z13LoadDBOptionsPKc";
constexpr const char kKvDebugDbSymbol[] = "_Z9KvDebugDbPc";
constexpr const char kGetMediaInfoSymbol[] =
    "_Z12GetMediaInfoiPcS_PiS_S_S0_S0_S0_S0_";
constexpr const char kGetMediaFileInfoSymbol[] = "_Z16GetMediaFileInfoiPPc";
constexpr const char kDestroyMediaFilesBufferSymbol[] =
    "_Z23DestroyMediaFilesBufferPc";
constexpr const char kGetRoomIDInfoFromIPSymbol[] =
    "_Z19GetRoomIDInfoFromIPPcS_";
constexpr const char kGetFileServerIDSymbol[] = "_Z15GetFileServerIDPKcPiS1_";
constexpr const char kGetSongTotalSymbol[] = "_Z12GetSongTotali";

// Every exported name, for checks that walk them all.
constexpr const char* kAllSymbols[] = {kInitialDatabaseSymbol,
                                       kExitDatabaseSymbol,
                                       kLoadDBOptionsSymbol,
                                       kKvDebugDbSymbol,
                                       kGetMediaInfoSymbol,
                                       kGetMediaFileInfoSymbol,
                                       kDestroyMediaFilesBufferSymbol,
                                       kGetRoomIDInfoFromIPSymbol,
                                       kGetFileServerIDSymbol,
                                       kGetSongTotalSymbol};

// One opened library with every export resolved. The function types are those
// of the declarations in rondel.h (taken with decltype, so a change of
// signature there breaks the build here). Move-only in effect: it owns the
// dlopen handle and closes it on destruction.
class HostLibrary {
 public:
  decltype(&::InitialDatabase) InitialDatabase = nullptr;
  decltype(&::ExitDatabase) ExitDatabase = nullptr;
  decltype(&::LoadDBOptions) LoadDBOptions = nullptr;
  decltype(&::KvDebugDb) KvDebugDb = nullptr;
  decltype(&::GetMediaInfo) GetMediaInfo = nullptr;
  decltype(&::GetMediaFileInfo) GetMediaFileInfo = nullptr;
  decltype(&::DestroyMediaFilesBuffer) DestroyMediaFilesBuffer = nullptr;
  decltype(&::GetRoomIDInfoFromIP) GetRoomIDInfoFromIP = nullptr;
  decltype(&::GetFileServerID) GetFileServerID = nullptr;
  decltype(&::GetSongTotal) GetSongTotal = nullptr;

  // Opens `path` (a plain name is searched as dlopen searches) and resolves
  // every export. On failure returns null and sets *error to dlerror's text or
  // the missing name.
  static std::unique_ptr<HostLibrary> Open(const std::string& path,
                                           std::string* error);

  HostLibrary(const HostLibrary&) = delete;
  HostLibrary& operator=(const HostLibrary&) = delete;
  ~HostLibrary();

 private:
  explicit HostLibrary(void* handle) : handle_(handle) {}

  void* handle_;
};

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_HOST_LIBRARY_H_
