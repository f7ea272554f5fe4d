#ifndef VM_PLATFORM_ATOMIC_REPLACE_POSIX_H_
#define VM_PLATFORM_ATOMIC_REPLACE_POSIX_H_

#include <string>

#include "platform/file_system.h"

namespace vm {

// Replaces the whole contents of the file at the native path `native` (what
// a symbolic link points to, not the link) so that a reader, or a crash,
// sees the old text or the new one, never a mix: the new text is written to
// a temporary file beside it, flushed and renamed over it. The replacement
// keeps the old file's owner, group and mode; a new file is readable by its
// owner only unless a sibling of its kind shows otherwise. Where a rename
// cannot keep those (the directory is not writable, only root may give the
// file away), the file is rewritten in place with room reserved first.
// Temporary files left by killed processes are removed. `shown` names the
// file in error texts; *written receives the path that was written.
bool ReplaceFileContents(const std::string& native, const std::string& shown,
                         const std::string& contents, std::string* written,
                         std::string* error);

// The same with the text handed over in pieces by `produce`, written to
// the temporary file as they come, so that it is never held whole; only
// the rare rewrite in place collects it first. A producer that returns
// false fails the replace with the file unchanged.
bool ReplaceFileContentsBy(const std::string& native, const std::string& shown,
                           const ContentsProducer& produce,
                           std::string* written, std::string* error);

// The same for the file `name` in the directory `dir` (a descriptor that
// may be O_PATH), which is resolved nowhere else: a symbolic link at `name`
// is refused (FileErrorKind::kIsLink), never replaced nor written through;
// the temporary file, the rename and the flush all act in `dir`.
bool ReplaceFileContentsAt(int dir, const std::string& name,
                           const std::string& shown,
                           const ContentsProducer& produce, std::string* error);

}  // namespace vm

#endif  // VM_PLATFORM_ATOMIC_REPLACE_POSIX_H_
