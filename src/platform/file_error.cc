#include "platform/file_error.h"

#include <cerrno>
#include <string>
#include <utility>

namespace rondel {
namespace platform {

FileError FileError::Now(std::string step, std::string file) {
  const int error_number = errno;
  FileError error = Of(std::move(step), std::move(file), error_number);
  error.system_code = LastSystemCode(error_number);
  return error;
}

FileError FileError::Of(std::string step, std::string file, int error_number) {
  FileError error;
  error.step = std::move(step);
  error.file = std::move(file);
  error.error_number = error_number;
  return error;
}

std::string FileError::ToString() const {
  if (ok()) return "ok";
  const std::string why = system_code != 0    ? SystemCodeText(system_code)
                          : error_number != 0 ? ErrorText(error_number)
                                              : "failed";
  return step + " \"" + file + "\": " + why;
}

}  // namespace platform
}  // namespace rondel
