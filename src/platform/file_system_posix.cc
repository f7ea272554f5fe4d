#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/atomic_replace_posix.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/name_cache_posix.h"
#include "platform/posix_io.h"
#include "platform/wildcard.h"
#include "util/name_ops.h"

namespace vm {
namespace {

constexpr size_t kBlockSize = 65536;

bool IsValidUtf8(const char* s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  while (*p != 0) {
    int len = *p < 0x80                  ? 1
              : *p >= 0xC2 && *p <= 0xDF ? 2
              : *p >= 0xE0 && *p <= 0xEF ? 3
              : *p >= 0xF0 && *p <= 0xF4 ? 4
                                         : 0;
    if (len == 0) return false;
    for (int i = 1; i < len; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
    }
    // Overlong three- and four-byte forms and surrogates.
    if ((p[0] == 0xE0 && p[1] < 0xA0) || (p[0] == 0xED && p[1] >= 0xA0) ||
        (p[0] == 0xF0 && p[1] < 0x90) || (p[0] == 0xF4 && p[1] >= 0x90)) {
      return false;
    }
    p += len;
  }
  return true;
}

// Copies the `size` bytes of `in` with copy_file_range where the kernel
// offers it, else by reading and writing. Sets *changed (and returns false)
// when the source holds fewer bytes than `size` or more: another program
// cut it short or wrote to it during the copy.
bool CopyContents(int in, int out, uint64_t size, bool* changed) {
  uint64_t copied = 0;
  bool use_read_write = false;
  while (copied < size) {
    ssize_t n = copy_file_range(in, nullptr, out, nullptr,
                                static_cast<size_t>(size - copied), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && copied == 0 &&
        (errno == ENOSYS || errno == EXDEV || errno == EINVAL ||
         errno == EOPNOTSUPP || errno == EPERM)) {
      use_read_write = true;
      break;
    }
    if (n < 0) return false;
    if (n == 0) break;  // the source shrank
    copied += static_cast<uint64_t>(n);
  }
  char buffer[kBlockSize];
  for (;;) {
    // Without the fallback, one byte more tells a source that grew.
    const size_t want = use_read_write ? sizeof(buffer) : 1;
    ssize_t n = ::read(in, buffer, want);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    copied += static_cast<uint64_t>(n);
    if (copied > size) break;
    if (!WriteAll(out, buffer, static_cast<size_t>(n))) return false;
  }
  *changed = copied != size;
  return !*changed;
}

// The process's umask as /proc tells it (setting it to read it would race
// with threads creating files); -1 when it cannot be told.
int ProcessUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) {
      return static_cast<int>(std::strtol(line.c_str() + 6, nullptr, 8));
    }
  }
  return -1;
}

class PosixFileSystem : public FileSystem {
 public:
  explicit PosixFileSystem(std::unique_ptr<CodePage> code_page)
      : code_page_(std::move(code_page)), name_ops_(code_page_->LeadBytes()) {}

  bool Exists(const std::string& path) override {
    struct stat st;
    return OnPath(path, [&](const char* p) { return ::stat(p, &st); }) == 0;
  }

  bool ModifiedTime(const std::string& path, int64_t* seconds) override {
    struct stat st;
    if (OnPath(path, [&](const char* p) { return ::stat(p, &st); }) != 0) {
      return false;
    }
    *seconds = static_cast<int64_t>(st.st_mtime);
    return true;
  }

  bool ReadFile(const std::string& path, std::string* contents,
                std::string* error) override {
    contents->clear();
    // A FIFO or device is never opened for good (it could block the open
    // or never end); only a regular file is read.
    ScopedFd fd(OnPath(path, [](const char* p) {
      return ::open(p, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    }));
    if (fd.get() < 0) {
      SetError(error, errno, "cannot open " + DisplayPath(path));
      return false;
    }
    if (!IsRegularFile(fd.get(), nullptr)) {
      SetError(error, FileErrorKind::kNotRegular, EINVAL,
               "not a regular file: " + DisplayPath(path));
      return false;
    }
    char buffer[kBlockSize];
    for (;;) {
      ssize_t n = ::read(fd.get(), buffer, sizeof(buffer));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        SetError(error, errno, "cannot read " + DisplayPath(path));
        contents->clear();
        return false;
      }
      if (n == 0) return true;
      contents->append(buffer, static_cast<size_t>(n));
    }
  }

