#include "platform/interprocess_lock.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>

namespace vm {
namespace {

class NamedMutexLock : public InterprocessLock {
 public:
  NamedMutexLock(HANDLE mutex, std::string name)
      : mutex_(mutex), name_(std::move(name)) {}
  ~NamedMutexLock() override { CloseHandle(mutex_); }
  NamedMutexLock(const NamedMutexLock&) = delete;
  NamedMutexLock& operator=(const NamedMutexLock&) = delete;

  LockResult LockWithin(int64_t millis) override {
    // An owner that died without releasing leaves the mutex abandoned; the
    // wait then hands ownership to us, which is what we want.
    const DWORD wait = static_cast<DWORD>(
        std::min<int64_t>(std::max<int64_t>(millis, 0), INFINITE - 1));
    switch (WaitForSingleObject(mutex_, wait)) {
      case WAIT_OBJECT_0:
      case WAIT_ABANDONED:
        return LockResult::kLocked;
      case WAIT_TIMEOUT:
        return LockResult::kBusy;
      default:
        return LockResult::kFailed;
    }
  }

  void Unlock() override { ReleaseMutex(mutex_); }

  const std::string& where() const override { return name_; }

 private:
  HANDLE mutex_;
  std::string name_;
};

}  // namespace

std::unique_ptr<InterprocessLock> OpenInterprocessLock(const std::string& name,
                                                       std::string* error) {
  // Opens the existing mutex when another process created it first.
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) {
    if (error != nullptr) {
      *error = "cannot open the mutex " + name + ": error " +
               std::to_string(GetLastError());
    }
    return nullptr;
  }
  return std::make_unique<NamedMutexLock>(mutex, name);
}

}  // namespace vm
