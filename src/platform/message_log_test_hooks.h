// Test hooks of the module log. Only tests include this header; the library
// never calls these functions itself.
#ifndef RONDEL_PLATFORM_MESSAGE_LOG_TEST_HOOKS_H_
#define RONDEL_PLATFORM_MESSAGE_LOG_TEST_HOOKS_H_

#include <cstddef>

namespace rondel {
namespace platform {

// From now on the log file is renamed to "<name>.1" when an entry would take
// it past `bytes` instead of 16 MiB, so that tests reach the rotation with
// little writing. 0 puts the 16 MiB back.
void SetLogSizeCap(size_t bytes);

// From now on a full log that cannot be renamed cannot be cut down either: the
// cut fails with `error_number`'s text. 0 lets cuts work again.
void RefuseLogCut(int error_number);

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_MESSAGE_LOG_TEST_HOOKS_H_
