#include "migrate/undo_run.h"

#include <algorithm>
#include <set>
#include <unordered_map>
#include <utility>

#include "config/domain_store.h"
#include "config/target_context.h"
#include "config/user_store.h"
#include "migrate/mailbox_use.h"
#include "migrate/pending_marks.h"
#include "migrate/source_lists.h"
#include "migrate/stop_request.h"
#include "migrate/target_mailbox.h"
#include "migrate/texts.h"
#include "migrate/undo_choices.h"
#include "migrate/undo_collapse.h"
#include "migrate/undo_files.h"
#include "migrate/undo_held.h"
#include "migrate/undo_passwords.h"
#include "platform/copy_temporary.h"
#include "platform/file_system.h"
#include "util/ascii.h"

namespace vm {
namespace {

using Kind = ManifestEntry::Kind;

class Undo {
 public:
  Undo(TargetContext* target, const std::string& mail_store, const Texts& texts,
       bool dry_run, const StopRequest* stop, int jobs,
       const std::function<void()>& item_handled)
      : fs_(target->fs),
        target_(target),
        mail_store_(mail_store),
        texts_(texts),
        dry_run_(dry_run),
        stop_(stop),
        jobs_(jobs),
        item_handled_(item_handled) {}

  UndoResult Run(const RunManifest& manifest) {
    // An item whose domain element is empty belongs to the primary domain.
    target_->primary_domain = DomainStore(target_).FindPrimaryDomain();
    collapsed_ = CollapseManifest(manifest, target_->names);
    KeepUsedAccounts();
    UndoPaths();
    PutBackHeld(manifest);
    UndoMarks();
    UndoStaging();
    UndoRewrittenPasswords();
    UndoAccounts();
    UndoDomains();
    return std::move(result_);
  }

 private:
  std::string Fold(const std::string& s) const {
    return target_->names.Fold(s);
  }
  std::string ItemKey(const ManifestEntry& e) const {
    return vm::ItemKey(e, target_->names);
  }

  // A run ended early leaves its marks: they go (unless in a kept
  // mailbox), unlisted; only one that cannot be removed is named.
  void UndoMarks() {
    for (const ManifestEntry* e : collapsed_.marks) {
      if (InKeptBox(PathKey(e->path, target_->names))) continue;
      // Only a regular file by that name (a link is not the run's).
      const std::string name = LastPathPart(e->path, target_->names);
      std::vector<DirEntry> held;
      if (!fs_->List(e->path.substr(0, e->path.size() - name.size()) + "*",
                     &held)) {
        continue;
      }
      bool regular = false;
      for (const DirEntry& entry : held) {
        regular |=
            entry.name == name && !entry.is_directory && !entry.is_special;
      }
      if (!regular) continue;
      if (!dry_run_ && !fs_->RemoveFile(e->path, nullptr)) {
        Add(*e, e->path, UndoOutcome::kKept, texts_.undo_remove_failed);
      }
    }
  }

  std::string BoxOf(const ManifestEntry& e) const {
    if (mail_store_.empty()) return std::string();
    return TargetMailbox(mail_store_, SourceAccount{e.name, e.domain, {}},
                         target_->primary_domain, target_->names, nullptr);
  }

  // Before anything is removed: the accounts that show use since the run
  // are kept whole (see UndoRun).
  void KeepUsedAccounts() {
    std::vector<AddedItem> items;
    for (const CollapsedItem& a : collapsed_.accounts)
      items.push_back(a.e->item);
    std::vector<RemovalOutcome> outcomes;
    {
      UserStore users(target_);
      outcomes = users.CheckAddedUsers(items);
    }
    for (size_t i = 0; i < collapsed_.accounts.size(); ++i) {
      const ManifestEntry& e = *collapsed_.accounts[i].e;
      const std::string box = BoxOf(e);
      std::string why;
      if (i < outcomes.size() && outcomes[i] == RemovalOutcome::kChanged) {
        why = texts_.undo_item_changed;
      } else if (!box.empty()) {
        why =
            MailboxUse(fs_, target_->names, texts_, box, collapsed_.run_paths);
      }
      if (why.empty()) continue;
      kept_accounts_[ItemKey(e)] = texts_.undo_account_kept_whole + why;
      if (!box.empty()) kept_boxes_.push_back(PathKey(box, target_->names));
    }
  }

  // Whether `key` (a PathKey) is one of the kept mailboxes or in one.
  bool InKeptBox(const std::string& key) const {
    for (const std::string& box : kept_boxes_) {
      if (key.compare(0, box.size(), box) == 0 &&
          (key.size() == box.size() || key[box.size()] == '\\')) {
        return true;
      }
    }
    return false;
  }

