#ifndef VM_MIGRATE_UNDO_RUN_H_
#define VM_MIGRATE_UNDO_RUN_H_

#include <functional>
#include <string>
#include <vector>

#include "migrate/run_manifest.h"

namespace vm {

class FileSystem;
class StopRequest;
struct TargetContext;
struct Texts;

// What became of one thing a manifest lists.
enum class UndoOutcome {
  kRemoved,  // taken out (a dry run: would be)
  kGone,     // not there any more: nothing to do
  kKept,     // left as it is; see the reason
  kStopped,  // not reached: a stop request ended the undo first
};

struct UndoItem {
  ManifestEntry::Kind kind = ManifestEntry::Kind::kMessageFile;
  std::string what;  // ANSI: the path, the domain, or "user@domain"
  UndoOutcome outcome = UndoOutcome::kKept;
  std::string reason;  // ANSI, from the texts; empty unless kKept
  // With kGone: the run recorded it as about to be made and was ended
  // before it made it.
  bool never_made = false;
  // ANSI "user@domain": the account whose item or mailbox it is; empty
  // for a domain and for a path outside the mail store.
  std::string account;
};

struct UndoResult {
  // In the order the undo handles them: message files (newest first),
  // then folders (deepest and newest first), the staging folders a killed
  // run left (as folders), accounts, domains.
  std::vector<UndoItem> items;
  int removed = 0;
  int gone = 0;  // never_made ones included
  int kept = 0;
  int stopped = 0;
  // Of the kept: paths the manifest names outside the target.
  int outside = 0;
  // Copies of the run's manifest an undo that removed everything could
  // not mark as undone ("path: reason", the path as shown); the undo
  // stands, but those copies may still be offered.
  std::vector<std::string> unmarked;
  // Everything listed was removed or was gone already.
  bool complete() const { return kept == 0 && stopped == 0; }
};

// The folder whose identity a manifest records for `target_dir`: its
// `data` folder when there is one (an installed target), else the folder
// itself (an output folder).
std::string ManifestDataFolder(FileSystem* fs, const std::string& target_dir);

// Whether `manifest` was written for the target `target_dir` reaches,
// judged by the identity of its data folder, not by the path's spelling.
bool ManifestIsOfTarget(FileSystem* fs, const RunManifest& manifest,
                        const std::string& target_dir);

// Whether an undo may read `manifest`'s names in the code page
// `code_page` (a --codepage, or the one the front end would use): a
// manifest that names its code page must name this one (compared
// ignoring ASCII case); one of version 1 or 2 names none.
bool ManifestCodePageAgrees(const RunManifest& manifest,
                            const std::string& code_page);

// Undoes the run `manifest` records on `target` (whose identity the caller
// has checked, and whose run lock it holds). First it keeps, whole, each
// account the run added that shows use since: its item changed, or its
// mailbox holds what the run did not put there (mail delivered, a folder,
// a message changed), was made by another program while the run staged
// it, or cannot be proved the run's (a kill came between a copy and its
// record); the account, its mailbox and the mail the run copied into it
// stay, listed once with the reason. Then it removes each message file
// whose size and digest are still the recorded ones, then each folder the
// run made that is empty afterwards, then, with all they hold, the staging
// folders (in the mail store `mail_store`) of the mailboxes of the accounts
// it lists, which a run killed before it published them left, then the
// accounts and the domains it added whose items still hold the recorded
// bytes (through the stores, so a running server's changes meanwhile are
// merged, not lost). Anything else is kept, with its reason: a changed
// message file, a folder holding what the run did not put there (its
// account is kept with it), an item changed since, a domain an account
// kept still needs, a staging folder holding more than a run stages. With
// `dry_run` nothing is written and the outcomes say what an undo would do.
// An undo stopped or killed half way leaves the rest listed; a second undo
// from the same manifest finishes it. `stop` may be null; once it is requested,
// the removals under way finish and everything not reached is kStopped.
// The files and folders are removed by `jobs` threads, a mailbox each; the
// result is the same for every `jobs`. A removal mostly waits for the file
// system's journal, so many in flight cost little and gain much.
// `item_handled` (may be empty) is called once per item once its outcome
// is settled, from the undo's threads, for a front end's progress.
inline constexpr int kUndoJobs = 16;
UndoResult UndoRun(const RunManifest& manifest, TargetContext* target,
                   const std::string& mail_store, const Texts& texts,
                   bool dry_run, const StopRequest* stop, int jobs = kUndoJobs,
                   const std::function<void()>& item_handled = {});

// The result-list line of one item; a preview's says what would be done.
std::string UndoLine(const Texts& texts, const UndoItem& item, bool preview);

}  // namespace vm

#endif  // VM_MIGRATE_UNDO_RUN_H_
