// The library as the venue's video server sees it: a shared object opened with
// dlopen whose functions are found with dlsym under their exported (mangled
// C++) names.
#ifndef RONDEL_TOOLS_HOST_LIBRARY_H_
#define RONDEL_TOOLS_HOST_LIBRARY_H_

#include <memory>
#include <string>
#include <vector>

#include "exports/export_list.h"
#include "rondel.h"

namespace rondel {
namespace tools {

// The exported names, as the host program looks them up: the Itanium C++
// mangling of each declaration of rondel.h, as the export list states it
// (`nm -D librondel.so` lists the same texts). kGetSongTotalSymbol and so on.
#define RONDEL_HOST_SYMBOL(name, result, parameters, itanium_symbol, \
                           msvc_symbol)                              \
  constexpr const char k##name##Symbol[] = itanium_symbol;
RONDEL_EXPORTS(RONDEL_HOST_SYMBOL)
#undef RONDEL_HOST_SYMBOL

// Every exported name, for checks that walk them all.
#define RONDEL_HOST_SYMBOL(name, result, parameters, itanium_symbol, \
                           msvc_symbol)                              \
  k##name##Symbol,
constexpr const char* kAllSymbols[] = {RONDEL_EXPORTS(RONDEL_HOST_SYMBOL)};
#undef RONDEL_HOST_SYMBOL

// One opened library with its exports resolved. The function types are those
// of the declarations in rondel.h (taken with decltype, so a change of
// signature there breaks the build here). Move-only in effect: it owns the
// dlopen handle and closes it on destruction.
//
// The base exports of the export list (lifecycle, diagnostics, lookups) are
// required. The later ones (playback, records, registry) are resolved when the
// library has them and left null otherwise, so that a build of the library
// from before them still answers the other actions; an action that calls one
// checks MissingExports first.
class HostLibrary {
 public:
  // One member a function, named after it: InitialDatabase, GetSongTotal...
  // The base exports are never null in an opened library; the later ones are
  // null when the library lacks them.
#define RONDEL_HOST_FUNCTION(name, result, parameters, itanium_symbol, \
                             msvc_symbol)                              \
  decltype(&::name) name = nullptr;
  RONDEL_EXPORTS(RONDEL_HOST_FUNCTION)
#undef RONDEL_HOST_FUNCTION

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
  ~HostLibrary();  // leaves the library loaded (see host_library.cc)

 private:
  explicit HostLibrary(void* handle) : handle_(handle) {}

  [[maybe_unused]] void* handle_;  // never closed
};

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_HOST_LIBRARY_H_
