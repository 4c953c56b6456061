// The host's loader on Windows, as a venue's video server loads the library:
// LoadLibraryA, and GetProcAddress under the MSVC decoration of each export
// (the names rondel.dll's module definition gives them).
#include <windows.h>

#include "host_library.h"

namespace rondel {
namespace tools {
namespace {

// "error N: the system's message".
std::string SystemReason(DWORD code) {
  char text[512] = {};
  DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, text, sizeof(text), nullptr);
  std::string message(text, length);
  while (!message.empty() &&
         (message.back() == '\n' || message.back() == '\r' ||
          message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  std::string reason = "error " + std::to_string(code);
  return message.empty() ? reason : reason + ": " + message;
}

}  // namespace

#define RONDEL_HOST_SYMBOL(name, result, parameters, itanium_symbol, \
                           msvc_symbol)                              \
  const char k##name##Symbol[] = msvc_symbol;
RONDEL_EXPORTS(RONDEL_HOST_SYMBOL)
#undef RONDEL_HOST_SYMBOL

std::string HostLibrary::DefaultPath() { return "rondel.dll"; }

std::string HostLibrary::DefaultPathHelp() {
  return "rondel.dll, found as LoadLibraryA searches:\n"
         "                       the command's own folder first";
}

void* HostLibrary::Load(const std::string& path, std::string* error) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    *error = "cannot load " + path + ": " + SystemReason(GetLastError());
  }
  return reinterpret_cast<void*>(module);
}

void* HostLibrary::Find(void* handle, const char* symbol, std::string* error) {
  FARPROC address = GetProcAddress(static_cast<HMODULE>(handle), symbol);
  if (address == nullptr) {
    *error = std::string("symbol ") + symbol +
             " not found: " + SystemReason(GetLastError());
    return nullptr;
  }
  // A data pointer, as the platform-neutral part takes it; the common part
  // gives it back its function type.
  return reinterpret_cast<void*>(address);
}

}  // namespace tools
}  // namespace rondel