  // What a mirror pass took out goes back once the pass's own copies are
  // gone (a moved message's new copy first, then its old place back).
  void PutBackHeld(const RunManifest& manifest) {
    const std::string runs_dir = RunRecordsFolder(fs_, target_->target_dir);
    for (UndoItem& item : UndoHeld(manifest.entries, fs_, target_->names,
                                   texts_, runs_dir, dry_run_)) {
      if (item_handled_) item_handled_();
      Count(item.outcome);
      result_.items.push_back(std::move(item));
    }
  }

  void UndoPaths() {
    std::vector<const ManifestEntry*> paths;
    for (const ManifestEntry* e : collapsed_.paths) {
      if (!InKeptBox(PathKey(e->path, target_->names))) paths.push_back(e);
    }
    const std::vector<PathUndo> outcomes =
        vm::UndoPaths(paths, fs_, target_->names, texts_, dry_run_, stop_,
                      jobs_, item_handled_);
    for (size_t i = 0; i < paths.size(); ++i) {
      const ManifestEntry& e = *paths[i];
      // Mail that arrived after the check keeps its mailbox's folder, and
      // the account with it.
      if (e.kind == Kind::kDirectory &&
          outcomes[i].outcome == UndoOutcome::kKept) {
        kept_dirs_.push_back(PathKey(e.path, target_->names));
      }
      Add(e, e.path, outcomes[i].outcome, outcomes[i].reason,
          outcomes[i].never_made);
    }
  }

  // `what` is the entry's path or name; a path is shown as the platform
  // writes it.
  void Add(const ManifestEntry& e, const std::string& what, UndoOutcome outcome,
           const std::string& reason = std::string(), bool never_made = false) {
    const bool path =
        e.kind == Kind::kMessageFile || e.kind == Kind::kDirectory;
    Count({e.kind, path ? fs_->DisplayPath(what) : what, outcome, reason,
           never_made,
           path                       ? AccountOfPath(what)
           : e.kind == Kind::kAccount ? AccountName(e)
                                      : std::string()});
  }

  void Count(UndoItem item) {
    const UndoOutcome outcome = item.outcome;
    // The files and folders were counted as their threads handled them.
    const bool path =
        item.kind == Kind::kMessageFile || item.kind == Kind::kDirectory;
    result_.items.push_back(std::move(item));
    if (!path && item_handled_) item_handled_();
    Count(outcome);
  }

  void Count(UndoOutcome outcome) {
    switch (outcome) {
      case UndoOutcome::kRemoved:
        ++result_.removed;
        break;
      case UndoOutcome::kGone:
        ++result_.gone;
        break;
      case UndoOutcome::kKept:
        ++result_.kept;
        break;
      case UndoOutcome::kStopped:
        ++result_.stopped;
        break;
    }
  }

  // A stop request leaves the configuration items not yet handled as
  // they are: the items of each configuration file go in one save, which
  // a stop does not cut.
  bool Stopped(const ManifestEntry& e, const std::string& what) {
    if (stop_ == nullptr || !stop_->requested()) return false;
    Add(e, what, UndoOutcome::kStopped);
    return true;
  }

  // Why the account is kept whole; empty when it goes.
  std::string KeptBecause(const ManifestEntry& e) const {
    auto it = kept_accounts_.find(ItemKey(e));
    if (it != kept_accounts_.end()) return it->second;
    const std::string box = BoxOf(e);
    if (box.empty()) return std::string();
    const std::string key = PathKey(box, target_->names);
    for (const std::string& dir : kept_dirs_) {
      if (dir.compare(0, key.size(), key) == 0 &&
          (dir.size() == key.size() || dir[key.size()] == '\\')) {
        return texts_.undo_mailbox_kept;
      }
    }
    return std::string();
  }

  // The account whose mailbox `path` lies in: the mailbox is the store's
  // folder named "user@domain", or "user" for the primary domain, or that
  // name behind the staging prefix; empty for a path outside the store.
  // The paths the undo handles begin with its spelling of the store
  // (ScopeManifest, StagingOf).
  std::string AccountOfPath(const std::string& path) const {
    const size_t at = mail_store_.size();
    if (at == 0 || path.size() <= at + 1 ||
        path.compare(0, at, mail_store_) != 0 ||
        (path[at] != '\\' && path[at] != '/')) {
      return std::string();
    }
    std::string box = path.substr(at + 1);
    box = box.substr(0, std::min(target_->names.Find(box, '\\'),
                                 target_->names.Find(box, '/')));
    const std::string staging = std::string(kCopyTempInfix) + "stage.";
    if (box.compare(0, staging.size(), staging) == 0) {
      box = box.substr(staging.size());
    }
    if (box.empty()) return std::string();
    return target_->names.Find(box, '@') != std::string::npos
               ? box
               : box + "@" + target_->primary_domain;
  }

