// The process's exclusive lock (not re-entrant) and a scoped holder.
#ifndef RONDEL_PLATFORM_LOCK_H_
#define RONDEL_PLATFORM_LOCK_H_

#include <mutex>

namespace rondel {
namespace platform {

class Lock {
 public:
  Lock() = default;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void Acquire() { mutex_.lock(); }
  void Release() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

class LockHolder {
 public:
  explicit LockHolder(Lock& lock) : lock_(lock) { lock_.Acquire(); }
  ~LockHolder() { lock_.Release(); }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

 private:
  Lock& lock_;
};

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_LOCK_H_
