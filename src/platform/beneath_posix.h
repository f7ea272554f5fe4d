#ifndef VM_PLATFORM_BENEATH_POSIX_H_
#define VM_PLATFORM_BENEATH_POSIX_H_

#include <sys/stat.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/name_cache_posix.h"

namespace vm {

// Opens folders beneath a folder's descriptor without ever following a
// symbolic link: the kernel's openat2 with RESOLVE_BENEATH |
// RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS where it has it, else one
// openat(O_NOFOLLOW | O_DIRECTORY) per component, each from the
// descriptor of the one before. A component that is not there as spelled
// is looked for, as the target server looks names up, among the names of
// its folder without regard to ASCII case (or spelled in the code page's
// own bytes), read from the folder's descriptor. No path is ever used
// again by name, so a link swapped in by another program while a path is
// resolved is met, never followed. Safe to use from several threads.
class BeneathResolver {
 public:
  // Neither is owned; both outlive the resolver.
  BeneathResolver(const CodePage* code_page, FoldedNameCache& folded_names)
      : code_page_(code_page), folded_names_(folded_names) {}
  BeneathResolver(const BeneathResolver&) = delete;
  BeneathResolver& operator=(const BeneathResolver&) = delete;

  // Opens the folder made of the first `count` of `parts` (UTF-8 names,
  // none empty, "." or "..") beneath `dir`, whose native path is
  // `dir_path`, with `flags` | O_DIRECTORY (O_PATH, or O_RDONLY to read
  // it); `count` 0 opens `dir` itself anew. *path gets the native path of
  // the folder opened, as found. -1 with errno: ELOOP for a symbolic link
  // at any component, ENOENT, ENOTDIR, ...
  int OpenDir(int dir, const std::string& dir_path,
              const std::vector<std::string>& parts, size_t count, int flags,
              std::string* path) const;

  // The name of the entry `name` in the folder `dir` (native path
  // `dir_path`): `name` when there is one so spelled (a link too), else
  // the one found as OpenDir finds a component. *found tells whether there
  // is one; `name` is returned when not. `status`, when non-null, gets the
  // entry's status (not following a link) where it is there as spelled,
  // and is cleared otherwise.
  std::string NameIn(int dir, const std::string& dir_path,
                     const std::string& name, bool* found,
                     std::optional<struct stat>* status = nullptr) const;
  // NameIn for a name known not to be there as spelled; `dir_status`, when
  // non-null, is the folder's status just taken.
  std::string OtherSpelling(int dir, const std::string& dir_path,
                            const std::string& name,
                            const struct stat* dir_status = nullptr) const;

 private:
  int OpenEach(int dir, const std::string& dir_path,
               const std::vector<std::string>& parts, size_t count, int flags,
               std::string* path) const;

  const CodePage* code_page_;
  FoldedNameCache& folded_names_;
  // Cleared once the kernel turns openat2 down (too old, or a filter).
  mutable std::atomic<bool> openat2_{true};
};

}  // namespace vm

#endif  // VM_PLATFORM_BENEATH_POSIX_H_
