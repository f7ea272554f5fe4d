#ifndef VM_UTIL_THREAD_ANNOTATIONS_H_
#define VM_UTIL_THREAD_ANNOTATIONS_H_

#include <condition_variable>
#include <mutex>

// Clang's thread-safety annotations: under clang with -Wthread-safety the
// compiler checks that a member marked GUARDED_BY(mutex_) is only touched
// with mutex_ held and that a function marked REQUIRES(mutex_) is only
// called so; other compilers see nothing. libstdc++'s std::mutex carries no
// annotations, so the classes use Mutex and MutexLock below. The thread map
// is docs/threads.md.

#if defined(__clang__)
#define VM_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define VM_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) VM_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY VM_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) VM_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) VM_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) VM_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) VM_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) VM_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) VM_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS \
  VM_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace vm {

// A std::mutex the analysis knows. native() is for a condition variable,
// which waits with a std::unique_lock over it (see MutexLock::Wait).
class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }
  std::mutex& native() { return mutex_; }

 private:
  std::mutex mutex_;
};

// Holds a Mutex for its scope. Wait lets a condition variable release it
// while waiting; callers loop on their condition around it
// ("while (!ready_) lock.Wait(&changed_);"), so that the analysis sees the
// condition read with the mutex held.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex* mutex) ACQUIRE(mutex) : lock_(mutex->native()) {}
  ~MutexLock() RELEASE() {}
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  void Wait(std::condition_variable* condition) { condition->wait(lock_); }

 private:
  std::unique_lock<std::mutex> lock_;
};

}  // namespace vm

#endif  // VM_UTIL_THREAD_ANNOTATIONS_H_
