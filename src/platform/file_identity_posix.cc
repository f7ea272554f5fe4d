#include "platform/file_identity.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vm {

namespace {

// The folder part of a path: "." for a bare name, "/" for a name in the
// root.
std::string FolderOf(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Where a file created at `path` would appear: the target of a symbolic
// link that leads nowhere yet, followed as open(O_CREAT) follows it.
std::string CreatedThrough(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 || ::lstat(path.c_str(), &st) != 0 ||
        !S_ISLNK(st.st_mode)) {
      break;
    }
    char target[PATH_MAX];
    ssize_t n = ::readlink(path.c_str(), target, sizeof(target));
    if (n <= 0 || static_cast<size_t>(n) >= sizeof(target)) break;
    std::string next(target, static_cast<size_t>(n));
    path = next[0] == '/' ? next : FolderOf(path) + "/" + next;
  }
  return path;
}

}  // namespace

bool LocateNative(const std::string& utf8_path, FileLocation* where) {
  where->exists = false;
  where->chain.clear();
  if (utf8_path.empty()) return false;
  // The nearest part of the path that exists, with every link and ".."
  // resolved.
  std::string existing = CreatedThrough(utf8_path);
  bool exists = true;
  char* real = nullptr;
  while ((real = ::realpath(existing.c_str(), nullptr)) == nullptr) {
    exists = false;
    if (existing == "/" || existing == ".") return false;
    existing = FolderOf(existing);
  }
  std::string folder(real);
  ::free(real);
  where->exists = exists;
  for (;;) {
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0) break;
    where->chain.push_back(
        {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)});
    if (folder == "/") break;
    folder = FolderOf(folder);
  }
  if (where->chain.empty()) where->exists = false;
  return !where->chain.empty();
}

}  // namespace vm