  // Whether `path` is a folder right below the store (a mailbox).
  bool IsMailboxPath(const std::string& path) const {
    const size_t at = mail_store_.size();
    return at > 0 && path.size() > at + 1 &&
           path.compare(0, at, mail_store_) == 0 &&
           (path[at] == '\\' || path[at] == '/') &&
           target_->names.Find(path, '\\', at + 1) == std::string::npos &&
           path.find('/', at + 1) == std::string::npos;
  }

  static std::string AccountName(const ManifestEntry& e) {
    // A name given as "user@domain" is shown as given.
    return e.domain.empty() || e.name.find('@') != std::string::npos
               ? e.name
               : e.name + "@" + e.domain;
  }

  // A run ended while it built a new mailbox under its staging name (see
  // PendingMarks::StagingOf) left that folder, which nobody sees: the
  // manifest names its mailbox (as about to be made, or by its account)
  // but none of the files, which are recorded once it is published. With
  // the target's run lock held no run stages meanwhile. One that does not
  // exist is not listed; a kept account keeps it (it is its pending mark).
  void UndoStaging() {
    if (mail_store_.empty()) return;
    std::vector<std::pair<std::string, std::string>> boxes;  // box, kept why
    for (const CollapsedItem& a : collapsed_.accounts) {
      const std::string box = BoxOf(*a.e);
      if (!box.empty()) boxes.emplace_back(box, KeptBecause(*a.e));
    }
    // A mailbox recorded as made may still be staged: its files are
    // recorded just before the rename that publishes it.
    for (const ManifestEntry* e : collapsed_.paths) {
      if (e->kind == Kind::kDirectory && IsMailboxPath(e->path)) {
        boxes.emplace_back(e->path, std::string());
      }
    }
    PendingMarks marks(fs_, mail_store_);
    std::set<std::string> seen;
    for (const auto& [box, kept] : boxes) {
      const std::string staging = marks.StagingOf(box);
      if (!seen.insert(PathKey(staging, target_->names)).second ||
          !fs_->Exists(staging)) {
        continue;
      }
      const ManifestEntry folder = DirectoryEntry(staging);
      if (Stopped(folder, staging)) continue;
      if (!kept.empty()) {
        Add(folder, staging, UndoOutcome::kKept, kept);
      } else if (!StagedOnly(staging)) {
        Add(folder, staging, UndoOutcome::kKept, texts_.undo_not_empty);
      } else if (dry_run_ || marks.Discard(staging)) {
        Add(folder, staging, UndoOutcome::kRemoved);
      } else {
        Add(folder, staging, UndoOutcome::kKept, texts_.undo_remove_failed);
      }
    }
  }

  // Whether `staging` holds only what a run stages there: its mark and
  // folders of message files. Anything else (a folder deeper down, a
  // device) someone else put there: the folder is kept whole.
  bool StagedOnly(const std::string& staging) const {
    std::vector<DirEntry> entries;
    if (!fs_->List(staging + "\\*", &entries)) return false;
    for (const DirEntry& entry : entries) {
      if (entry.is_special) return false;
      if (!entry.is_directory) continue;
      std::vector<DirEntry> files;
      if (!fs_->List(entry.path + "\\*", &files)) return false;
      for (const DirEntry& file : files) {
        if (file.is_directory || file.is_special) return false;
      }
    }
    return true;
  }

  // The passwords a mirror pass rewrote go back to what they were, where
  // the item is still as the pass left it. A stop leaves them all: they
  // go in one save.
  void UndoRewrittenPasswords() {
    std::vector<RewrittenPassword> asked;
    for (const CollapsedItem& p : collapsed_.passwords) {
      if (!Stopped(*p.e, AccountName(*p.e))) asked.push_back({p.e, p.saved});
    }
    for (UndoItem& item : UndoPasswords(asked, target_, texts_, dry_run_)) {
      Count(std::move(item));
    }
  }

