#include <cerrno>

#include "platform/file_error.h"
#include "status_test_texts.h"

namespace rondel {
namespace tools {

std::string RefusedText() { return platform::ErrorText(ECONNREFUSED); }
std::string NoSuchFileText() { return platform::ErrorText(ENOENT); }

}  // namespace tools
}  // namespace rondel
