#include <cstring>
#include <string>

#include "platform/file_error.h"

namespace rondel {
namespace platform {

namespace {

// The GNU strerror_r points at its text, the XSI one fills the buffer.
[[maybe_unused]] std::string FromStrerror(const char* answer, const char*,
                                          int) {
  return answer;
}
[[maybe_unused]] std::string FromStrerror(int answer, const char* text,
                                          int error_number) {
  return answer == 0 ? text : "error " + std::to_string(error_number);
}

}  // namespace

std::string ErrorText(int error_number) {
  char text[256] = {0};
  return FromStrerror(strerror_r(error_number, text, sizeof text), text,
                      error_number);
}

unsigned long LastSystemCode(int) { return 0; }

std::string SystemCodeText(unsigned long) { return std::string(); }

}  // namespace platform
}  // namespace rondel
