#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/absolute_path_posix.h"
#include "platform/atomic_replace_posix.h"
#include "platform/code_page.h"
#include "platform/confined_view_posix.h"
#include "platform/copy_by_path_posix.h"
#include "platform/copy_into_posix.h"
#include "platform/directory_listing_posix.h"
#include "platform/file_system.h"
#include "platform/name_cache_posix.h"
#include "platform/path_resolution_posix.h"
#include "platform/posix_io.h"
#include "platform/wildcard.h"
#include "util/name_ops.h"

namespace vm {
namespace {

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
    ScopedFd fd(OpenToRead(path, error));
    return fd.get() >= 0 &&
           ReadWhole(fd.get(), contents, DisplayPath(path), error);
  }

  bool ReadFileBy(const std::string& path, const PieceWriter& take,
                  std::string* error) override {
    ScopedFd fd(OpenToRead(path, error));
    return fd.get() >= 0 &&
           ReadEachBlock(fd.get(), take, DisplayPath(path), error);
  }

  // A FIFO or device is never opened for good (it could block the open
  // or never end): only a regular file is read; else -1.
  int OpenToRead(const std::string& path, std::string* error) {
    ScopedFd fd(OnPath(path, [](const char* p) {
      return ::open(p, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    }));
    if (fd.get() < 0) {
      SetError(error, errno, "cannot open " + DisplayPath(path));
      return -1;
    }
    if (!IsRegularFile(fd.get(), nullptr)) {
      SetError(error, FileErrorKind::kNotRegular, EINVAL,
               "not a regular file: " + DisplayPath(path));
      return -1;
    }
    return fd.Release();
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

  std::unique_ptr<AppendingFile> OpenAppending(const std::string& path,
                                               std::string* error) override {
    const std::string native = Native(path);
    if (native.empty()) errno = EILSEQ;
    return AppendingFd(
        native.empty()
            ? -1
            : ::open(native.c_str(),
                     O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC),
        DisplayPath(path), error);
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

  bool ReplaceContentsBy(const std::string& path,
                         const ContentsProducer& produce,
                         std::string* error) override {
    const std::string native = Native(path);
    std::string written;
    if (native.empty() || !ReplaceFileContentsBy(native, DisplayPath(path),
                                                 produce, &written, error)) {
      if (native.empty()) {
        SetError(error, EILSEQ, "cannot replace " + DisplayPath(path));
      }
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
    if (folded_names_.Created(native, &parent) &&
        copier_.OwnedByOther(parent)) {
      if (::chown(native.c_str(), parent.st_uid, parent.st_gid) != 0) {
        // The directory stays root's; copies into it still work.
      }
    }
    return DirMade::kMade;
  }

  CopyResult CopyNew(const std::string& from, const std::string& to,
                     std::string* error) override {
    return Copy(from, to, error, nullptr);
  }

  CopyResult CopyNewRecorded(const std::string& from, const std::string& to,
                             std::string* error, CopiedFile* copied) override {
    FileStamp stamp;
    const CopyResult result = Copy(from, to, error, &stamp);
    *copied = CopiedFile{};
    // A stamp without a file number was not taken.
    if (result == CopyResult::kCopied && stamp.file != 0) {
      *copied = {stamp.size, {}, stamp};
    }
    return result;
  }

  bool StampOf(const std::string& path, FileStamp* stamp) override {
    struct stat st;
    if (OnPath(path, [&](const char* p) { return ::lstat(p, &st); }) != 0 ||
        !S_ISREG(st.st_mode)) {
      return false;
    }
    *stamp = StampOfStatus(st);
    return true;
  }

  bool StatusOf(const std::string& path, EntryStatus* status) override {
    struct stat st;
    if (OnPath(path, [&](const char* p) { return ::lstat(p, &st); }) != 0 ||
        S_ISLNK(st.st_mode)) {
      return false;
    }
    *status = EntryStatusOf(st);
    return true;
  }

  // CopyNew, giving a non-null `stamp` the new file's stamp.
  CopyResult Copy(const std::string& from, const std::string& to,
                  std::string* error, FileStamp* stamp) {
    struct stat st;
    ScopedFd in(OpenSource(from, &st, error));
    if (in.get() < 0) return CopyResult::kFailed;
    return CopyToNewPath(copier_, folded_names_, paths_, in.get(), st, to,
                         DisplayPath(from), DisplayPath(to), stamp, error);
  }

  CopyResult CopyStaged(const std::string& from, const std::string& to,
                        std::string* error, CopiedFile* copied) override {
    struct stat st;
    ScopedFd in(OpenSource(from, &st, error));
    if (in.get() < 0) return CopyResult::kFailed;
    // The staging folder was made as spelled, unless the store itself is
    // spelled otherwise on disk.
    std::string target = Spelled(to);
    FileStamp stamp;
    bool changed = false;
    CopyResult result = copier_.CopyIntoNew(in.get(), st, target, &changed,
                                            copied ? &stamp : nullptr);
    if (result == CopyResult::kFailed && errno == ENOENT && !target.empty()) {
      target = Resolve(target);
      result = copier_.CopyIntoNew(in.get(), st, target, &changed,
                                   copied ? &stamp : nullptr);
    }
    if (result != CopyResult::kCopied) {
      SetCopyError(error, result, changed, errno, DisplayPath(from),
                   DisplayPath(to));
    } else if (copied != nullptr) {
      *copied = CopiedFile{};
      if (stamp.file != 0) *copied = {stamp.size, {}, stamp};
    }
    return result;
  }

  PublishResult PublishDir(const std::string& from, const std::string& to,
                           std::string* error) override {
    const std::string source = Native(from);
    // A name that differs only in case is the same mailbox to the server:
    // NativeToCreate finds it, and the rename refuses it.
    const std::string target = NativeToCreate(to);
    folded_names_.Creating(target);
    // A target's mailbox is published by its confined view, by handle:
    // this rename serves only paths outside every root of a view.
    if (!source.empty() && !target.empty() &&
        ::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(),
                    RENAME_NOREPLACE) == 0) {
      folded_names_.Created(target, nullptr);
      return PublishResult::kPublished;
    }
    const int err = source.empty() || target.empty() ? EILSEQ : errno;
    folded_names_.Abandoned(target);
    SetError(error, err,
             "cannot rename " + DisplayPath(from) + " to " + DisplayPath(to));
    return err == EEXIST ? PublishResult::kTargetExists
                         : PublishResult::kFailed;
  }
  bool PublishesDirs() override { return true; }

  PublishResult RenameNew(const std::string& from, const std::string& to,
                          std::string* error) override {
    const std::string source = Native(from);
    struct stat st;
    int err = 0;
    if (source.empty()) {
      err = EILSEQ;
    } else if (::lstat(source.c_str(), &st) != 0) {
      err = errno;
    } else if (S_ISLNK(st.st_mode)) {
      err = ELOOP;
    } else if (!S_ISREG(st.st_mode)) {
      err = EISDIR;
    }
    if (err != 0) {
      SetError(error, err,
               "cannot rename " + DisplayPath(from) + " to " + DisplayPath(to));
      return PublishResult::kFailed;
    }
    return PublishDir(from, to, error);
  }

  bool List(const std::string& pattern,
            std::vector<DirEntry>* entries) override {
    return ListDirectory(*code_page_, name_ops_, paths_, pattern, entries);
  }

  bool ListNames(const std::string& pattern,
                 std::vector<DirEntry>* entries) override {
    return ListDirectory(*code_page_, name_ops_, paths_, pattern, entries,
                         false);
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
    return SameCopyOnWriteVolume(Native(from), Native(to));
  }

  bool RemoveFile(const std::string& path, std::string* error) override {
    if (!code_page_->IsValidAnsi(path)) {
      SetError(error, EILSEQ, "cannot remove " + DisplayPath(path));
      return false;
    }
    // Only outside every target: a view removes within its roots by handle.
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
    // Only outside every target: a view removes within its roots by handle.
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

  std::string AbsolutePath(const std::string& path) const override {
    std::array<char, 4096> cwd;
    const bool absolute = !path.empty() && (path[0] == '/' || path[0] == '\\');
    if (!absolute && ::getcwd(cwd.data(), cwd.size()) == nullptr) return path;
    const std::string folder = absolute ? "" : code_page_->ToAnsi(cwd.data());
    if (!absolute && folder.empty()) return path;
    return AbsolutePosixPath(
        path, folder, name_ops_, [this](const std::string& p) {
          struct stat st;
          const std::string native = Native(p);
          return !native.empty() && ::lstat(native.c_str(), &st) == 0 &&
                 S_ISDIR(st.st_mode);
        });
  }

  std::unique_ptr<FileSystem> Confined(const std::vector<std::string>& roots,
                                       std::string* error) override {
    return NewConfinedView(
        {this, code_page_.get(), &name_ops_, &folded_names_, &paths_, &copier_},
        roots, error);
  }

 private:
  // Opens a message to copy (see OpenMessage).
  int OpenSource(const std::string& from, struct stat* st, std::string* error) {
    return OpenMessage(
        [&](int flags) {
          return OnPath(from,
                        [flags](const char* p) { return ::open(p, flags); });
        },
        DisplayPath(from), st, error);
  }

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

  // The path resolver's and the copy writer's, under the names the file
  // system's operations have always used.
  std::string Spelled(const std::string& path) const {
    return paths_.Spelled(path);
  }
  template <typename Op>
  int OnPath(const std::string& path, const Op& op) const {
    return paths_.OnPath(path, op);
  }
  std::string NativeToCreate(const std::string& path) const {
    return paths_.NativeToCreate(path);
  }
  std::string Native(const std::string& path) const {
    return paths_.Native(path);
  }
  std::string Resolve(const std::string& utf8) const {
    return paths_.Resolve(utf8);
  }

  std::unique_ptr<CodePage> code_page_;
  const NameOps name_ops_;
  mutable FoldedNameCache folded_names_;
  const PathResolver paths_{code_page_.get(), folded_names_};
  const CopyWriter copier_;
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
