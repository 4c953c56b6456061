#include <windows.h>

#include <cstring>
#include <string>

#include "platform/file_error.h"
#include "platform/windows_error.h"

namespace rondel {
namespace platform {

// Error numbers on Windows come from windows_error.h's mapping of the system's
// codes, so the C library's texts name them.
std::string ErrorText(int error_number) {
  char text[256] = {0};
  if (strerror_s(text, sizeof text, error_number) != 0) {
    return "error " + std::to_string(error_number);
  }
  return text;
}

unsigned long LastSystemCode(int error_number) {
  return SystemCodeBehind(error_number);
}

std::string SystemCodeText(unsigned long system_code) {
  char text[512] = {0};
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(system_code), 0, text, sizeof text, nullptr);
  // The system's texts end in a line break, which a log line must not carry.
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                        text[length - 1] == ' ')) {
    --length;
  }
  const std::string code =
      "(Windows error " + std::to_string(system_code) + ")";
  if (length == 0) return code;
  return std::string(text, length) + " " + code;
}

}  // namespace platform
}  // namespace rondel
