#include "migrate/undo_run.h"

#include <set>
#include <utility>

#include "config/domain_store.h"
#include "config/target_context.h"
#include "config/user_store.h"
#include "migrate/pending_marks.h"
#include "migrate/source_lists.h"
#include "migrate/stop_request.h"
#include "migrate/target_mailbox.h"
#include "migrate/texts.h"
#include "migrate/undo_files.h"
#include "platform/file_system.h"

namespace vm {
namespace {

using Kind = ManifestEntry::Kind;

// The entries of one kind, newest first.
std::vector<const ManifestEntry*> Newest(const RunManifest& manifest,
                                         Kind kind) {
  std::vector<const ManifestEntry*> found;
  for (auto it = manifest.entries.rbegin(); it != manifest.entries.rend();
       ++it) {
    if (it->kind == kind) found.push_back(&*it);
  }
  return found;
}

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
    // Message files, then folders: each folder after what the run put in.
    std::vector<const ManifestEntry*> paths =
        Newest(manifest, Kind::kMessageFile);
    for (const ManifestEntry* e : Newest(manifest, Kind::kDirectory)) {
      paths.push_back(e);
    }
    const std::vector<PathUndo> outcomes =
        UndoPaths(paths, fs_, target_->names, texts_, dry_run_, stop_, jobs_,
                  item_handled_);
    for (size_t i = 0; i < paths.size(); ++i) {
      const ManifestEntry& e = *paths[i];
      // A folder kept keeps its account (see MailboxKept).
      if (e.kind == Kind::kDirectory &&
          outcomes[i].outcome == UndoOutcome::kKept) {
        kept_boxes_.insert(
            target_->names.Fold(LastPathPart(e.path, target_->names)));
      }
      Add(e, e.path, outcomes[i].outcome, outcomes[i].reason);
    }
    const std::vector<const ManifestEntry*> accounts =
        Newest(manifest, Kind::kAccount);
    UndoStaging(accounts);
    const std::vector<const ManifestEntry*> domains =
        Newest(manifest, Kind::kDomain);
    UndoAccounts(accounts, domains);
    UndoDomains(domains);
    return std::move(result_);
  }

