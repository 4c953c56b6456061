// The library as the venue's video server sees it: a shared object opened with
// dlopen whose functions are found with dlsym under their exported (mangled
// C++) names.
#ifndef RONDEL_TOOLS_HOST_LIBRARY_H_
#define RONDEL_TOOLS_HOST_LIBRARY_H_

#include <memory>
#include <string>
#include <vector>

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
constexpr const char kGetNextVideoSymbol[] =
    "_Z12GetNextVideoPKcPcS1_S1_S1_S1_S1_PiS2_S2_";
constexpr const char kGetRandPlayMediaIDSymbol[] = "_Z18GetRandPlayMediaIDPKc";
constexpr const char kGetFirealarmVideoSymbol[] =
    "_Z17GetFirealarmVideoPKcPcS1_S1_";
constexpr const char kGetFirealarmPageSymbol[] = "_Z16GetFirealarmPagePKcPc";
constexpr const char kSaveVideoTimeSymbol[] = "_Z13SaveVideoTimeiPcS_S_i";
constexpr const char kAddLogSymbol[] = "_Z6AddLogPKciPiS1_PcS0_";
constexpr const char kModifyLogSymbol[] = "_Z9ModifyLogiPiPcPKc";
constexpr const char kGetAuthorizationSymbol[] =
    "_Z16GetAuthorizationPKciPiPcS0_";
constexpr const char kGetDataServerSymbol[] = "_Z13GetDataServerv";
constexpr const char kGetServerGroupSymbol[] = "_Z14GetServerGroupiPi";
constexpr const char kAddVideoServerConnectNumSymbol[] =
    "_Z24AddVideoServerConnectNumiiiiPKc";
constexpr const char kModifyVideoServerConnectNumSymbol[] =
    "_Z27ModifyVideoServerConnectNumiiiiPKc";
constexpr const char kGetVideoServerConnectNumSymbol[] =
    "_Z24GetVideoServerConnectNumiiPiPc";
constexpr const char kDeleteVideoServerConnectNumSymbol[] =
    "_Z27DeleteVideoServerConnectNumii";
constexpr const char kModifyGroupStateSymbol[] = "_Z16ModifyGroupStateii";

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
                                       kGetSongTotalSymbol,
                                       kGetNextVideoSymbol,
                                       kGetRandPlayMediaIDSymbol,
                                       kGetFirealarmVideoSymbol,
                                       kGetFirealarmPageSymbol,
                                       kSaveVideoTimeSymbol,
                                       kAddLogSymbol,
                                       kModifyLogSymbol,
                                       kGetAuthorizationSymbol,
                                       kGetDataServerSymbol,
                                       kGetServerGroupSymbol,
                                       kAddVideoServerConnectNumSymbol,
                                       kModifyVideoServerConnectNumSymbol,
                                       kGetVideoServerConnectNumSymbol,
                                       kDeleteVideoServerConnectNumSymbol,
                                       kModifyGroupStateSymbol};

// One opened library with its exports resolved. The function types are those
// of the declarations in rondel.h (taken with decltype, so a change of
// signature there breaks the build here). Move-only in effect: it owns the
// dlopen handle and closes it on destruction.
//
// The lifecycle and lookup exports are required. The playback, records and
// registry exports are resolved when the library has them and left null
// otherwise, so that a build of the library from before them still answers
// the other actions; an action that calls one checks MissingExports first.
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
  // Playback: null when the library lacks them.
  decltype(&::GetNextVideo) GetNextVideo = nullptr;
  decltype(&::GetRandPlayMediaID) GetRandPlayMediaID = nullptr;
  decltype(&::GetFirealarmVideo) GetFirealarmVideo = nullptr;
  decltype(&::GetFirealarmPage) GetFirealarmPage = nullptr;
  // Records and registry: null when the library lacks them.
  decltype(&::SaveVideoTime) SaveVideoTime = nullptr;
  decltype(&::AddLog) AddLog = nullptr;
  decltype(&::ModifyLog) ModifyLog = nullptr;
  decltype(&::GetAuthorization) GetAuthorization = nullptr;
  decltype(&::GetDataServer) GetDataServer = nullptr;
  decltype(&::GetServerGroup) GetServerGroup = nullptr;
  decltype(&::AddVideoServerConnectNum) AddVideoServerConnectNum = nullptr;
  decltype(&::ModifyVideoServerConnectNum) ModifyVideoServerConnectNum =
      nullptr;
  decltype(&::GetVideoServerConnectNum) GetVideoServerConnectNum = nullptr;
  decltype(&::DeleteVideoServerConnectNum) DeleteVideoServerConnectNum =
      nullptr;
  decltype(&::ModifyGroupState) ModifyGroupState = nullptr;

  // Opens `path` (a plain name is searched as dlopen searches) and resolves
  // the exports. On failure (no library, or a required export missing) returns
  // null and sets *error to dlerror's text or the missing name.
  static std::unique_ptr<HostLibrary> Open(const std::string& path,
                                           std::string* error);

  // The optional exports among `names` (exported names, as kAllSymbols holds
  // them) that this library lacks, each as "GetNextVideo (symbol
  // _Z12GetNextVideo...)"; empty when it has them all.
  std::vector<std::string> MissingExports(
      const std::vector<const char*>& names) const;

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
