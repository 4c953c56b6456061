// Test hooks for platform/file.h. Only tests include this header; the library
// never calls these functions itself.
#ifndef RONDEL_PLATFORM_FILE_TEST_HOOKS_H_
#define RONDEL_PLATFORM_FILE_TEST_HOOKS_H_

namespace rondel {
namespace platform {

// While `refuse` is set, File::ChangeOwner fails with EPERM, as it does for a
// writer without privilege giving a file another owner.
void RefuseOwnerChanges(bool refuse);

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_FILE_TEST_HOOKS_H_
