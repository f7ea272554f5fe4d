#ifndef VM_CONFIG_SHARED_CONFIG_STATES_H_
#define VM_CONFIG_SHARED_CONFIG_STATES_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "config/config_lock.h"
#include "util/thread_annotations.h"
#include "xml/xml_document.h"

namespace vm {

class FileSystem;

// The state of one configuration file name ("domain.cfg", "userauth.cfg")
// shared by every store object of that file in one run: the last parse of
// the file (or the document a store saved last, whichever came later), the
// file's modification time at that parse, and the two locks. The locks are
// never held together.
struct SharedConfigState {
  explicit SharedConfigState(const std::string& file_name)
      : named_lock(file_name) {}

  NamedLock named_lock;  // held while the file is read or written
  CacheLock cache_lock;  // guards the two fields below
  // Starts as the empty document, and stays so for a file larger than
  // kCachedTextLimit (config_file.h).
  XmlDocument cached_document;
  int64_t cached_time = 0;  // seconds since 1970
  // Which file the cached parse belongs to. Only a store of that same file
  // (file system and path) takes it; a store of another target starts
  // from the empty document, as if nothing had been parsed yet.
  const FileSystem* cached_fs = nullptr;
  std::string cached_path;
};

// The shared states of every configuration file of one run. The front end
// (the console's main, the dialog program) makes one and passes it to the
// stores through TargetContext; tests make their own. It must outlive
// every store that uses it.
class SharedConfigStates {
 public:
  SharedConfigStates() = default;
  SharedConfigStates(const SharedConfigStates&) = delete;
  SharedConfigStates& operator=(const SharedConfigStates&) = delete;

  // The shared state of `file_name`, created (its machine-wide lock
  // opened) on first use and kept as long as this object.
  SharedConfigState& For(const std::string& file_name);

  // Ends the waits for a configuration file's lock under way now, for a
  // stop request: the run gives up what it waits for, and its saves on the
  // way out wait (bounded) as usual.
  void InterruptCurrentLockWaits();

  // The longest time any configuration file's named lock was held, in
  // microseconds.
  int64_t LongestLockHoldMicros();

  // True when the machine-wide locks of domain.cfg and userauth.cfg are
  // open. Otherwise *error says which lock cannot be used and why (on
  // POSIX, for example, something other than a regular file planted at
  // the lock file's path, or a lock folder of another user; or a
  // VELQUOR_LOCK_TIMEOUT that is no number); a run must then not start, as
  // it would write the files without excluding the server.
  bool LocksUsable(std::string* error);

 private:
  Mutex mutex_;
  std::map<std::string, std::unique_ptr<SharedConfigState>> by_name_
      GUARDED_BY(mutex_);
};

}  // namespace vm

#endif  // VM_CONFIG_SHARED_CONFIG_STATES_H_
