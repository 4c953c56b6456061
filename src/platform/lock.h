// The process's exclusive lock (not re-entrant) and a scoped holder.
#ifndef RONDEL_PLATFORM_LOCK_H_
#define RONDEL_PLATFORM_LOCK_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace rondel {
namespace platform {

// The lock remembers its holder, so that contracts ("REQUIRES: the lock held",
// "... not held") can be checked with assertions.
//
// It is a flag under a mutex with a condition variable rather than a bare
// mutex so that a wait can be bounded (AcquireWithin): a timed mutex waits
// through pthread_mutex_clocklock, which the thread sanitizer does not know,
// while a condition variable's timed wait it follows.
class Lock {
 public:
  Lock() = default;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void Acquire() {
    std::unique_lock<std::mutex> state(state_);
    waiting_.fetch_add(1, std::memory_order_relaxed);
    free_.wait(state, [this] { return !taken_; });
    waiting_.fetch_sub(1, std::memory_order_relaxed);
    Taken();
  }
  // Acquire, giving up after `wait`: true when the lock is now held.
  bool AcquireWithin(std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> state(state_);
    waiting_.fetch_add(1, std::memory_order_relaxed);
    const bool free = free_.wait_for(state, wait, [this] { return !taken_; });
    waiting_.fetch_sub(1, std::memory_order_relaxed);
    if (!free) return false;
    Taken();
    return true;
  }
  void Release() {
    holder_.store(std::thread::id(), std::memory_order_relaxed);
    {
      std::lock_guard<std::mutex> state(state_);
      taken_ = false;
    }
    // One waiter is enough: a woken waiter that finds the lock taken again
    // waits on, and whoever took it wakes the next one at its release.
    free_.notify_one();
  }
  bool TryAcquire() {
    std::lock_guard<std::mutex> state(state_);
    if (taken_) return false;
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
  // Every way of taking the lock ends here. REQUIRES: state_ held, the lock
  // free.
  void Taken() {
    taken_ = true;
    holder_.store(std::this_thread::get_id(), std::memory_order_relaxed);
    holds_.fetch_add(1, std::memory_order_relaxed);
  }

  std::mutex state_;              // guards taken_
  std::condition_variable free_;  // signalled when taken_ becomes false
  bool taken_ = false;
  std::atomic<std::thread::id> holder_{};
  std::atomic<int> waiting_{0};  // threads blocked in Acquire(Within)
  std::atomic<unsigned long> holds_{0};
};

// Holds the lock for its scope. The bounded form may end up not holding it:
// owns() says which, and only a held lock is released.
class LockHolder {
 public:
  explicit LockHolder(Lock& lock) : lock_(lock), owns_(true) {
    lock_.Acquire();
  }
  LockHolder(Lock& lock, std::chrono::milliseconds wait)
      : lock_(lock), owns_(lock.AcquireWithin(wait)) {}
  ~LockHolder() {
    if (owns_) lock_.Release();
  }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

  bool owns() const { return owns_; }

 private:
  Lock& lock_;
  const bool owns_;
};

}  // namespace platform
}  // namespace rondel

#endif  // RONDEL_PLATFORM_LOCK_H_
