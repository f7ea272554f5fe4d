#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/confined_view_impl_posix.h"
#include "platform/copy_into_posix.h"
#include "platform/posix_io.h"

namespace vm {

// ---- Copies ----

CopyResult ConfinedView::CopyNew(const std::string& from, const std::string& to,
                                 std::string* error) {
  return Copy(from, to, error, nullptr, CopyKind::kNew);
}

CopyResult ConfinedView::CopyNewRecorded(const std::string& from,
                                         const std::string& to,
                                         std::string* error,
                                         CopiedFile* copied) {
  return Copy(from, to, error, copied, CopyKind::kRecorded);
}

CopyResult ConfinedView::CopyStaged(const std::string& from,
                                    const std::string& to, std::string* error,
                                    CopiedFile* copied) {
  return Copy(from, to, error, copied, CopyKind::kStaged);
}

CopyResult ConfinedView::Copy(const std::string& from, const std::string& to,
                              std::string* error, CopiedFile* copied,
                              CopyKind kind) {
  const Place source = roots_.Where(from), target = roots_.Where(to);
  if (source.root < 0 && target.root < 0) {
    return kind == CopyKind::kNew ? base()->CopyNew(from, to, error)
           : kind == CopyKind::kRecorded
               ? base()->CopyNewRecorded(from, to, error, copied)
               : base()->CopyStaged(from, to, error, copied);
  }
  FileStamp stamp;
  const CopyResult result = CopyBeneath(from, source, to, target, error,
                                        copied != nullptr ? &stamp : nullptr,
                                        kind == CopyKind::kStaged);
  if (copied != nullptr) {
    // A stamp without a file number was not taken.
    *copied = CopiedFile{};
    if (result == CopyResult::kCopied && stamp.file != 0) {
      *copied = {stamp.size, {}, stamp};
    }
  }
  return result;
}

// A copy whose source or target lies beneath a root.
CopyResult ConfinedView::CopyBeneath(const std::string& from,
                                     const Place& source, const std::string& to,
                                     const Place& target, std::string* error,
                                     FileStamp* stamp, bool staged) {
  if (target.root < 0 || target.parts.empty() || target.climbs) {
    SetError(error, target.root < 0 || target.climbs ? EXDEV : EEXIST,
             "cannot copy to " + Shown(to));
    return target.root >= 0 && !target.climbs ? CopyResult::kTargetExists
                                              : CopyResult::kFailed;
  }
  struct stat st;
  ScopedFd in(OpenMessage(
      [&](int flags) {
        return source.root >= 0
                   ? roots_.OpenFile(source, flags)
                   : parts_.paths->OnPath(from, [flags](const char* p) {
                       return ::open(p, flags);
                     });
      },
      Shown(from), &st, error));
  if (in.get() < 0) return CopyResult::kFailed;
  CopyResult result =
      CopyInto(target, in.get(), st, from, to, error, stamp, staged, false);
  // A folder held from an earlier copy that is gone by now (removed, by
  // another program too) is looked up once more.
  if (result == CopyResult::kFailed && errno == ENOENT &&
      ::lseek(in.get(), 0, SEEK_SET) == 0) {
    result =
        CopyInto(target, in.get(), st, from, to, error, stamp, staged, true);
  }
  return result;
}

// Copies into the folder of `target`, held (see CopyFolder) unless `fresh`.
CopyResult ConfinedView::CopyInto(const Place& target, int in,
                                  const struct stat& st,
                                  const std::string& from,
                                  const std::string& to, std::string* error,
                                  FileStamp* stamp, bool staged, bool fresh) {
  std::string dir_path;
  const HandlePtr dir = roots_.CopyFolder(target, fresh, &dir_path);
  struct stat dir_status;
  if (dir == nullptr || (!staged && ::fstat(dir->fd(), &dir_status) != 0)) {
    SetError(error, errno, "cannot create " + Shown(to));
    return CopyResult::kFailed;
  }
  const std::string& name = target.parts.back();
  struct stat existing;
  int err = 0;
  CopyResult result = CopyResult::kFailed;
  if (staged) {
    bool changed = false;
    result = parts_.copier->CopyIntoNewAt(in, st, dir->fd(), dir_path, name,
                                          &changed, stamp);
    err = errno;
    if (result != CopyResult::kCopied) {
      SetCopyError(error, result, changed, err, Shown(from), Shown(to));
    }
  } else if (::fstatat(dir->fd(), name.c_str(), &existing,
                       AT_SYMLINK_NOFOLLOW) == 0 ||
             roots_.beneath().OtherSpelling(dir->fd(), dir_path, name,
                                            &dir_status) != name) {
    // A name that differs only in case is the same file to the server.
    result = CopyResult::kTargetExists;
    SetError(error, EEXIST, "cannot copy to " + Shown(to));
  } else {
    result = CopyNamed(*parts_.copier, *parts_.folded_names, in, st, dir->fd(),
                       dir_status, dir_path, name, Shown(from), Shown(to),
                       stamp, error);
    err = errno;
  }
  // A link where the copy was to go is no file to keep: it is refused as a
  // link (and left as it is).
  if (result == CopyResult::kTargetExists &&
      ::fstatat(dir->fd(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(existing.st_mode)) {
    SetError(error, ELOOP, "cannot copy to " + Shown(to));
    return CopyResult::kFailed;
  }
  errno = err;
  return result;
}

}  // namespace vm
