#include <cstring>
#include <string>

#include "platform/file_error.h"

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

}  // namespace platform
}  // namespace rondel
