// What the system itself says in a status report, as the tests expect it on
// each platform: one file each (status_test_texts_posix.cc, _windows.cc).
#ifndef RONDEL_TOOLS_STATUS_STATUS_TEST_TEXTS_H_
#define RONDEL_TOOLS_STATUS_STATUS_TEST_TEXTS_H_

#include <string>

namespace rondel {
namespace tools {

// The reason given for a connection to a loopback port nothing listens on.
std::string RefusedText();
// The reason given for opening a file that does not exist.
std::string NoSuchFileText();

}  // namespace tools
}  // namespace rondel

#endif  // RONDEL_TOOLS_STATUS_STATUS_TEST_TEXTS_H_
