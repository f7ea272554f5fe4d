#ifndef VM_SESSION_UNDONE_COPIES_H_
#define VM_SESSION_UNDONE_COPIES_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vm {

class CodePage;
class FileSystem;
struct Texts;

// One run's manifest may lie in two places, byte for byte alike (beside a
// report or log, and in the target's runs folder); either undoes the run.
// Once an undo removed everything, every copy it can find is marked
// undone (undone_mark.h), so that neither is offered or undone again. A
// copy is known by its bytes up to the mark, never by its name: every
// file in the runs folder is untrusted.

// What tells one run's manifest from another: the run's bytes (RunBytes).
struct RunBytesId {
  uint64_t size = 0;
  std::string digest;  // MD5, lowercase hexadecimal
  static RunBytesId Of(std::string_view run_bytes);
};

// The copies of the run `id` in `folder` (ANSI): each regular
// `*.manifest` whose bytes less its marks are the run's, with its mark's
// time (empty: unmarked).
struct ManifestCopy {
  std::string path;
  std::string undone;
};
std::vector<ManifestCopy> ManifestCopiesIn(FileSystem* fs,
                                           const std::string& folder,
                                           const RunBytesId& id);

// When a copy of the run `id` in the runs folder of `target_dir` says the
// run was undone; empty when none does. Reads through the view confined
// to the target.
std::string UndoneInRunsFolder(FileSystem* disk, const CodePage& code_page,
                               const std::string& target_dir,
                               const RunBytesId& id);

// Marks the run `id` undone at `when`: its copies in the runs folder, then
// `manifest_path` unless one of those was it. Returns the copies that
// could not be marked, each as "path: reason" (ANSI); the undo stands.
std::vector<std::string> MarkRunUndone(
    FileSystem* disk, const CodePage& code_page, const std::string& target_dir,
    const std::string& manifest_path, const RunBytesId& id,
    const std::string& when, const Texts& texts);

}  // namespace vm

#endif  // VM_SESSION_UNDONE_COPIES_H_
