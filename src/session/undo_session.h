#ifndef VM_SESSION_UNDO_SESSION_H_
#define VM_SESSION_UNDO_SESSION_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "migrate/run_manifest.h"
#include "migrate/undo_run.h"

namespace vm {

class CodePage;
class FileSystem;
class NameOps;
class SharedConfigStates;
class StopRequest;
struct AppState;
struct Texts;

// The undo of one run from its manifest, as both front ends run it: the
// checks before anything is touched, the removals, and what the undo
// leaves (its result list, its report). The front ends take the target's
// run lock themselves (exclusive; shared for a dry run) and draw.

// Why an undo may not start; nothing is removed.
enum class UndoCheck {
  kGo,
  kUnreadable,          // the manifest cannot be read
  kDamaged,             // see *bad_line
  kUnsupportedVersion,  // a manifest of another format version
  kOtherTarget,         // the manifest is of another target
};

// Reads the manifest at `manifest_path` (ANSI) into `manifest` and checks
// it was written for the target `target_dir` (ManifestIsOfTarget).
UndoCheck CheckUndoManifest(FileSystem* disk, const std::string& target_dir,
                            const std::string& manifest_path,
                            RunManifest* manifest, int* bad_line);

// The refusal's message (ANSI). The unreadable one ends where the
// manifest's path is to follow; the front end adds it as it shows paths.
std::string UndoRefusal(const Texts& texts, UndoCheck check, int bad_line,
                        const RunManifest& manifest);

// One undo on the target (whose run lock the caller holds). A dry run
// reads through an overlay, so not even a store's save reaches the disk.
struct UndoRequest {
  FileSystem* disk = nullptr;
  const CodePage* code_page = nullptr;
  const Texts* texts = nullptr;
  SharedConfigStates* config_states = nullptr;
  std::string target_dir;  // ANSI
  bool dry_run = false;
  const StopRequest* stop = nullptr;  // may be null
  // Called on the undo's threads after each item is handled; may be empty.
  std::function<void()> item_handled;
};
UndoResult RunUndo(const UndoRequest& request, const RunManifest& manifest);

// The result list (ANSI): a head line naming the manifest, one line per
// item (UndoLine), and the summary.
std::vector<std::string> UndoResultLines(const Texts& texts,
                                         const std::string& manifest_path,
                                         const UndoResult& result,
                                         bool dry_run);

// The undo's JSON report (UTF-8), as docs/user-guide.md describes it.
std::string UndoReportJson(const CodePage& code_page,
                           const std::string& manifest_path,
                           const std::string& target_dir,
                           const UndoResult& result, bool dry_run,
                           int64_t started, bool stopped);

// The same as CSV for spreadsheets (UTF-8 with a byte-order mark, CR LF
// line ends, fields guarded as the run's CSV report guards them): a header
// row, then kind, name, outcome and reason of each item.
std::string UndoReportCsv(const CodePage& code_page, const UndoResult& result);

// A front end without files of its own (the dialog) keeps the undo's log
// and report as it keeps a run's records: `<base>.log` and `<base>.json`
// in the first of `dirs` that may hold records (MayHoldRecords; missing
// folders are made), beside the records of the runs. Returns the log's
// path (ANSI); empty, with `error`, when no folder took them.
std::string WriteUndoRecords(FileSystem* disk, const NameOps& names,
                             const AppState& state,
                             const std::vector<std::string>& dirs,
                             const std::string& base, const std::string& log,
                             const std::string& report, std::string* error);

}  // namespace vm

#endif  // VM_SESSION_UNDO_SESSION_H_
