#ifndef VM_APP_UNDO_CONSOLE_H_
#define VM_APP_UNDO_CONSOLE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vm {

class FileSystem;
class ManifestFile;
struct CommandLine;
struct ConsoleIo;
struct ConsoleSetup;

// `velquor-migrate --undo MANIFEST (--target DIR | --output DIR)`: reads
// the manifest (a damaged one, one of another format version or of
// another target is refused, nothing removed), takes the target's run lock
// (shared for --dry-run), undoes the run (see UndoRun), prints one result
// line per item and a summary, and writes --log and --report. Returns 0
// when everything the manifest lists was removed or gone (would be, for a
// dry run), 1 otherwise or when it could not start. An interrupt (Ctrl-C,
// a signal) stops the undo: the removals under way finish, the log and the
// report say what was removed and what was not reached, and the status is
// 130; the same command then finishes the undo.
int RunUndoConsole(const CommandLine& options, const ConsoleIo& io,
                   int64_t started);

// The manifest of a console run that writes, kept through `fs` (the
// session's view of the target; see ManifestFile); null for one that
// writes nothing.
std::unique_ptr<ManifestFile> WritingRunManifest(const ConsoleSetup& setup,
                                                 FileSystem* fs, bool writes,
                                                 int64_t started);

}  // namespace vm

#endif  // VM_APP_UNDO_CONSOLE_H_
