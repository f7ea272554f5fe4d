#ifndef VM_PLATFORM_PATH_RESOLUTION_POSIX_H_
#define VM_PLATFORM_PATH_RESOLUTION_POSIX_H_

#include <errno.h>

#include <string>

#include "platform/code_page.h"
#include "platform/name_cache_posix.h"

namespace vm {

// Maps the core's ANSI, backslash-separated paths to native UTF-8 paths.
// The target server treats names without regard to ASCII case, so a
// component that does not exist as spelled is looked for among the names
// of its directory, through the folded-name cache; a name some archive
// tool unpacked in the code page's own bytes is found too. Safe to use
// from several threads (the cache has a lock of its own).
class PathResolver {
 public:
  // Neither is owned; both outlive the resolver.
  PathResolver(const CodePage* code_page, FoldedNameCache& folded_names)
      : code_page_(code_page), folded_names_(folded_names) {}
  PathResolver(const PathResolver&) = delete;
  PathResolver& operator=(const PathResolver&) = delete;

  std::string Spelled(const std::string& path) const;
  template <typename Op>
  int OnPath(const std::string& path, const Op& op) const;
  std::string NativeToCreate(const std::string& path) const;
  std::string Native(const std::string& path) const;
  std::string Resolve(const std::string& utf8) const;
  std::string RawName(const std::string& dir, const std::string& name) const;

 private:
  std::string ResolveEach(const std::string& utf8) const;

  const CodePage* code_page_;
  FoldedNameCache& folded_names_;
};

// Runs `op` (a system call on a native path: -1 and errno on failure)
// on the path as spelled, and once more on the path resolved without
// case when nothing is there: most paths are spelled as on disk, and a
// look-up of each before its use would double the cost of the call.
template <typename Op>
int PathResolver::OnPath(const std::string& path, const Op& op) const {
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

}  // namespace vm

#endif  // VM_PLATFORM_PATH_RESOLUTION_POSIX_H_
