// The process's exclusive lock (not re-entrant) and a scoped holder.
#ifndef RONDEL_PLATFORM_LOCK_H_
#define RONDEL_PLATFORM_LOCK_H_

#include <atomic>
#include <chrono>
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
    waiting_.fetch_add(1, std::memory_order_relaxed);
    mutex_.lock();
    waiting_.fetch_sub(1, std::memory_order_relaxed);
    Taken();
  }
  void Release() {
    holder_.store(std::thread::id(), std::memory_order_relaxed);
    mutex_.unlock();
  }
  bool TryAcquire() {
    if (!mutex_.try_lock()) return false;
    Taken();
    return true;
  }
  // How many times the lock has been taken so far.
  unsigned long holds() const { return holds_.load(std::memory_order_relaxed); }
  // A thread that has just released the lock and is about to take it again
  // lets the threads waiting for it go first: when any wait, it waits until
  // the lock has been taken since `holds_at_release` (its holds() just before
  // it released), at most `limit`. The mutex alone would often hand the lock
  // straight back to the releasing thread. REQUIRES: not held by this thread.
  void LetWaitersIn(unsigned long holds_at_release,
                    std::chrono::milliseconds limit) const {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (waiting_.load(std::memory_order_relaxed) > 0 &&
           holds() == holds_at_release &&
           std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  // Exact for the calling thread: only it can make its own id appear here.
  bool HeldByThisThread() const {
    return holder_.load(std::memory_order_relaxed) ==
           std::this_thread::get_id();
  }

 private:
  // Every way of taking the lock ends here.
  void Taken() {
    holder_.store(std::this_thread::get_id(), std::memory_order_relaxed);
    holds_.fetch_add(1, std::memory_order_relaxed);
  }

  std::mutex mutex_;
  std::atomic<std::thread::id> holder_{};
  std::atomic<int> waiting_{0};  // threads blocked in Acquire
  std::atomic<unsigned long> holds_{0};
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
