#include "migrate/undo_run.h"

#include <set>
#include <utility>

#include "config/domain_store.h"
#include "config/target_context.h"
#include "config/user_store.h"
#include "migrate/message_names.h"
#include "migrate/pending_marks.h"
#include "migrate/stop_request.h"
#include "migrate/texts.h"
#include "platform/file_system.h"
#include "util/md5.h"

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

std::string LastPart(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

class Undo {
 public:
  Undo(TargetContext* target, const Texts& texts, bool dry_run,
       const StopRequest* stop)
      : fs_(target->fs),
        target_(target),
        texts_(texts),
        dry_run_(dry_run),
        stop_(stop) {}

  UndoResult Run(const RunManifest& manifest) {
    for (const ManifestEntry* e : Newest(manifest, Kind::kMessageFile)) {
      if (Stopped(*e, e->path)) continue;
      UndoFile(*e);
    }
    for (const ManifestEntry* e : Newest(manifest, Kind::kDirectory)) {
      if (Stopped(*e, e->path)) continue;
      UndoDirectory(*e);
    }
    UndoAccounts(Newest(manifest, Kind::kAccount));
    UndoDomains(Newest(manifest, Kind::kDomain));
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

  // A stop request leaves every file and folder not yet handled as it
  // is; the configuration items are handled in one save each, and only
  // when nothing was left before them.
  bool Stopped(const ManifestEntry& e, const std::string& what) {
    if (stop_ == nullptr || !stop_->requested()) return false;
    Add(e, what, UndoOutcome::kStopped);
    return true;
  }

  void UndoFile(const ManifestEntry& e) {
    if (!fs_->Exists(e.path)) return Add(e, e.path, UndoOutcome::kGone);
    std::string bytes;
    if (!fs_->ReadFile(e.path, &bytes, nullptr)) {
      return Add(e, e.path, UndoOutcome::kKept, texts_.undo_file_unreadable);
    }
    if (bytes.size() != e.size || Md5Hex(bytes) != e.md5) {
      return Add(e, e.path, UndoOutcome::kKept, texts_.undo_file_changed);
    }
    Remove(e, [&] { return fs_->RemoveFile(e.path, nullptr); });
  }

  void UndoDirectory(const ManifestEntry& e) {
    if (!fs_->Exists(e.path)) return Add(e, e.path, UndoOutcome::kGone);
    std::vector<DirEntry> held;
    if (!fs_->List(e.path + "\\*", &held)) {
      return Add(e, e.path, UndoOutcome::kKept, texts_.undo_remove_failed);
    }
    // A run killed half way may have left its pending mark and copies in
    // progress in a folder it made: they are its own, and go with it.
    std::vector<std::string> leftovers;
    for (const DirEntry& entry : held) {
      if (entry.name == "." || entry.name == "..") continue;
      if (removed_.count(target_->names.Fold(entry.path)) > 0) continue;
      const bool own = !entry.is_directory && !entry.is_special &&
                       (entry.name == PendingMarks::kFileName ||
                        IsCopyTemporaryName(entry.name, target_->names));
      if (!own) {
        kept_dirs_.insert(target_->names.Fold(e.path));
        return Add(e, e.path, UndoOutcome::kKept, texts_.undo_not_empty);
      }
      leftovers.push_back(entry.path);
    }
    Remove(e, [&] {
      for (const std::string& path : leftovers) {
        if (!fs_->RemoveFile(path, nullptr)) return false;
      }
      return fs_->RemoveEmptyDir(e.path, nullptr);
    });
  }

  template <typename Removal>
  void Remove(const ManifestEntry& e, Removal removal) {
    if (!dry_run_ && !removal()) {
      if (e.kind == Kind::kDirectory) {
        kept_dirs_.insert(target_->names.Fold(e.path));
      }
      return Add(e, e.path, UndoOutcome::kKept, texts_.undo_remove_failed);
    }
    removed_.insert(target_->names.Fold(e.path));
    Add(e, e.path, UndoOutcome::kRemoved);
  }

  // Whether a folder kept is the mailbox of the account: named by the
  // user, or by the user and its domain.
  bool MailboxKept(const ManifestEntry& e) const {
    const NameOps& names = target_->names;
    for (const std::string& dir : kept_dirs_) {
      const std::string box = LastPart(dir);
      if (box == names.Fold(e.name) ||
          box == names.Fold(e.name + "@" + e.domain)) {
        return true;
      }
    }
    return false;
  }

  static std::string AccountName(const ManifestEntry& e) {
    // A name given as "user@domain" is shown as given.
    return e.domain.empty() || e.name.find('@') != std::string::npos
               ? e.name
               : e.name + "@" + e.domain;
  }

  void UndoAccounts(const std::vector<const ManifestEntry*>& entries) {
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
    if (items.empty()) return;
    UserStore users(target_);
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
  const Texts& texts_;
  const bool dry_run_;
  const StopRequest* stop_;
  UndoResult result_;
  std::set<std::string> removed_;       // folded paths removed (or would be)
  std::set<std::string> kept_dirs_;     // folded paths of folders kept
  std::set<std::string> kept_domains_;  // folded domains of kept accounts
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
                   const Texts& texts, bool dry_run, const StopRequest* stop) {
  return Undo(target, texts, dry_run, stop).Run(manifest);
}

std::string UndoLine(const Texts& texts, const UndoItem& item) {
  switch (item.outcome) {
    case UndoOutcome::kRemoved:
      return texts.undo_removed + item.what;
    case UndoOutcome::kGone:
      return texts.undo_gone + item.what;
    case UndoOutcome::kStopped:
      return texts.undo_not_reached + item.what;
    case UndoOutcome::kKept:
      break;
  }
  return texts.undo_kept + item.what + texts.why_open + item.reason +
         texts.why_close;
}

}  // namespace vm
