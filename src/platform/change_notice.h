#ifndef VM_PLATFORM_CHANGE_NOTICE_H_
#define VM_PLATFORM_CHANGE_NOTICE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vm {

class CodePage;

// Why ChangeNotice::Wait returned.
enum class NoticeWait {
  kChanged,   // something changed beneath the folder since the last notice
  kOverflow,  // the system lost count of the changes: look at everything
  kTimedOut,  // the time given passed without a notice
  kWoken,     // Wake was called
};

// Tells a watch when something changed beneath a folder tree. The system
// keeps counting changes between two waits: a change made while the
// caller is busy is told by the next Wait, never lost.
class ChangeNotice {
 public:
  ChangeNotice() = default;
  ChangeNotice(const ChangeNotice&) = delete;
  ChangeNotice& operator=(const ChangeNotice&) = delete;
  virtual ~ChangeNotice() = default;

  // Blocks until a change is told, `millis` (>= 0) have passed or Wake
  // was called, whichever comes first. The thread that made the object
  // calls it.
  virtual NoticeWait Wait(int64_t millis) = 0;
  // Any thread, any number of times: the Wait under way and every later
  // one return kWoken at once.
  virtual void Wake() = 0;
  // False for a timer that tells no changes (every Wait waits its time).
  virtual bool TellsChanges() const = 0;
  // The thread that waits: the folders right beneath the watched one
  // (their names as the run's code page spells them) in which the notices
  // told changes since the last call, into *names. False when that is not
  // known: before the first call (what changed before the watch began is
  // not told), after a lost count or a name the code page cannot hold,
  // and always for a timer.
  virtual bool TakeNamed(std::vector<std::string>* names) {
    names->clear();
    return false;
  }
};

// A timer with the waits and the wake of a ChangeNotice, telling no
// changes.
std::unique_ptr<ChangeNotice> NoticeTimer();

// Notices of changes anywhere beneath `dir` (ANSI, as the core spells
// paths) where the system tells them for a whole tree (Windows); elsewhere,
// or when the folder cannot be watched, NoticeTimer(). Never null.
std::unique_ptr<ChangeNotice> WatchFolderTree(const CodePage& code_page,
                                              const std::string& dir);

}  // namespace vm

#endif  // VM_PLATFORM_CHANGE_NOTICE_H_