 private:
  // `what` is the entry's path or name; a path is shown as the platform
  // writes it.
  void Add(const ManifestEntry& e, const std::string& what, UndoOutcome outcome,
           const std::string& reason = std::string()) {
    const bool path =
        e.kind == Kind::kMessageFile || e.kind == Kind::kDirectory;
    result_.items.push_back(
        {e.kind, path ? fs_->DisplayPath(what) : what, outcome, reason});
    // The files and folders were counted as their threads handled them.
    if (!path && item_handled_) item_handled_();
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

  // Whether a folder kept is the mailbox of the account: named by the
  // user, or by the user and its domain.
  bool MailboxKept(const ManifestEntry& e) const {
    const NameOps& names = target_->names;
    return kept_boxes_.count(names.Fold(e.name)) > 0 ||
           kept_boxes_.count(names.Fold(e.name + "@" + e.domain)) > 0;
  }

  static std::string AccountName(const ManifestEntry& e) {
    // A name given as "user@domain" is shown as given.
    return e.domain.empty() || e.name.find('@') != std::string::npos
               ? e.name
               : e.name + "@" + e.domain;
  }

  // A run killed while it built a new mailbox under its staging name (see
  // PendingMarks::StagingOf) left that folder: the manifest lists the
  // account but none of the files, which go into it only once the mailbox
  // is published. Named by its mailbox, a listed account's staging folder
  // is the run's own, and with the target's run lock held no run stages
  // meanwhile. One that does not exist is not listed.
  void UndoStaging(const std::vector<const ManifestEntry*>& accounts) {
    if (accounts.empty() || mail_store_.empty()) return;
    const NameOps& names = target_->names;
    const std::string primary = DomainStore(target_).FindPrimaryDomain();
    PendingMarks marks(fs_, mail_store_);
    std::set<std::string> seen;
    for (const ManifestEntry* e : accounts) {
      const std::string box =
          TargetMailbox(mail_store_, SourceAccount{e->name, e->domain, {}},
                        primary, names, nullptr);
      if (box.empty()) continue;
      const std::string staging = marks.StagingOf(box);
      if (!seen.insert(names.Fold(staging)).second || !fs_->Exists(staging)) {
        continue;
      }
      const ManifestEntry folder = DirectoryEntry(staging);
      if (Stopped(folder, staging)) continue;
      if (!StagedOnly(staging)) {
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

  // Then notes which of the run's `domains` still have a user or an
  // alias: kept with it, or added by the server since the run (a domain
  // taken from under them would leave them without one). The store is
  // closed before the domains are touched, so a dry run saves nothing.
  void UndoAccounts(const std::vector<const ManifestEntry*>& entries,
                    const std::vector<const ManifestEntry*>& domains) {
    std::vector<const ManifestEntry*> asked;
    std::vector<AddedItem> items;
    for (const ManifestEntry* e : entries) {
      if (Stopped(*e, AccountName(*e))) continue;
      if (MailboxKept(*e)) {
        kept_domains_.insert(target_->names.Fold(e->domain));
        Add(*e, AccountName(*e), UndoOutcome::kKept, texts_.undo_mailbox_kept);
        continue;
      }
      asked.push_back(e);
      items.push_back(e->item);
    }
    UserStore users(target_);
    if (!items.empty()) {
      std::vector<RemovalOutcome> outcomes = users.RemoveAddedUsers(items);
      if (!dry_run_) {
        outcomes = users.SavePending() ? users.TakeSavedRemovals()
                                       : std::vector<RemovalOutcome>();
      }
      for (size_t i = 0; i < asked.size(); ++i) {
        const bool kept = !Settle(*asked[i], AccountName(*asked[i]),
                                  i < outcomes.size() ? &outcomes[i] : nullptr);
        if (kept) kept_domains_.insert(target_->names.Fold(asked[i]->domain));
      }
    }
    for (const ManifestEntry* d : domains) {
      if (users.DomainInUse(d->name)) {
        kept_domains_.insert(target_->names.Fold(d->name));
      }
    }
  }

  void UndoDomains(const std::vector<const ManifestEntry*>& entries) {
    std::vector<const ManifestEntry*> asked;
    std::vector<AddedItem> items;
    for (const ManifestEntry* e : entries) {
      if (Stopped(*e, e->name)) continue;
      if (kept_domains_.count(target_->names.Fold(e->name)) > 0) {
        Add(*e, e->name, UndoOutcome::kKept, texts_.undo_domain_in_use);
        continue;
      }
      asked.push_back(e);
      items.push_back(e->item);
    }
    if (items.empty()) return;
    DomainStore domains(target_);
    std::vector<RemovalOutcome> outcomes = domains.RemoveAddedDomains(items);
    if (!dry_run_) {
      outcomes = domains.SavePending() ? domains.TakeSavedRemovals()
                                       : std::vector<RemovalOutcome>();
    }
    for (size_t i = 0; i < asked.size(); ++i) {
      Settle(*asked[i], asked[i]->name,
             i < outcomes.size() ? &outcomes[i] : nullptr);
    }
  }

  // Records the outcome of a removal from a configuration file (null: the
  // save failed). True unless the item is kept.
  bool Settle(const ManifestEntry& e, const std::string& what,
              const RemovalOutcome* outcome) {
    if (outcome == nullptr) {
      Add(e, what, UndoOutcome::kKept, texts_.undo_save_failed);
      return false;
    }
    switch (*outcome) {
      case RemovalOutcome::kRemoved:
        Add(e, what, UndoOutcome::kRemoved);
        return true;
      case RemovalOutcome::kGone:
        Add(e, what, UndoOutcome::kGone);
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
  // Folded last parts of the folders kept.
  std::set<std::string> kept_boxes_;
  // Folded domains that still have users: kept ones, or the server's.
  std::set<std::string> kept_domains_;
};

}  // namespace

std::string ManifestDataFolder(FileSystem* fs, const std::string& target_dir) {
  const std::string data = target_dir + "\\data";
  FileLocation where;
  if (fs->Locate(data, &where) && where.exists) return data;
  return target_dir;
}

bool ManifestIsOfTarget(FileSystem* fs, const RunManifest& manifest,
                        const std::string& target_dir) {
  FileLocation where;
  return fs->Locate(ManifestDataFolder(fs, target_dir), &where) &&
         where.Is(manifest.header.data_folder);
}

UndoResult UndoRun(const RunManifest& manifest, TargetContext* target,
                   const std::string& mail_store, const Texts& texts,
                   bool dry_run, const StopRequest* stop, int jobs,
                   const std::function<void()>& item_handled) {
  return Undo(target, mail_store, texts, dry_run, stop, jobs, item_handled)
      .Run(manifest);
}

std::string UndoLine(const Texts& texts, const UndoItem& item, bool preview) {
  switch (item.outcome) {
    case UndoOutcome::kRemoved:
      return (preview ? texts.undo_would_remove : texts.undo_removed) +
             item.what;
    case UndoOutcome::kGone:
      return texts.undo_gone + item.what;
    case UndoOutcome::kStopped:
      return texts.undo_not_reached + item.what;
    case UndoOutcome::kKept:
      break;
  }
  return (preview ? texts.undo_would_keep : texts.undo_kept) + item.what +
         texts.why_open + item.reason + texts.why_close;
}

}  // namespace vm
