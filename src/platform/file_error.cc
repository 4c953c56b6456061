#include "platform/file_error.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

namespace rondel {
namespace platform {

FileError FileError::Now(std::string step, std::string file) {
  const int error_number = errno;
  FileError error;
  error.step = std::move(step);
  error.file = std::move(file);
  error.error_number = error_number;
  return error;
}

std::string FileError::ToString() const {
  if (ok()) return "ok";
  return step + " \"" + file +
         "\": " + (error_number != 0 ? ErrorText(error_number) : "failed");
}

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

}  // namespace platform
}  // namespace rondel
