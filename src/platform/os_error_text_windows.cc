#include "platform/file_error.h"
#include "platform/os_error_text.h"

namespace rondel {
namespace platform {

std::string OsErrorText(int error_number) {
  return SystemCodeText(static_cast<unsigned long>(error_number));
}

}  // namespace platform
}  // namespace rondel
