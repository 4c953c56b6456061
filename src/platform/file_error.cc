#include "platform/file_error.h"

#include <cerrno>
#include <string>
#include <utility>

namespace rondel {
namespace platform {

FileError FileError::Now(std::string step, std::string file) {
  return Of(std::move(step), std::move(file), errno);
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
  return step + " \"" + file +
         "\": " + (error_number != 0 ? ErrorText(error_number) : "failed");
}

}  // namespace platform
}  // namespace rondel
