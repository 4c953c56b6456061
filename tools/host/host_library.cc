#include "host_library.h"

#include <dlfcn.h>

namespace rondel {
namespace tools {
namespace {

// Resolves `name` into `*function`, keeping the declared type of the pointer.
// False (with the name in *error) when the library does not export it.
template <typename Function>
bool Resolve(void* handle, const char* name, Function* function,
             std::string* error) {
  dlerror();
  void* address = dlsym(handle, name);
  if (address == nullptr) {
    *error = std::string("symbol ") + name + " not found";
    if (const char* reason = dlerror()) *error += std::string(": ") + reason;
    return false;
  }
  *function = reinterpret_cast<Function>(address);
  return true;
}

}  // namespace

std::unique_ptr<HostLibrary> HostLibrary::Open(const std::string& path,
                                               std::string* error) {
  dlerror();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    *error =
        "cannot load " + path + ": " + (reason ? reason : "unknown reason");
    return nullptr;
  }
  std::unique_ptr<HostLibrary> library(new HostLibrary(handle));
  HostLibrary& l = *library;
  bool ok =
      Resolve(handle, kInitialDatabaseSymbol, &l.InitialDatabase, error) &&
      Resolve(handle, kExitDatabaseSymbol, &l.ExitDatabase, error) &&
      Resolve(handle, kLoadDBOptionsSymbol, &l.LoadDBOptions, error) &&
      Resolve(handle, kKvDebugDbSymbol, &l.KvDebugDb, error) &&
      Resolve(handle, kGetMediaInfoSymbol, &l.GetMediaInfo, error) &&
      Resolve(handle, kGetMediaFileInfoSymbol, &l.GetMediaFileInfo, error) &&
      Resolve(handle, kDestroyMediaFilesBufferSymbol,
              &l.DestroyMediaFilesBuffer, error) &&
      Resolve(handle, kGetRoomIDInfoFromIPSymbol, &l.GetRoomIDInfoFromIP,
              error) &&
      Resolve(handle, kGetFileServerIDSymbol, &l.GetFileServerID, error) &&
      Resolve(handle, kGetSongTotalSymbol, &l.GetSongTotal, error);
  if (!ok) return nullptr;
  std::string absent;  // reported by MissingExports when an action needs one
  Resolve(handle, kGetNextVideoSymbol, &l.GetNextVideo, &absent);
  Resolve(handle, kGetRandPlayMediaIDSymbol, &l.GetRandPlayMediaID, &absent);
  Resolve(handle, kGetFirealarmVideoSymbol, &l.GetFirealarmVideo, &absent);
  Resolve(handle, kGetFirealarmPageSymbol, &l.GetFirealarmPage, &absent);
  Resolve(handle, kSaveVideoTimeSymbol, &l.SaveVideoTime, &absent);
  Resolve(handle, kAddLogSymbol, &l.AddLog, &absent);
  Resolve(handle, kModifyLogSymbol, &l.ModifyLog, &absent);
  Resolve(handle, kGetAuthorizationSymbol, &l.GetAuthorization, &absent);
  Resolve(handle, kGetDataServerSymbol, &l.GetDataServer, &absent);
  Resolve(handle, kGetServerGroupSymbol, &l.GetServerGroup, &absent);
  Resolve(handle, kAddVideoServerConnectNumSymbol, &l.AddVideoServerConnectNum,
          &absent);
  Resolve(handle, kModifyVideoServerConnectNumSymbol,
          &l.ModifyVideoServerConnectNum, &absent);
  Resolve(handle, kGetVideoServerConnectNumSymbol, &l.GetVideoServerConnectNum,
          &absent);
  Resolve(handle, kDeleteVideoServerConnectNumSymbol,
          &l.DeleteVideoServerConnectNum, &absent);
  Resolve(handle, kModifyGroupStateSymbol, &l.ModifyGroupState, &absent);
  return library;
}

std::vector<std::string> HostLibrary::MissingExports(
    const std::vector<const char*>& names) const {
  const struct {
    const char* symbol;
    const char* name;
    bool present;
  } optional[] = {
      {kGetNextVideoSymbol, "GetNextVideo", GetNextVideo != nullptr},
      {kGetRandPlayMediaIDSymbol, "GetRandPlayMediaID",
       GetRandPlayMediaID != nullptr},
      {kGetFirealarmVideoSymbol, "GetFirealarmVideo",
       GetFirealarmVideo != nullptr},
      {kGetFirealarmPageSymbol, "GetFirealarmPage",
       GetFirealarmPage != nullptr},
      {kSaveVideoTimeSymbol, "SaveVideoTime", SaveVideoTime != nullptr},
      {kAddLogSymbol, "AddLog", AddLog != nullptr},
      {kModifyLogSymbol, "ModifyLog", ModifyLog != nullptr},
      {kGetAuthorizationSymbol, "GetAuthorization",
       GetAuthorization != nullptr},
      {kGetDataServerSymbol, "GetDataServer", GetDataServer != nullptr},
      {kGetServerGroupSymbol, "GetServerGroup", GetServerGroup != nullptr},
      {kAddVideoServerConnectNumSymbol, "AddVideoServerConnectNum",
       AddVideoServerConnectNum != nullptr},
      {kModifyVideoServerConnectNumSymbol, "ModifyVideoServerConnectNum",
       ModifyVideoServerConnectNum != nullptr},
      {kGetVideoServerConnectNumSymbol, "GetVideoServerConnectNum",
       GetVideoServerConnectNum != nullptr},
      {kDeleteVideoServerConnectNumSymbol, "DeleteVideoServerConnectNum",
       DeleteVideoServerConnectNum != nullptr},
      {kModifyGroupStateSymbol, "ModifyGroupState",
       ModifyGroupState != nullptr},
  };
  std::vector<std::string> missing;
  for (const char* wanted : names) {
    for (const auto& entry : optional) {
      if (std::string(wanted) == entry.symbol && !entry.present) {
        missing.push_back(std::string(entry.name) + " (symbol " + entry.symbol +
                          ")");
      }
    }
  }
  return missing;
}

HostLibrary::~HostLibrary() { dlclose(handle_); }

}  // namespace tools
}  // namespace rondel
