#include "host_library.h"

namespace rondel {
namespace tools {

template <typename Function>
bool HostLibrary::Resolve(void* handle, const char* symbol, Function* function,
                          std::string* error) {
  void* address = Find(handle, symbol, error);
  if (address == nullptr) return false;
  // Both loaders give an export's address as a data pointer; the function
  // behind it has the declared type.
  *function = reinterpret_cast<Function>(address);
  return true;
}

std::unique_ptr<HostLibrary> HostLibrary::Open(const std::string& path,
                                               std::string* error) {
  void* handle = Load(path, error);
  if (handle == nullptr) return nullptr;
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
