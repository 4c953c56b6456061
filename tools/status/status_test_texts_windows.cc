#include <windows.h>  // the system error codes (winerror.h)

#include "platform/file_error.h"
#include "status_test_texts.h"

namespace rondel {
namespace tools {

// The system's own texts, with their codes.
std::string RefusedText() { return platform::SystemCodeText(WSAECONNREFUSED); }
std::string NoSuchFileText() {
  return platform::SystemCodeText(ERROR_FILE_NOT_FOUND);
}

}  // namespace tools
}  // namespace rondel
