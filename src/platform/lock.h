// The process's exclusive lock (not re-entrant) and a scoped holder.
#ifndef RONDEL_PLATFORM_LOCK_H_
#define RONDEL_PLATFORM_LOCK_H_

#include <atomic>
#include <mutex>
#include <thread>

namespace rondel {
namespace platform {

// The lock remembers its holder, so that contracts ("REQUIRES: the lock held",
// "... not held") can be checked with assertions.
class Lock {
 public:
  Lock() = default;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void Acquire() {
    mutex_.lock();
    holder_.store(std::this_thread::get_id(), std::memory_order_relaxed);
  }
  void Release() {
    holder_.store(std::thread::id(), std::memory_order_relaxed);
    mutex_.unlock();
  }
  bool TryAcquire() {
    if (!mutex_.try_lock()) return false;
    holder_.store(std::this_thread::get_id(), std::memory_order_relaxed);
    return true;
  }
  // Exact for the calling thread: only it can make its own id appear here.
  bool HeldByThisThread() const {
    return holder_.load(std::memory_order_relaxed) ==
           std::this_thread::get_id();
  }

 private:
  std::mutex mutex_;
  std::atomic<std::thread::id> holder_{};
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
