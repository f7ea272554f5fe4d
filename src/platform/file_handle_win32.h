#ifndef VM_PLATFORM_FILE_HANDLE_WIN32_H_
#define VM_PLATFORM_FILE_HANDLE_WIN32_H_

#include <windows.h>

namespace vm {

// Closes the handle when it goes out of scope unless Close() was called and
// checked first.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (valid()) CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  // Gives up the handle without closing it.
  HANDLE Release() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }
  bool Close() {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return CloseHandle(handle) != 0;
  }

 private:
  HANDLE handle_;
};

}  // namespace vm

#endif  // VM_PLATFORM_FILE_HANDLE_WIN32_H_
