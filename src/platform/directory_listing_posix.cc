#include "platform/directory_listing_posix.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>

#include "platform/posix_io.h"
#include "platform/wildcard.h"

namespace vm {

bool ListDirectory(const CodePage& code_page, const NameOps& names,
                   const PathResolver& paths, const std::string& pattern,
                   std::vector<DirEntry>* entries, bool sizes) {
  entries->clear();
  size_t sep = pattern.find_last_of("\\/");
  std::string dir_ansi = sep == std::string::npos ? "" : pattern.substr(0, sep);
  std::string prefix = sep == std::string::npos ? "" : dir_ansi + "\\";
  std::string wildcard_ansi =
      sep == std::string::npos ? pattern : pattern.substr(sep + 1);
  DIR* opened = nullptr;
  if (sep == std::string::npos) {
    opened = ::opendir(".");
  } else if (dir_ansi.empty()) {
    opened = ::opendir("/");
  } else if (code_page.IsValidAnsi(dir_ansi)) {
    const std::string spelled = paths.Spelled(dir_ansi);
    opened = ::opendir(spelled.c_str());
    if (opened == nullptr && errno == ENOENT) {
      const std::string resolved = paths.Resolve(spelled);
      if (resolved != spelled) opened = ::opendir(resolved.c_str());
    }
  }
  ScopedDir handle(opened);
  if (handle.get() == nullptr) return false;
  return ListOpenDirectory(code_page, names, handle.get(), prefix,
                           wildcard_ansi, entries, sizes);
}

bool ListOpenDirectory(const CodePage& code_page, const NameOps& names,
                       DIR* handle, const std::string& prefix,
                       const std::string& wildcard_ansi,
                       std::vector<DirEntry>* entries, bool sizes) {
  entries->clear();
  const std::string wildcard = code_page.ToUtf8(wildcard_ansi);
  for (;;) {
    errno = 0;
    struct dirent* ent = ::readdir(handle);
    if (ent == nullptr) return errno == 0;  // else the listing broke off
    const char* name = ent->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    DirEntry entry;
    if (IsValidUtf8(name)) {
      if (!WildcardMatchUtf8(wildcard, name)) continue;
      entry.name = code_page.ToAnsi(name);
      // '?' is the stand-in for what the code page cannot hold (it is
      // never a trail byte).
      entry.unconvertible_name = entry.name.find('?') != std::string::npos &&
                                 code_page.ToUtf8(entry.name) != name;
    } else if (code_page.IsValidAnsi(name)) {
      // Unpacked by a tool that kept the names' code page bytes.
      if (!WildcardMatch(wildcard_ansi, name, names)) {
        continue;
      }
      entry.name = name;
    } else {
      if (!WildcardMatchUtf8(wildcard, name)) continue;
      entry.name = code_page.ToAnsi(name);
      entry.unconvertible_name = true;
    }
    entry.path = prefix + entry.name;
    // Only a regular file needs its status, for its size: the listing
    // tells the type of the rest on most file systems, which saves a
    // look-up (on a cold disk, a read) per mailbox of a mail directory.
    if (ent->d_type != DT_REG && ent->d_type != DT_UNKNOWN) {
      entry.is_directory = ent->d_type == DT_DIR;
      entry.is_special = !entry.is_directory;
      entries->push_back(std::move(entry));
      continue;
    }
    if (!sizes && ent->d_type == DT_REG && !entry.unconvertible_name) {
      entry.sized = false;
      entry.file = static_cast<uint64_t>(ent->d_ino);
      entries->push_back(std::move(entry));
      continue;
    }
    struct stat st;
    if (::fstatat(dirfd(handle), name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      entry.is_directory = S_ISDIR(st.st_mode);
      entry.is_special = !entry.is_directory && !S_ISREG(st.st_mode);
      if (S_ISREG(st.st_mode)) entry.size = static_cast<uint64_t>(st.st_size);
    }
    entries->push_back(std::move(entry));
  }
}

}  // namespace vm
