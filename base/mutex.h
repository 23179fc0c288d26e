// mutex.h -- the standard library's locks with thread-safety annotations.
//
// Mutex and SharedMutex wrap std::mutex and std::shared_mutex; MutexLock,
// WriterLock and ReaderLock hold them for a scope. clang's -Wthread-safety
// then checks every GUARDED_BY field against the locks a function holds.
// CondVar waits on a Mutex (std::condition_variable_any, which takes any
// lock, keeps the annotations on the Mutex itself).
#ifndef PELLUMIN_BASE_MUTEX_H_
#define PELLUMIN_BASE_MUTEX_H_

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <shared_mutex>

#include "thread_annotations.h"

namespace base {

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }
  bool TryLock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }
  // Tells the analysis that the caller holds the lock (a callback made
  // under it, say); checks nothing at run time.
  void AssertHeld() ASSERT_CAPABILITY(this) {}

  // For std::condition_variable_any and std::unique_lock.
  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

class CAPABILITY("shared mutex") SharedMutex {
 public:
  SharedMutex() = default;
  SharedMutex(const SharedMutex&) = delete;
  SharedMutex& operator=(const SharedMutex&) = delete;

  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }
  void LockShared() ACQUIRE_SHARED() { mutex_.lock_shared(); }
  void UnlockShared() RELEASE_SHARED() { mutex_.unlock_shared(); }
  void AssertHeld() ASSERT_CAPABILITY(this) {}

 private:
  std::shared_mutex mutex_;
};

class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex* mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_->Lock(); }
  ~MutexLock() RELEASE() { mutex_->Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex* const mutex_;
};

class SCOPED_CAPABILITY WriterLock {
 public:
  explicit WriterLock(SharedMutex* mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_->Lock(); }
  ~WriterLock() RELEASE() { mutex_->Unlock(); }
  WriterLock(const WriterLock&) = delete;
  WriterLock& operator=(const WriterLock&) = delete;

 private:
  SharedMutex* const mutex_;
};

class SCOPED_CAPABILITY ReaderLock {
 public:
  explicit ReaderLock(SharedMutex* mutex) ACQUIRE_SHARED(mutex) : mutex_(mutex) {
    mutex_->LockShared();
  }
  ~ReaderLock() RELEASE() { mutex_->UnlockShared(); }
  ReaderLock(const ReaderLock&) = delete;
  ReaderLock& operator=(const ReaderLock&) = delete;

 private:
  SharedMutex* const mutex_;
};

// A condition variable for one Mutex. Wait and WaitFor need that mutex held
// and hold it again when they return; the analysis cannot tie the waiter's
// lock to the mutex given here, so the caller's own REQUIRES or scoped lock
// is what it checks.
class CondVar {
 public:
  explicit CondVar(Mutex* mutex) : mutex_(mutex) {}
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;

  void Wait() NO_THREAD_SAFETY_ANALYSIS { cv_.wait(*mutex_); }
  // False when the time ran out.
  template <class Rep, class Period>
  bool WaitFor(std::chrono::duration<Rep, Period> timeout) NO_THREAD_SAFETY_ANALYSIS {
    return cv_.wait_for(*mutex_, timeout) == std::cv_status::no_timeout;
  }
  // False when the time came first.
  template <class Clock, class Duration>
  bool WaitUntil(std::chrono::time_point<Clock, Duration> deadline) NO_THREAD_SAFETY_ANALYSIS {
    return cv_.wait_until(*mutex_, deadline) == std::cv_status::no_timeout;
  }
  void Signal() { cv_.notify_one(); }
  void SignalAll() { cv_.notify_all(); }

 private:
  Mutex* const mutex_;
  std::condition_variable_any cv_;
};

}  // namespace base

#endif  // PELLUMIN_BASE_MUTEX_H_
