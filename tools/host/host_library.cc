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
  bool ok = true;  // the first base export missing names itself in *error
#define RONDEL_RESOLVE_BASE(name, result, parameters, itanium_symbol, \
                            msvc_symbol)                              \
  ok = ok && Resolve(handle, k##name##Symbol, &l.name, error);
  RONDEL_BASE_EXPORTS(RONDEL_RESOLVE_BASE)
#undef RONDEL_RESOLVE_BASE
  if (!ok) return nullptr;
  std::string absent;  // reported by MissingExports when an action needs one
#define RONDEL_RESOLVE_LATER(name, result, parameters, itanium_symbol, \
                             msvc_symbol)                              \
  Resolve(handle, k##name##Symbol, &l.name, &absent);
  RONDEL_LATER_EXPORTS(RONDEL_RESOLVE_LATER)
#undef RONDEL_RESOLVE_LATER
  return library;
}

std::vector<std::string> HostLibrary::MissingExports(
    const std::vector<const char*>& names) const {
  const struct {
    const char* symbol;
    const char* name;
    bool present;
  } optional[] = {
#define RONDEL_OPTIONAL_EXPORT(name, result, parameters, itanium_symbol, \
                               msvc_symbol)                              \
  {k##name##Symbol, #name, name != nullptr},
      RONDEL_LATER_EXPORTS(RONDEL_OPTIONAL_EXPORT)
#undef RONDEL_OPTIONAL_EXPORT
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

// The library stays loaded until the process ends, as it does in a venue's
// host: unloading it after a call used its per-thread state (the random
// generator) leaves the thread's storage table pointing at the unloaded
// module, and the leak checker's scan at exit crashes on it.
HostLibrary::~HostLibrary() = default;

}  // namespace tools
}  // namespace rondel