  bool WriteFile(const std::string& path, const std::string& contents,
                 std::string* error) override {
    return WriteNative(NativeToCreate(path), DisplayPath(path), contents,
                       error);
  }

  bool AppendFile(const std::string& path, const std::string& contents,
                  std::string* error) override {
    const std::string native = NativeToCreate(path);
    folded_names_.Creating(native);
    ScopedFd fd(::open(native.c_str(),
                       O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
    if (fd.get() < 0) {
      const int err = errno;
      folded_names_.Abandoned(native);
      SetError(error, err, "cannot open " + DisplayPath(path));
      return false;
    }
    folded_names_.Created(native, nullptr);
    if (!WriteAll(fd.get(), contents.data(), contents.size()) || !fd.Close()) {
      SetError(error, errno, "cannot write " + DisplayPath(path));
      return false;
    }
    return true;
  }

  bool ReplaceContents(const std::string& path, const std::string& contents,
                       std::string* error) override {
    const std::string native = Native(path);
    if (native.empty()) {
      SetError(error, EILSEQ, "cannot replace " + DisplayPath(path));
      return false;
    }
    std::string written;
    if (!ReplaceFileContents(native, DisplayPath(path), contents, &written,
                             error)) {
      return false;
    }
    folded_names_.Created(written, nullptr);
    return true;
  }

  DirMade MakeDir(const std::string& path, std::string* error) override {
    std::string native = NativeToCreate(path);
    if (native.empty()) {
      SetError(error, EILSEQ, "cannot create " + DisplayPath(path));
      return DirMade::kFailed;
    }
    folded_names_.Creating(native);
    if (::mkdir(native.c_str(), 0777) != 0) {
      const int err = errno;
      folded_names_.Abandoned(native);
      // A symbolic link, even to a directory, is no directory of ours:
      // what is made in it would land somewhere else.
      struct stat st;
      if (err == EEXIST && ::lstat(native.c_str(), &st) == 0 &&
          S_ISDIR(st.st_mode)) {
        return DirMade::kExisted;
      }
      SetError(error, err == EEXIST ? ENOTDIR : err,
               "cannot create " + DisplayPath(path));
      return DirMade::kFailed;
    }
    folded_names_.MadeEmpty(native);
    struct stat parent;
    if (folded_names_.Created(native, &parent) && OwnedByOther(parent)) {
      if (::chown(native.c_str(), parent.st_uid, parent.st_gid) != 0) {
        // The directory stays root's; copies into it still work.
      }
    }
    return DirMade::kMade;
  }

  CopyResult CopyNew(const std::string& from, const std::string& to,
                     std::string* error) override {
    // The source tree may be hostile: a link could lead out of it, a FIFO
    // or device could block the open or never end.
    ScopedFd in(OnPath(from, [](const char* p) {
      return ::open(p, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    }));
    if (in.get() < 0) {
      if (errno == ELOOP) {
        SetError(error, errno,
                 "not copied, a symbolic link: " + DisplayPath(from));
      } else {
        SetError(error, errno, "cannot open " + DisplayPath(from));
      }
      return CopyResult::kFailed;
    }
    struct stat st;
    if (!IsRegularFile(in.get(), &st)) {
      SetError(error, FileErrorKind::kNotRegular, EINVAL,
               "not copied, not a regular file: " + DisplayPath(from));
      return CopyResult::kFailed;
    }
    std::string target = Spelled(to);
    if (target.empty()) {
      SetError(error, EILSEQ, "cannot create " + to);
      return CopyResult::kFailed;
    }
    // The copy goes into the directory itself, never through a link to
    // some other place. The directory is opened as spelled; only when that
    // fails is its name looked for without case.
    auto open_dir = [](const std::string& file) {
      return ::open(DirName(file).c_str(),
                    O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    };
    int dir_fd = open_dir(target);
    if (dir_fd < 0 && errno == ENOENT) {
      const std::string resolved = Resolve(target);
      if (resolved != target) {
        target = resolved;
        dir_fd = open_dir(target);
      }
    }
    ScopedFd dir(dir_fd);
    struct stat dir_status;
    if (dir.get() < 0 || ::fstat(dir.get(), &dir_status) != 0) {
      SetError(error, errno == ELOOP ? ENOTDIR : errno,
               "cannot create " + DisplayPath(to));
      return CopyResult::kFailed;
    }
    const std::string parent = DirName(target);
    const std::string name = target.substr(target.find_last_of('/') + 1);
    // A name that differs only in case is the same file to the server.
    struct stat existing;
    if (::fstatat(dir.get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) ==
            0 ||
        !folded_names_.FindIn(parent, dir_status, name).empty() ||
        !RawName(parent, name).empty()) {
      SetError(error, EEXIST, "cannot copy to " + DisplayPath(to));
      return CopyResult::kTargetExists;
    }
    folded_names_.Creating(target);
    std::string temp;
    bool changed = false;
    const CopyResult result =
        CopyInto(in.get(), st, dir.get(), dir_status, name, &temp, &changed);
    const int err = errno;
    if (!temp.empty()) ::unlinkat(dir.get(), temp.c_str(), 0);
    if (result != CopyResult::kCopied) {
      folded_names_.Abandoned(target);
      if (changed) {
        if (error != nullptr) {
          *error = FileErrorText(
              {FileErrorKind::kSourceChanged, 0},
              "the source changed during the copy: " + DisplayPath(from));
        }
      } else if (result == CopyResult::kTargetExists) {
        SetError(error, EEXIST, "cannot copy to " + DisplayPath(to));
      } else {
        SetError(error, err,
                 "cannot copy " + DisplayPath(from) + " to " + DisplayPath(to));
      }
      return result;
    }
    struct stat after;
    folded_names_.CreatedIn(target,
                            ::fstat(dir.get(), &after) == 0 ? &after : nullptr);
    return CopyResult::kCopied;
  }

  bool List(const std::string& pattern,
            std::vector<DirEntry>* entries) override {
    entries->clear();
    size_t sep = pattern.find_last_of("\\/");
    std::string dir_ansi =
        sep == std::string::npos ? "" : pattern.substr(0, sep);
    std::string prefix = sep == std::string::npos ? "" : dir_ansi + "\\";
    std::string wildcard_ansi =
        sep == std::string::npos ? pattern : pattern.substr(sep + 1);
    std::string wildcard = code_page_->ToUtf8(wildcard_ansi);
    DIR* opened = nullptr;
    if (sep == std::string::npos) {
      opened = ::opendir(".");
    } else if (dir_ansi.empty()) {
      opened = ::opendir("/");
    } else if (code_page_->IsValidAnsi(dir_ansi)) {
      const std::string spelled = Spelled(dir_ansi);
      opened = ::opendir(spelled.c_str());
      if (opened == nullptr && errno == ENOENT) {
        const std::string resolved = Resolve(spelled);
        if (resolved != spelled) opened = ::opendir(resolved.c_str());
      }
    }
    ScopedDir handle(opened);
    if (handle.get() == nullptr) return false;
    for (;;) {
      errno = 0;
      struct dirent* ent = ::readdir(handle.get());
      if (ent == nullptr) return errno == 0;  // else the listing broke off
      const char* name = ent->d_name;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
      DirEntry entry;
      if (IsValidUtf8(name)) {
        if (!WildcardMatchUtf8(wildcard, name)) continue;
        entry.name = code_page_->ToAnsi(name);
        // '?' is the stand-in for what the code page cannot hold (it is
        // never a trail byte).
        entry.unconvertible_name = entry.name.find('?') != std::string::npos &&
                                   code_page_->ToUtf8(entry.name) != name;
      } else if (code_page_->IsValidAnsi(name)) {
        // Unpacked by a tool that kept the names' code page bytes.
        if (!WildcardMatch(wildcard_ansi, name, name_ops_)) {
          continue;
        }
        entry.name = name;
      } else {
        if (!WildcardMatchUtf8(wildcard, name)) continue;
        entry.name = code_page_->ToAnsi(name);
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
      struct stat st;
      if (::fstatat(dirfd(handle.get()), name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        entry.is_directory = S_ISDIR(st.st_mode);
        entry.is_special = !entry.is_directory && !S_ISREG(st.st_mode);
        if (S_ISREG(st.st_mode)) entry.size = static_cast<uint64_t>(st.st_size);
      }
      entries->push_back(std::move(entry));
    }
  }

  bool SyncVolume(const std::string& path, std::string* error) override {
    ScopedFd fd(
        ::open(Native(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0 || ::syncfs(fd.get()) != 0) {
      SetError(error, errno,
               "cannot flush the writes under " + DisplayPath(path));
      return false;
    }
    return true;
  }

  void Prefetch(const std::string& path) override {
    ScopedFd fd(OnPath(path, [](const char* p) {
      return ::open(p, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    }));
    if (fd.get() >= 0 && IsRegularFile(fd.get(), nullptr)) {
      ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_WILLNEED);
    }
  }

  bool CopiesShareBlocks(const std::string& from,
                         const std::string& to) override {
    // copy_file_range clones within one volume of these kinds (XFS made
    // with reflink, which is its default, and btrfs).
    constexpr long kXfsMagic = 0x58465342;
    constexpr long kBtrfsMagic = 0x9123683E;
    const std::string source = Native(from);
    struct stat from_status, to_status;
    struct statfs volume;
    if (::stat(source.c_str(), &from_status) != 0 ||
        ::statfs(source.c_str(), &volume) != 0 ||
        (volume.f_type != kXfsMagic && volume.f_type != kBtrfsMagic)) {
      return false;
    }
    std::string dir = Native(to);
    while (::stat(dir.c_str(), &to_status) != 0) {
      const std::string parent = DirName(dir);
      if (parent == dir) return false;
      dir = parent;
    }
    return from_status.st_dev == to_status.st_dev;
  }

  bool RemoveFile(const std::string& path, std::string* error) override {
    if (!code_page_->IsValidAnsi(path)) {
      SetError(error, EILSEQ, "cannot remove " + DisplayPath(path));
      return false;
    }
    if (OnPath(path, [](const char* p) { return ::unlink(p); }) == 0 ||
        errno == ENOENT) {
      return true;
    }
    SetError(error, errno, "cannot remove " + DisplayPath(path));
    return false;
  }

  bool RemoveEmptyDir(const std::string& path, std::string* error) override {
    if (!code_page_->IsValidAnsi(path)) {
      SetError(error, EILSEQ, "cannot remove " + DisplayPath(path));
      return false;
    }
    if (OnPath(path, [](const char* p) { return ::rmdir(p); }) == 0 ||
        errno == ENOENT) {
      return true;
    }
    SetError(error, errno, "cannot remove " + DisplayPath(path));
    return false;
  }

  bool CanRead(const std::string& path) override {
    // Opened as CopyNew opens a source, and closed at once.
    ScopedFd fd(OnPath(path, [](const char* p) {
      return ::open(p, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    }));
    return fd.get() >= 0 && IsRegularFile(fd.get(), nullptr);
  }

  bool CanWrite(const std::string& path) override {
    // Asked with the effective ids, as the kernel checks an open; a
    // read-only volume or an immutable entry says no even to root.
    std::string native = Native(path);
    struct stat st;
    if (native.empty() || ::stat(native.c_str(), &st) != 0) return false;
    const int mode = S_ISDIR(st.st_mode) ? W_OK | X_OK : W_OK;
    return ::faccessat(AT_FDCWD, native.c_str(), mode, AT_EACCESS) == 0;
  }

  std::string DisplayPath(const std::string& path) const override {
    std::string shown = path;
    for (size_t i = 0; i < shown.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(shown[i]);
      if (name_ops_.IsLeadByte(c) && i + 1 < shown.size()) {
        ++i;  // a trail byte may be a backslash that is no separator
      } else if (c == '\\') {
        shown[i] = '/';
      }
    }
    return shown;
  }

  bool Locate(const std::string& path, FileLocation* where) override {
    return LocateNative(Native(path), where);
  }

 private:
  // `shown` names the file in error texts.
  bool WriteNative(const std::string& native, const std::string& shown,
                   const std::string& contents, std::string* error) {
    folded_names_.Creating(native);
    ScopedFd fd(
        ::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (fd.get() < 0) {
      const int err = errno;
      folded_names_.Abandoned(native);
      SetError(error, err, "cannot open " + shown + " for writing");
      return false;
    }
    folded_names_.Created(native, nullptr);
    if (!WriteAll(fd.get(), contents.data(), contents.size()) || !fd.Close()) {
      SetError(error, errno, "cannot write " + shown);
      return false;
    }
    return true;
  }

  // Writes a copy of `in` (whose status is `st`) into the directory `dir`
  // and gives it `name` once it is complete, never in place of an existing
  // entry, so that a copy cut short (the process killed, the disk full)
  // never lies under that name. The copy is an unnamed file where the file
  // system has them, which leaves nothing behind at all; else a temporary
  // file, whose name is put in *temp for the caller to remove. On failure
  // errno tells why, or *changed that the source changed during the copy
  // (its size or modification time at the end is not that of `st`).
  CopyResult CopyInto(int in, const struct stat& st, int dir,
                      const struct stat& dir_status, const std::string& name,
                      std::string* temp, bool* changed) const {
    int fd = -1;
    // An unnamed file no one else can open is made with the source's
    // permission bits at once, when the umask leaves them as they are.
    const mode_t mode = st.st_mode & 0777;
    bool mode_set = false;
    if (proc_fd_) {
      mode_set = umask_ >= 0 && (mode & static_cast<mode_t>(umask_)) == 0;
      fd = ::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC,
                    mode_set ? mode : 0600);
      if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return CopyResult::kFailed;
      }
    }
    if (fd < 0) {
      static std::atomic<unsigned> counter{0};
      *temp = "." + name + kTempInfix + std::to_string(::getpid()) + "." +
              std::to_string(counter++);
      fd = ::openat(dir, temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                    0600);
      if (fd < 0) {
        temp->clear();
        return CopyResult::kFailed;
      }
      mode_set = false;
    }
    ScopedFd out(fd);
    bool ok = CopyContents(in, fd, static_cast<uint64_t>(st.st_size), changed);
    if (ok) {
      // A program that truncated or rewrote the source meanwhile (and put
      // its size back) is caught by the size or time it leaves.
      struct stat end;
      *changed = ::fstat(in, &end) != 0 || end.st_size != st.st_size ||
                 end.st_mtim.tv_sec != st.st_mtim.tv_sec ||
                 end.st_mtim.tv_nsec != st.st_mtim.tv_nsec;
      ok = !*changed;
    }
    if (ok) {
      // Like a Windows file copy, the copy keeps the source's modification
      // time; like "cp -p", its permission bits, so it is never more open
      // than the source.
      struct timespec times[2] = {st.st_atim, st.st_mtim};
      ::futimens(fd, times);
      ok = mode_set || ::fchmod(fd, mode) == 0;
    }
    if (ok && OwnedByOther(dir_status)) {
      ok = ::fchown(fd, dir_status.st_uid, dir_status.st_gid) == 0;
    }
    if (!ok) return CopyResult::kFailed;
    int rc;
    if (temp->empty()) {
      // Linked by its descriptor where the kernel allows it (it asks for a
      // capability root has), else through /proc.
      rc = -1;
      errno = ENOENT;
      if (link_by_fd_.load(std::memory_order_relaxed)) {
        rc = ::linkat(fd, "", dir, name.c_str(), AT_EMPTY_PATH);
        if (rc != 0 && (errno == ENOENT || errno == EPERM)) {
          link_by_fd_.store(false, std::memory_order_relaxed);
        }
      }
      if (rc != 0 && (errno == ENOENT || errno == EPERM)) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        rc = ::linkat(AT_FDCWD, self.c_str(), dir, name.c_str(),
                      AT_SYMLINK_FOLLOW);
      }
    } else {
      rc = ::linkat(dir, temp->c_str(), dir, name.c_str(), 0);
      if (rc != 0 && errno != EEXIST) {
        // A file system without hard links.
        rc = ::renameat2(dir, temp->c_str(), dir, name.c_str(),
                         RENAME_NOREPLACE);
        if (rc == 0) temp->clear();
      }
    }
    if (rc != 0) {
      return errno == EEXIST ? CopyResult::kTargetExists : CopyResult::kFailed;
    }
    // A failed close can be the first report of a failed write.
    if (!out.Close()) {
      const int err = errno;
      ::unlinkat(dir, name.c_str(), 0);
      errno = err;
      return CopyResult::kFailed;
    }
    return CopyResult::kCopied;
  }

  // The native UTF-8 path of an ANSI, backslash-separated path as spelled,
  // without looking at the disk; empty when the path is not valid in the
  // code page.
  std::string Spelled(const std::string& path) const {
    if (!code_page_->IsValidAnsi(path)) return "";
    std::string utf8 = code_page_->ToUtf8(path);
    for (char& c : utf8) {
      if (c == '\\') c = '/';
    }
    return utf8;
  }

  // Runs `op` (a system call on a native path: -1 and errno on failure)
  // on the path as spelled, and once more on the path resolved without
  // case when nothing is there: most paths are spelled as on disk, and a
  // look-up of each before its use would double the cost of the call.
  template <typename Op>
  int OnPath(const std::string& path, const Op& op) const {
    const std::string spelled = Spelled(path);
    int rc = op(spelled.c_str());
    if (rc >= 0 || errno != ENOENT || spelled.empty()) return rc;
    // As spelled, it is not there: only its resolving is left to do.
    const std::string resolved = Resolve(spelled);
    if (resolved == spelled) {
      errno = ENOENT;
      return rc;
    }
    return op(resolved.c_str());
  }

  // Native for a path about to be created, which most often does not
  // exist yet: a new entry in a directory whose listing is known needs no
  // look-up of its own.
  std::string NativeToCreate(const std::string& path) const {
    const std::string utf8 = Spelled(path);
    if (utf8.empty()) return utf8;
    const std::string resolved = Resolve(utf8);
    // Another spelling was found; the exact one is taken if it exists too.
    struct stat st;
    if (resolved == utf8 || ::lstat(utf8.c_str(), &st) == 0) return utf8;
    return resolved;
  }

  // Maps an ANSI, backslash-separated path to the native UTF-8 path,
  // resolving each component without regard to ASCII case when the exact
  // name does not exist. A path that is not valid in the code page gives
  // the empty path, which no system call accepts: replacing its bad bytes
  // would let two different names reach the same file.
  std::string Native(const std::string& path) const {
    std::string utf8 = Spelled(path);
    struct stat st;
    if (utf8.empty() || ::lstat(utf8.c_str(), &st) == 0) return utf8;
    return Resolve(utf8);
  }

  // The native path of `utf8`, which does not exist as spelled. Most such
  // paths name a new entry in a directory that does exist as spelled, or
  // one level further down (a file in a mailbox not made yet): they are
  // resolved from their end, each level one look-up of its directory,
  // instead of a look-up of every component of a deep path.
  std::string Resolve(const std::string& utf8) const {
    const size_t slash = utf8.find_last_of('/');
    const std::string parent = slash == std::string::npos ? std::string()
                               : slash == 0               ? std::string("/")
                                            : utf8.substr(0, slash);
    const std::string last =
        slash == std::string::npos ? utf8 : utf8.substr(slash + 1);
    if (last.empty() || last == "." || last == "..") return ResolveEach(utf8);
    bool parent_found = false;
    std::string match = folded_names_.Find(parent, last, &parent_found);
    if (parent_found) {
      if (match.empty()) match = RawName(parent, last);
      return match.empty() ? utf8 : Join(parent, match);
    }
    if (parent.empty() || parent == "/") return ResolveEach(utf8);
    const std::string resolved_parent = Resolve(parent);
    // Nothing below a missing directory can exist.
    if (resolved_parent == parent) return utf8;
    match = folded_names_.Find(resolved_parent, last, &parent_found);
    if (match.empty() && parent_found) match = RawName(resolved_parent, last);
    return Join(resolved_parent, match.empty() ? last : match);
  }

  // Resolve component by component, from the root.
  std::string ResolveEach(const std::string& utf8) const {
    struct stat st;
    std::string resolved = utf8[0] == '/' ? "/" : "";
    size_t pos = 0;
    while (pos < utf8.size()) {
      size_t end = utf8.find('/', pos);
      if (end == std::string::npos) end = utf8.size();
      std::string component = utf8.substr(pos, end - pos);
      pos = end + 1;
      if (component.empty()) continue;
      std::string candidate = Join(resolved, component);
      if (component == "." || component == ".." ||
          ::lstat(candidate.c_str(), &st) == 0) {
        resolved = candidate;
        continue;
      }
      std::string match = folded_names_.Find(resolved, component);
      if (match.empty()) match = RawName(resolved, component);
      if (match.empty()) {
        // Nothing below a missing component can exist: keep the rest as
        // given.
        resolved = candidate;
        if (pos < utf8.size()) {
          resolved.push_back('/');
          resolved.append(utf8, pos, std::string::npos);
        }
        return resolved;
      }
      resolved = Join(resolved, match);
    }
    return resolved;
  }

  // `name` (UTF-8) spelled in the code page's own bytes, when an entry of
  // that spelling exists in `dir`: some archive tools unpack names so.
  std::string RawName(const std::string& dir, const std::string& name) const {
    bool ascii = true;
    for (unsigned char c : name) ascii = ascii && c < 0x80;
    if (ascii) return "";
    std::string raw = code_page_->ToAnsi(name);
    struct stat st;
    if (raw == name || ::lstat(Join(dir, raw).c_str(), &st) != 0) return "";
    return raw;
  }

  // As root, what is created takes the owner of its directory, so that the
  // server owning the store can use it; a directory of our own needs no
  // change.
  bool OwnedByOther(const struct stat& dir) const {
    return running_as_root_ && (dir.st_uid != uid_ || dir.st_gid != gid_);
  }

  std::unique_ptr<CodePage> code_page_;
  const NameOps name_ops_;
  mutable FoldedNameCache folded_names_;
  const uid_t uid_ = ::geteuid();
  const gid_t gid_ = ::getegid();
  const bool running_as_root_ = uid_ == 0;
  // Unnamed files can be given a name through /proc (absent in some
  // chroots).
  const bool proc_fd_ = ::access("/proc/self/fd", X_OK) == 0;
  mutable std::atomic<bool> link_by_fd_{true};
  const int umask_ = ProcessUmask();
};

}  // namespace

std::unique_ptr<FileSystem> NewDiskFileSystem() {
  return NewDiskFileSystem("GBK");
}

std::unique_ptr<FileSystem> NewDiskFileSystem(
    const std::string& code_page_name) {
  std::unique_ptr<CodePage> code_page = OpenCodePage(code_page_name);
  if (code_page == nullptr) return nullptr;
  return std::make_unique<PosixFileSystem>(std::move(code_page));
}

}  // namespace vm
