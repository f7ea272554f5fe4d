#ifndef VM_TESTS_SUPPORT_CHILD_PROCESS_H_
#define VM_TESTS_SUPPORT_CHILD_PROCESS_H_

// Forked children for the process tests (POSIX only).

#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace vm {

// Runs `body` in a forked child that exits with its result; the child
// tells the parent through `Ready` once it holds what the test needs.
class Child {
 public:
  explicit Child(const std::function<int(Child*)>& body) {
    if (pipe(ready_) != 0) return;
    pid_ = fork();
    if (pid_ == 0) _exit(body(this));
  }
  ~Child() {
    if (pid_ > 0) Wait();
    close(ready_[0]);
    close(ready_[1]);
  }

  pid_t pid() const { return pid_; }
  void Ready() {
    const char c = 'r';
    if (write(ready_[1], &c, 1) != 1) _exit(100);
  }
  bool WaitReady() {
    char c = 0;
    return pid_ > 0 && read(ready_[0], &c, 1) == 1;
  }
  // The child's exit status; -1 when it was killed.
  int Wait() {
    int status = 0;
    const bool exited = waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status);
    pid_ = 0;
    return exited ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int ready_[2] = {-1, -1};
};

// Waits, a millisecond at a time for at most 20 s, until `path` exists;
// false when it never does.
inline bool AwaitFile(const std::string& path) {
  for (int i = 0; i < 20000 && access(path.c_str(), F_OK) != 0; ++i) {
    usleep(1000);
  }
  return access(path.c_str(), F_OK) == 0;
}

}  // namespace vm

#endif  // VM_TESTS_SUPPORT_CHILD_PROCESS_H_