  // Then notes which of the run's domains still have a user or an alias:
  // kept with it, or added by the server since the run (a domain taken
  // from under them would leave them without one). The store is closed
  // before the domains are touched, so a dry run saves nothing.
  void UndoAccounts() {
    std::vector<const CollapsedItem*> asked;
    std::vector<AddedItem> items;
    for (const CollapsedItem& a : collapsed_.accounts) {
      const ManifestEntry& e = *a.e;
      if (Stopped(e, AccountName(e))) continue;
      const std::string kept = KeptBecause(e);
      if (!kept.empty()) {
        kept_domains_.insert(Fold(e.domain));
        Add(e, AccountName(e), UndoOutcome::kKept, kept);
        continue;
      }
      asked.push_back(&a);
      items.push_back(e.item);
    }
    UserStore users(target_);
    if (!items.empty()) {
      std::vector<RemovalOutcome> outcomes = users.RemoveAddedUsers(items);
      if (!dry_run_) {
        outcomes = users.SavePending() ? users.TakeSavedRemovals()
                                       : std::vector<RemovalOutcome>();
      }
      for (size_t i = 0; i < asked.size(); ++i) {
        const ManifestEntry& e = *asked[i]->e;
        const bool kept = !Settle(*asked[i], AccountName(e),
                                  i < outcomes.size() ? &outcomes[i] : nullptr);
        if (kept) kept_domains_.insert(Fold(e.domain));
      }
    }
    for (const CollapsedItem& d : collapsed_.domains) {
      if (users.DomainInUse(d.e->name)) kept_domains_.insert(Fold(d.e->name));
    }
  }

  // The pending mark a run ended early left in a mailbox that was there
  // before it (one it made is removed whole) goes with its account: it
  // would make the next run take the mailbox for one of its own.
  void Unmark(const ManifestEntry& account) {
    const std::string box = BoxOf(account);
    const std::string mark = box + "\\" + PendingMarks::kFileName;
    if (!box.empty() && fs_->Exists(mark)) fs_->RemoveFile(mark, nullptr);
  }

  void UndoDomains() {
    std::vector<const CollapsedItem*> asked;
    std::vector<AddedItem> items;
    for (const CollapsedItem& d : collapsed_.domains) {
      const ManifestEntry& e = *d.e;
      if (Stopped(e, e.name)) continue;
      if (kept_domains_.count(Fold(e.name)) > 0) {
        Add(e, e.name, UndoOutcome::kKept, texts_.undo_domain_in_use);
        continue;
      }
      asked.push_back(&d);
      items.push_back(e.item);
    }
    if (items.empty()) return;
    DomainStore domains(target_);
    std::vector<RemovalOutcome> outcomes = domains.RemoveAddedDomains(items);
    if (!dry_run_) {
      outcomes = domains.SavePending() ? domains.TakeSavedRemovals()
                                       : std::vector<RemovalOutcome>();
    }
    for (size_t i = 0; i < asked.size(); ++i) {
      Settle(*asked[i], asked[i]->e->name,
             i < outcomes.size() ? &outcomes[i] : nullptr);
    }
  }

  // Records the outcome of a removal from a configuration file (null: the
  // save failed). True unless the item is kept. An item no save was known
  // to write, and that is not there, was never made.
  bool Settle(const CollapsedItem& item, const std::string& what,
              const RemovalOutcome* outcome) {
    const ManifestEntry& e = *item.e;
    if (outcome == nullptr) {
      Add(e, what, UndoOutcome::kKept, texts_.undo_save_failed);
      return false;
    }
    switch (*outcome) {
      case RemovalOutcome::kRemoved:
        Add(e, what, UndoOutcome::kRemoved);
        return true;
      case RemovalOutcome::kGone:
        Add(e, what, UndoOutcome::kGone, std::string(), !item.saved);
        return true;
      case RemovalOutcome::kChanged:
        Add(e, what, UndoOutcome::kKept, texts_.undo_item_changed);
        return false;
      case RemovalOutcome::kNotFound:
        break;
    }
    Add(e, what, UndoOutcome::kKept, texts_.undo_item_not_found);
    return false;
  }

  FileSystem* fs_;
  TargetContext* target_;
  const std::string mail_store_;
  const Texts& texts_;
  const bool dry_run_;
  const StopRequest* stop_;
  const int jobs_;
  const std::function<void()>& item_handled_;
  UndoResult result_;
  CollapsedManifest collapsed_;  // the manifest by its last records
  // Accounts kept whole (by ItemKey) with why, and their mailboxes.
  std::unordered_map<std::string, std::string> kept_accounts_;
  std::vector<std::string> kept_boxes_;
  std::vector<std::string> kept_dirs_;  // folders kept, by PathKey
  // Folded domains that still have users: kept ones, or the server's.
  std::set<std::string> kept_domains_;
};

}  // namespace

UndoResult UndoRun(const RunManifest& manifest, TargetContext* target,
                   const std::string& mail_store, const Texts& texts,
                   bool dry_run, const StopRequest* stop, int jobs,
                   const std::function<void()>& item_handled) {
  return Undo(target, mail_store, texts, dry_run, stop, jobs, item_handled)
      .Run(manifest);
}

}  // namespace vm
