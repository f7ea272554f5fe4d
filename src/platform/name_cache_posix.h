#ifndef VM_PLATFORM_NAME_CACHE_POSIX_H_
#define VM_PLATFORM_NAME_CACHE_POSIX_H_

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "util/thread_annotations.h"

namespace vm {

// The names of recently searched directories, folded to lower case, so that
// resolving a name without case does not read the whole directory again
// for every file created in it. An entry is valid while the directory's
// modification time is the one it was read at; this file system refreshes
// that time itself after each entry it creates. While this process is
// creating entries in a directory, from several threads, a changed time is
// taken for one of ours: each is recorded once made, and reading the
// directory again for each of them would cost time growing with its size.
class FoldedNameCache {
 public:
  // Listings kept, and names in them, at most; the one just read is kept
  // whatever its size.
  static constexpr size_t kMaxDirs = 256;
  static constexpr size_t kMaxNames = 65536;
  // For the limit in names, a listing searched this recently stays: the
  // mail store's own listing, searched for every account, could otherwise
  // be read again for every account once it alone is over the limit.
  static constexpr uint64_t kRecentUses = 256;

  // The name in `dir` that equals `name` apart from ASCII case (the
  // smallest when there are several); empty when there is none.
  // `dir_found` tells whether the directory could be looked at.
  std::string Find(const std::string& dir_or_empty, const std::string& name,
                   bool* dir_found = nullptr);
  // The same for a directory whose status the caller has just taken (from
  // a descriptor it holds), which saves looking it up again. A listing to
  // be read is read from `dir_fd` when it is a descriptor of the directory
  // (a confined view's, which never names it by path), else by its path.
  std::string FindIn(const std::string& dir_or_empty,
                     const struct stat& dir_status, const std::string& name,
                     int dir_fd = -1);

  // This process is about to create an entry at `native`; Created or
  // Abandoned follows.
  void Creating(const std::string& native);
  void Abandoned(const std::string& native);

  // Records an entry this process has just created at `native`; false when
  // its directory cannot be looked at, else `dir` is the directory's status.
  bool Created(const std::string& native, struct stat* dir_status);
  // The same with the status of the directory taken after the creation by
  // the caller; null when it could not be taken.
  void CreatedIn(const std::string& native, const struct stat* dir_status);

  // Records an entry this process has just renamed from `from` to `to`
  // (paths as for Created); `to_dir_status` as for CreatedIn. The old name
  // leaves its listing where the listing can tell it was the only name of
  // its folded form: a store that gets a new mailbox by renaming a staging
  // folder would otherwise keep the name of every staging folder.
  void Renamed(const std::string& from, const std::string& to,
               const struct stat* to_dir_status);
  // Records the directory this process has just made at `native` as empty,
  // so that creating its first entries reads nothing: a new mailbox's
  // folders would otherwise each be read once, for nothing.
  void MadeEmpty(const std::string& native);

  // How many listings are kept (for tests).
  size_t listings() const EXCLUDES(mutex_) {
    MutexLock lock(&mutex_);
    return dirs_.size();
  }

 private:
  // The names of one directory by their folded form, each kept as the
  // smallest name of that form. Most names are their own folded form: a
  // set holds them once, and only the others are mapped, so that a listing
  // of a mail store of many thousand mailboxes costs one string a name.
  class FoldedNames {
   public:
    // Adds `name`; true when no name of its folded form was there.
    bool Add(const std::string& name);
    // Removes `name` where it is its own folded form, which a listing
    // holds only while no other name of that form was added; true when
    // it was there.
    bool RemoveSole(const std::string& name) { return same_.erase(name) > 0; }
    // The name whose folded form is `folded`; empty when there is none.
    std::string Find(const std::string& folded) const;
    size_t size() const { return same_.size() + other_.size(); }

   private:
    std::unordered_set<std::string> same_;
    std::unordered_map<std::string, std::string> other_;  // folded -> real
  };

  struct Listing {
    dev_t dev = 0;
    ino_t ino = 0;
    struct timespec mtime = {};
    FoldedNames names;
    uint64_t used = 0;         // the value of uses_ when last searched
    uint64_t changed = 0;      // the value of changes_ when its read began
                               // or it was last added to
    int creating = 0;          // entries this process is making in it now
    bool status_known = true;  // else the next status seen is taken

    bool Matches(const struct stat& st) const {
      return !status_known || (st.st_dev == dev && st.st_ino == ino &&
                               st.st_mtim.tv_sec == mtime.tv_sec &&
                               st.st_mtim.tv_nsec == mtime.tv_nsec);
    }
    void SetStat(const struct stat& st) {
      status_known = true;
      dev = st.st_dev;
      ino = st.st_ino;
      mtime = st.st_mtim;
    }
  };
  using Listings = std::unordered_map<std::string, Listing>;

  // Makes room by dropping the listing searched longest ago but `keep`, not
  // all of them: a large directory that gets a new entry for every account
  // (the mail store) would otherwise be read again after every few hundred
  // other directories, at a cost that grows with the number of accounts. A
  // listing searched within the last `spared` searches stays; false when
  // none was dropped.
  bool DropLeastRecent(Listings::iterator keep, uint64_t spared)
      REQUIRES(mutex_);
  // Drops the listings searched longest ago but `keep` while there are
  // more than kMaxDirs.
  void DropOldestDirs(Listings::iterator keep) REQUIRES(mutex_);
  void Drop(Listings::iterator it) REQUIRES(mutex_);
  // A listing that no longer tells the directory `st` is the status of,
  // unless entries are being made in it by this process.
  static bool Stale(const Listing& listing, const struct stat& st) {
    return !listing.Matches(st) && listing.creating == 0;
  }
  // Searches a kept listing for a folded name, counting the use.
  std::string SearchLocked(Listings::iterator it, const struct stat& st,
                           const std::string& folded) REQUIRES(mutex_);
  // Reads the directory (from `dir_fd` when it is one); called without the
  // lock.
  static Listing Read(const std::string& dir, const struct stat& st,
                      int dir_fd);

  // Guards the listings, never held while a directory is read or looked at.
  mutable Mutex mutex_;
  Listings dirs_ GUARDED_BY(mutex_);
  size_t names_ GUARDED_BY(mutex_) = 0;  // in all listings
  uint64_t uses_ GUARDED_BY(mutex_) = 0;
  // Counts reads begun and listings changed, to tell which is fresher.
  uint64_t changes_ GUARDED_BY(mutex_) = 0;
};

}  // namespace vm

#endif  // VM_PLATFORM_NAME_CACHE_POSIX_H_
