#include "platform/console.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>

namespace vm {

namespace {

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

sigset_t InterruptSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  return signals;
}

}  // namespace

bool StdoutIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

int StderrColumns() {
  struct winsize size;
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

void IgnoreWriteSignals() {
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
}

void HoldInterrupts() {
  const sigset_t signals = InterruptSignals();
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

void OnInterrupt(std::function<int()> handler) {
  const sigset_t signals = InterruptSignals();
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // The work happens on an ordinary thread, where it may take locks and
  // write files, instead of inside a signal handler.
  try {
    std::thread([signals, handler] {
      int signal_number = 0;
      while (::sigwait(&signals, &signal_number) != 0) {
      }
      try {
        std::thread([handler] { ::_exit(handler()); }).detach();
      } catch (const std::system_error&) {
        ::_exit(handler());  // no second thread: no second Ctrl-C either
      }
      // The handler may wait (for a configuration file's lock); a user who
      // will not wait says so again.
      while (::sigwait(&signals, &signal_number) != 0) {
      }
      ::_exit(130);
    }).detach();
  } catch (const std::system_error&) {
    // Nothing would take the signals: they end the process as they would
    // without a handler.
    ::pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
  }
}

bool WriteStdout(std::string_view utf8) {
  return WriteAll(STDOUT_FILENO, utf8);
}

bool WriteStderr(std::string_view utf8) {
  return WriteAll(STDERR_FILENO, utf8);
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return args;
}

}  // namespace vm
