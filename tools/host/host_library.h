// The library as the venue's video server sees it: a shared library loaded by
// file name whose functions are found under their exported names. On Linux
// that is librondel.so, opened with dlopen, each function found with dlsym
// under its Itanium C++ mangling; on Windows rondel.dll, loaded with
// LoadLibraryA, each function found with GetProcAddress under its
// MSVC-decorated name. The platform parts are host_library_posix.cc and
// host_library_windows.cc.
#ifndef RONDEL_TOOLS_HOST_LIBRARY_H_
#define RONDEL_TOOLS_HOST_LIBRARY_H_

#include <memory>
#include <string>
#include <vector>

#include "exports/export_list.h"
#include "rondel.h"

namespace rondel {
namespace tools {

// The exported names, as the host program looks them up on this platform,
// taken from the export list: the Itanium C++ mangling of each declaration of
// rondel.h on Linux (`nm -D librondel.so` lists the same texts), the MSVC
// decoration on Windows. kGetSongTotalSymbol and so on, defined in the
// platform's file.
#define RONDEL_HOST_SYMBOL(name, result, parameters, itanium_symbol, \
                           msvc_symbol)                              \
  extern const char k##name##Symbol[];
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
// signature there breaks the build here). Not copyable: it holds the
// library's handle, which it never closes (see host_library.cc).
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

  // The library loaded when the command names none: on Linux the one built
  // beside the command, or librondel.so found as dlopen searches when that is
  // absent; on Windows rondel.dll, found as LoadLibraryA searches (the
  // command's own folder first). DefaultPathHelp says so for the usage text.
  static std::string DefaultPath();
  static std::string DefaultPathHelp();

  // Opens `path` (a plain name is searched as the platform's loader searches)
  // and resolves the exports. On failure (no library, or a required export
  // missing) returns null and sets *error to the loader's reason or the
  // missing name.
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

  // The platform's loader: the library's handle, or null with the reason in
  // *error; the address of the export `symbol`, or null with the reason.
  static void* Load(const std::string& path, std::string* error);
  static void* Find(void* handle, const char* symbol, std::string* error);

  // Resolves `symbol` into `*function`, keeping the declared type of the
  // pointer. False (with the name in *error) when the library lacks it.
  template <typename Function>
  static bool Resolve(void* handle, const char* symbol, Function* function,
                      std::string* error);

  [[maybe_unused]] void* handle_;  // never closed
};

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_HOST_LIBRARY_H_
