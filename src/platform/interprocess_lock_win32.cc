#include "platform/interprocess_lock.h"

#include <windows.h>

#include <string>

namespace vm {
namespace {

class NamedMutexLock : public InterprocessLock {
 public:
  explicit NamedMutexLock(HANDLE mutex) : mutex_(mutex) {}
  ~NamedMutexLock() override { CloseHandle(mutex_); }
  NamedMutexLock(const NamedMutexLock&) = delete;
  NamedMutexLock& operator=(const NamedMutexLock&) = delete;

  bool Lock() override {
    // An owner that died without releasing leaves the mutex abandoned; the
    // wait then hands ownership to us, which is what we want.
    DWORD result = WaitForSingleObject(mutex_, INFINITE);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
  }

  void Unlock() override { ReleaseMutex(mutex_); }

 private:
  HANDLE mutex_;
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
  return std::make_unique<NamedMutexLock>(mutex);
}

}  // namespace vm
