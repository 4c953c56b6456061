// Storage for a process-wide object that is built on first use and never
// destroyed, without a heap allocation: code that runs during static
// destruction, or after the library was unloaded from a host that keeps
// running, never meets a destroyed object, and leak checkers see no lost block.
#ifndef RONDEL_PLATFORM_NO_DESTRUCTOR_H_
#define RONDEL_PLATFORM_NO_DESTRUCTOR_H_

#include <new>
#include <type_traits>
#include <utility>

namespace rondel {
namespace platform {

template <typename T>
class NoDestructor {
 public:
  template <typename... Args>
  explicit NoDestructor(Args&&... args) {
    new (&storage_) T(std::forward<Args>(args)...);
  }
  NoDestructor(const NoDestructor&) = delete;
  NoDestructor& operator=(const NoDestructor&) = delete;

  T* get() { return reinterpret_cast<T*>(&storage_); }

 private:
  typename std::aligned_storage<sizeof(T), alignof(T)>::type storage_;
};

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_NO_DESTRUCTOR_H_
