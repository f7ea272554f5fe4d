#ifndef VM_CONFIG_TARGET_CONTEXT_H_
#define VM_CONFIG_TARGET_CONTEXT_H_

#include <string>

#include "util/name_ops.h"

namespace vm {

class Clock;
class FileSystem;
class LockWaitListener;
class SharedConfigStates;

// What the target's stores need to know about the target: where its files
// are, how to reach them, and the primary domain. One object per target;
// the domain step settles `primary_domain`, the user store and the mailbox
// step read it.
struct TargetContext {
  FileSystem* fs = nullptr;
  const Clock* clock = nullptr;
  std::string target_dir;      // ANSI, no trailing backslash
  std::string primary_domain;  // empty while the target names none
  // How names are folded and compared: the run's ANSI code page.
  NameOps names;
  // Told when another process keeps a file's lock long; may be null.
  LockWaitListener* lock_waits = nullptr;
  // The run's shared state of the configuration files: every store of a
  // file shares its cached parse and its lock through it. Must be set.
  SharedConfigStates* states = nullptr;
};

}  // namespace vm

#endif  // VM_CONFIG_TARGET_CONTEXT_H_
