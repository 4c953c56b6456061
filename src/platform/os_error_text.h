// The text of a system error number that the client library (FreeTDS) reports
// beside its own message: errno on POSIX; a Winsock or Windows code on
// Windows, whose C library has no text for those.
//   OsErrorText(ECONNREFUSED)  -> "Connection refused"                (POSIX)
//   OsErrorText(10061)         -> "No connection could be made ...
//                                  (Windows error 10061)"             (Windows)
#ifndef RONDEL_PLATFORM_OS_ERROR_TEXT_H_
#define RONDEL_PLATFORM_OS_ERROR_TEXT_H_

#include <string>

namespace rondel {
namespace platform {

// REQUIRES: error_number > 0.
std::string OsErrorText(int error_number);

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_OS_ERROR_TEXT_H_
