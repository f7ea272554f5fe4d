#ifndef VM_PLATFORM_CONFINED_ROOTS_POSIX_H_
#define VM_PLATFORM_CONFINED_ROOTS_POSIX_H_

#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/beneath_posix.h"
#include "platform/confined_view_posix.h"
#include "platform/file_identity.h"
#include "platform/posix_io.h"
#include "util/thread_annotations.h"

namespace vm {

// A descriptor shared by the calls using it, closed when the last lets go:
// a root made or removed by one thread never closes it under another.
class Handle {
 public:
  explicit Handle(int fd) : fd_(fd) {}
  ~Handle() { ::close(fd_); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  int fd() const { return fd_; }

 private:
  const int fd_;
};
using HandlePtr = std::shared_ptr<const Handle>;
// Holds `fd`; null when it is -1.
HandlePtr Hold(int fd);

// The roots of a confined view and how a path is found beneath them: each
// root opened once, as it is named (a root inside another beneath that
// one), and every path beneath a root resolved from the root's handle by a
// BeneathResolver, never through a link. Safe to use from several threads.
class ConfinedRoots {
 public:
  // Where a path lies: beneath `root` (-1: outside every root), by `parts`.
  struct Place {
    int root = -1;
    std::vector<std::string> parts;
    bool climbs = false;  // a ".." among them: refused
  };
  // The folder holding an entry, opened beneath a root, and its name there
  // (as found, else as spelled).
  struct Entry {
    HandlePtr dir;
    std::string dir_path;  // native, for the name cache
    std::string name;
    bool found = false;
    // Its status when the look found it as spelled (see NameIn).
    std::optional<struct stat> status;
    std::string path() const { return Join(dir_path, name); }
  };

  explicit ConfinedRoots(const DiskParts& parts)
      : parts_(parts), beneath_(parts.code_page, *parts.folded_names) {}
  ConfinedRoots(const ConfinedRoots&) = delete;
  ConfinedRoots& operator=(const ConfinedRoots&) = delete;

  // Opens `roots` (ANSI); false with the reason when one is a link, no
  // folder or cannot be opened. A root that does not exist is left to be
  // made (MakeRootHandle).
  bool Open(const std::vector<std::string>& roots, std::string* error);

  const BeneathResolver& beneath() const { return beneath_; }

  Place Where(const std::string& path) const;

  // Opens the folder that holds the entry `place` names; `look` also finds
  // the entry there (else its name is taken as spelled). False with errno:
  // ENOENT while the root does not exist, ELOOP for a link on the way,
  // EXDEV for a path that climbs out. The entry of a root itself is found
  // in its outer root, or in its parent folder opened as named.
  bool OpenEntry(const Place& place, bool look, Entry* entry) const;
  // The folder made of the first `count` parts of `place`, opened beneath
  // its root with `flags`; -1 with errno.
  int OpenFolder(const Place& place, size_t count, int flags,
                 std::string* path) const;
  // Opens the file `place` names with `flags`, never through a link at any
  // component nor at its own name (ELOOP).
  int OpenFile(const Place& place, int flags) const;
  // The status of the entry itself (a link is not followed).
  bool Status(const Place& place, struct stat* st) const;
  // FileSystem::Locate for a place beneath a root.
  bool Locate(const Place& place, FileLocation* where) const;

  HandlePtr RootHandle(int root) const EXCLUDES(mutex_) {
    MutexLock lock(&mutex_);
    return handles_[static_cast<size_t>(root)];
  }
  // Gives the root its handle (null: it no longer exists); the folders
  // held for copies are let go.
  void SetRootHandle(int root, HandlePtr handle) EXCLUDES(mutex_);

  // The folder a copy to `place` goes into, held from an earlier copy
  // unless `fresh` (see the definition).
  HandlePtr CopyFolder(const Place& place, bool fresh, std::string* path)
      EXCLUDES(mutex_);
  void ForgetFolders() EXCLUDES(mutex_) {
    MutexLock lock(&mutex_);
    folders_.clear();
  }

 private:
  struct Root {
    std::string ansi;                // as named
    std::vector<std::string> parts;  // as spelled, for matching paths
    bool absolute = false;
    int outer = -1;  // the root it lies in, or -1
    std::vector<std::string> below_outer;
    std::string native;  // where its handle was opened, for the caches
  };

  bool OpenRoot(size_t i, std::string* error);
  bool OpenRootEntry(int root, Entry* entry) const;

  const DiskParts parts_;
  const BeneathResolver beneath_;
  std::vector<Root> roots_;  // outer roots first; fixed once opened
  mutable Mutex mutex_;
  // Each root's handle; null while the root does not exist.
  std::vector<HandlePtr> handles_ GUARDED_BY(mutex_);
  static constexpr size_t kMaxFolders = 64;
  struct Folder {
    HandlePtr handle;
    std::string path;
  };
  std::unordered_map<std::string, Folder> folders_ GUARDED_BY(mutex_);
};

}  // namespace vm

#endif  // VM_PLATFORM_CONFINED_ROOTS_POSIX_H_
