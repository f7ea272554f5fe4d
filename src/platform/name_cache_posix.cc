#include "platform/name_cache_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "platform/posix_io.h"
#include "util/ascii.h"

namespace vm {

std::string FoldedNameCache::Find(const std::string& dir_or_empty,
                                  const std::string& name, bool* dir_found) {
  struct stat st;
  const bool dir_ok =
      ::stat(dir_or_empty.empty() ? "." : dir_or_empty.c_str(), &st) == 0;
  if (dir_found != nullptr) *dir_found = dir_ok;
  if (!dir_ok) return "";
  return FindIn(dir_or_empty, st, name);
}

std::string FoldedNameCache::FindIn(const std::string& dir_or_empty,
                                    const struct stat& st,
                                    const std::string& name, int dir_fd) {
  const std::string dir = dir_or_empty.empty() ? "." : dir_or_empty;
  const std::string folded = AsciiLowered(name);
  uint64_t read_from;
  {
    MutexLock lock(&mutex_);
    auto it = dirs_.find(dir);
    if (it != dirs_.end() && !Stale(it->second, st)) {
      return SearchLocked(it, st, folded);
    }
    read_from = ++changes_;
  }
  // Read outside the lock: a large directory takes long to read, and the
  // other threads' look-ups and records need not wait for it.
  Listing listing = Read(dir, st, dir_fd);
  MutexLock lock(&mutex_);
  auto it = dirs_.find(dir);
  // A listing whose read began later, or that was added to since this read
  // began, is at least as fresh as this one: it stays.
  if (it == dirs_.end() ||
      (Stale(it->second, st) && it->second.changed < read_from)) {
    if (it != dirs_.end()) Drop(it);
    listing.changed = read_from;
    names_ += listing.names.size();
    it = dirs_.emplace(dir, std::move(listing)).first;
    DropOldestDirs(it);
    while (names_ > kMaxNames && DropLeastRecent(it, kRecentUses)) {
    }
  }
  return SearchLocked(it, st, folded);
}

std::string FoldedNameCache::SearchLocked(Listings::iterator it,
                                          const struct stat& st,
                                          const std::string& folded) {
  if (!it->second.status_known) it->second.SetStat(st);
  it->second.used = ++uses_;
  return it->second.names.Find(folded);
}

void FoldedNameCache::Creating(const std::string& native) {
  MutexLock lock(&mutex_);
  auto it = dirs_.find(DirName(native));
  if (it != dirs_.end()) ++it->second.creating;
}

void FoldedNameCache::Abandoned(const std::string& native) {
  MutexLock lock(&mutex_);
  auto it = dirs_.find(DirName(native));
  if (it != dirs_.end() && it->second.creating > 0) --it->second.creating;
}

bool FoldedNameCache::Created(const std::string& native,
                              struct stat* dir_status) {
  // Looked at outside the lock, which every thread creating files takes.
  struct stat st;
  const bool found = ::stat(DirName(native).c_str(), &st) == 0;
  if (found && dir_status != nullptr) *dir_status = st;
  CreatedIn(native, found ? &st : nullptr);
  return found;
}

void FoldedNameCache::CreatedIn(const std::string& native,
                                const struct stat* dir_status) {
  std::string dir = DirName(native);
  std::string name = native.substr(native.find_last_of('/') + 1);
  MutexLock lock(&mutex_);
  auto it = dirs_.find(dir);
  if (it == dirs_.end()) return;
  if (dir_status == nullptr) {
    Drop(it);
    return;
  }
  const struct stat& st = *dir_status;
  Listing& listing = it->second;
  if (listing.creating > 0) --listing.creating;
  listing.SetStat(st);
  listing.changed = ++changes_;
  if (listing.names.Add(name)) ++names_;
}

void FoldedNameCache::Renamed(const std::string& from, const std::string& to,
                              const struct stat* to_dir_status) {
  {
    MutexLock lock(&mutex_);
    auto it = dirs_.find(DirName(from));
    if (it != dirs_.end() &&
        it->second.names.RemoveSole(from.substr(from.find_last_of('/') + 1))) {
      --names_;
    }
  }
  CreatedIn(to, to_dir_status);
}

void FoldedNameCache::MadeEmpty(const std::string& native) {
  MutexLock lock(&mutex_);
  auto [it, inserted] = dirs_.try_emplace(native);
  if (!inserted) {
    names_ -= it->second.names.size();
    it->second = Listing();
  }
  // Its status is taken by the first search, which saves a look-up of
  // every directory made (most get their first entry at once).
  it->second.status_known = false;
  it->second.used = ++uses_;
  it->second.changed = ++changes_;
  DropOldestDirs(it);
}

void FoldedNameCache::DropOldestDirs(Listings::iterator keep) {
  if (dirs_.size() <= kMaxDirs) return;
  // An eighth more than needed goes at once: a scan of all listings for
  // each directory made would cost more than the listings save.
  const size_t excess = dirs_.size() - kMaxDirs + kMaxDirs / 8;
  std::vector<std::pair<uint64_t, Listings::iterator>> by_use;
  by_use.reserve(dirs_.size());
  for (auto it = dirs_.begin(); it != dirs_.end(); ++it) {
    if (it != keep) by_use.emplace_back(it->second.used, it);
  }
  const size_t count = std::min(excess, by_use.size());
  std::nth_element(
      by_use.begin(), by_use.begin() + count, by_use.end(),
      [](const auto& a, const auto& b) { return a.first < b.first; });
  for (size_t i = 0; i < count; ++i) Drop(by_use[i].second);
}

bool FoldedNameCache::DropLeastRecent(Listings::iterator keep,
                                      uint64_t spared) {
  auto oldest = dirs_.end();
  for (auto it = dirs_.begin(); it != dirs_.end(); ++it) {
    if (it != keep &&
        (oldest == dirs_.end() || it->second.used < oldest->second.used)) {
      oldest = it;
    }
  }
  if (oldest == dirs_.end() || oldest->second.used + spared > uses_) {
    return false;
  }
  Drop(oldest);
  return true;
}

void FoldedNameCache::Drop(Listings::iterator it) {
  names_ -= it->second.names.size();
  dirs_.erase(it);
}

// Names that fold alike differ in case only, and the first byte where two
// differ is a capital in the smaller: a name with a capital is smaller than
// its folded form, which it therefore replaces.
bool FoldedNameCache::FoldedNames::Add(const std::string& name) {
  std::string folded = AsciiLowered(name);
  if (folded == name) {
    return !other_.contains(folded) && same_.insert(std::move(folded)).second;
  }
  const bool was_same = same_.erase(folded) > 0;
  auto [it, inserted] = other_.try_emplace(std::move(folded), name);
  if (!inserted && name < it->second) it->second = name;
  return inserted && !was_same;
}

std::string FoldedNameCache::FoldedNames::Find(
    const std::string& folded) const {
  if (same_.contains(folded)) return folded;
  auto it = other_.find(folded);
  return it == other_.end() ? std::string() : it->second;
}

FoldedNameCache::Listing FoldedNameCache::Read(const std::string& dir,
                                               const struct stat& st,
                                               int dir_fd) {
  Listing listing;
  listing.SetStat(st);
  DIR* opened = nullptr;
  if (dir_fd < 0) {
    opened = ::opendir(dir.c_str());
  } else {
    // A descriptor of its own: the caller's may be one only for paths.
    const int fd = ::openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 && (opened = ::fdopendir(fd)) == nullptr) ::close(fd);
  }
  std::unique_ptr<DIR, int (*)(DIR*)> handle(opened, ::closedir);
  if (handle.get() == nullptr) return listing;
  while (struct dirent* ent = ::readdir(handle.get())) {
    std::string name = ent->d_name;
    if (name == "." || name == "..") continue;
    listing.names.Add(name);
  }
  return listing;
}

}  // namespace vm
