#include "platform/copy_by_path_posix.h"

#include <errno.h>
#include <fcntl.h>

#include "platform/copy_into_posix.h"
#include "platform/name_cache_posix.h"
#include "platform/path_resolution_posix.h"
#include "platform/posix_io.h"

namespace vm {

CopyResult CopyToNewPath(const CopyWriter& copier, FoldedNameCache& names,
                         const PathResolver& paths, int in,
                         const struct stat& st, const std::string& to,
                         const std::string& shown_from,
                         const std::string& shown_to, FileStamp* stamp,
                         std::string* error) {
  std::string target = paths.Spelled(to);
  if (target.empty()) {
    SetError(error, EILSEQ, "cannot create " + shown_to);
    return CopyResult::kFailed;
  }
  auto open_dir = [](const std::string& file) {
    return ::open(DirName(file).c_str(),
                  O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  };
  int dir_fd = open_dir(target);
  if (dir_fd < 0 && errno == ENOENT) {
    const std::string resolved = paths.Resolve(target);
    if (resolved != target) {
      target = resolved;
      dir_fd = open_dir(target);
    }
  }
  ScopedFd dir(dir_fd);
  struct stat dir_status;
  if (dir.get() < 0 || ::fstat(dir.get(), &dir_status) != 0) {
    SetError(error, errno == ELOOP ? ENOTDIR : errno,
             "cannot create " + shown_to);
    return CopyResult::kFailed;
  }
  const std::string parent = DirName(target);
  const std::string name = target.substr(target.find_last_of('/') + 1);
  // A name that differs only in case is the same file to the server.
  struct stat existing;
  if (::fstatat(dir.get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 ||
      !names.FindIn(parent, dir_status, name).empty() ||
      !paths.RawName(parent, name).empty()) {
    SetError(error, EEXIST, "cannot copy to " + shown_to);
    return CopyResult::kTargetExists;
  }
  return CopyNamed(copier, names, in, st, dir.get(), dir_status, parent, name,
                   shown_from, shown_to, stamp, error);
}

}  // namespace vm
