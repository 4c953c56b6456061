// The host's loader on Linux: dlopen, and dlsym under the Itanium C++ mangling
// of each export.
#include <dlfcn.h>
#include <unistd.h>

#include "host_library.h"

namespace rondel {
namespace tools {

#define RONDEL_HOST_SYMBOL(name, result, parameters, itanium_symbol, \
                           msvc_symbol)                              \
  const char k##name##Symbol[] = itanium_symbol;
RONDEL_EXPORTS(RONDEL_HOST_SYMBOL)
#undef RONDEL_HOST_SYMBOL

std::string HostLibrary::DefaultPath() {
  if (access(RONDEL_DEFAULT_LIBRARY, R_OK) == 0) return RONDEL_DEFAULT_LIBRARY;
  return "librondel.so";
}

std::string HostLibrary::DefaultPathHelp() {
  return RONDEL_DEFAULT_LIBRARY
      ",\n                       or librondel.so found as dlopen searches "
      "when that is absent";
}

void* HostLibrary::Load(const std::string& path, std::string* error) {
  dlerror();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    *error =
        "cannot load " + path + ": " + (reason ? reason : "unknown reason");
  }
  return handle;
}

void* HostLibrary::Find(void* handle, const char* symbol, std::string* error) {
  dlerror();
  void* address = dlsym(handle, symbol);
  if (address == nullptr) {
    *error = std::string("symbol ") + symbol + " not found";
    if (const char* reason = dlerror()) *error += std::string(": ") + reason;
  }
  return address;
}

}  // namespace tools
}  // namespace rondel
