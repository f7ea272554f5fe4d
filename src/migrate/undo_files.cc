#include "migrate/undo_files.h"

#include <algorithm>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "migrate/message_names.h"
#include "migrate/pending_marks.h"
#include "migrate/stop_request.h"
#include "migrate/texts.h"
#include "migrate/worker_pool.h"
#include "platform/file_system.h"
#include "util/md5.h"
#include "util/name_ops.h"

namespace vm {
namespace {

using Kind = ManifestEntry::Kind;

// The positions of the separators of `path` that stand alone: a trail
// byte of a double-byte character may be a backslash.
std::vector<size_t> Separators(const std::string& path, const NameOps& names) {
  std::vector<size_t> found;
  for (size_t i = 0; i < path.size(); i += names.CharLength(path, i)) {
    if (path[i] == '\\' || path[i] == '/') found.push_back(i);
  }
  return found;
}

// The entries split into mailboxes: each entry goes with the outermost
// folder of the manifest that holds it (or is it); a file in no such
// folder (a sync's copy into a folder that was there) goes with the other
// files of its folder. Each mailbox lists its entries in the order given.
std::vector<std::vector<size_t>> Mailboxes(
    const std::vector<const ManifestEntry*>& entries, const NameOps& names) {
  std::vector<std::string> folded;
  std::unordered_set<std::string> dirs;
  for (const ManifestEntry* e : entries) {
    folded.push_back(names.Fold(e->path));
    if (e->kind == Kind::kDirectory) dirs.insert(folded.back());
  }
  std::unordered_map<std::string, size_t> index;
  std::vector<std::vector<size_t>> boxes;
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string& path = folded[i];
    const std::vector<size_t> separators = Separators(path, names);
    std::string key = path;
    for (size_t at : separators) {
      if (dirs.count(path.substr(0, at)) > 0) {
        key = path.substr(0, at);
        break;
      }
    }
    if (key == path && entries[i]->kind != Kind::kDirectory &&
        !separators.empty()) {
      key = path.substr(0, separators.back());
    }
    auto [it, added] = index.emplace(key, boxes.size());
    if (added) boxes.emplace_back();
    boxes[it->second].push_back(i);
  }
  return boxes;
}

// One mailbox's entries, handled in order on one thread.
class MailboxUndo {
 public:
  MailboxUndo(FileSystem* fs, const NameOps& names, const Texts& texts,
              bool dry_run)
      : fs_(fs), names_(names), texts_(texts), dry_run_(dry_run) {}

  PathUndo Undo(const ManifestEntry& e) {
    const bool intent = e.step == ManifestEntry::Step::kIntent;
    // A copy recorded by its stamp is looked at once: a stamp taken says
    // it is there. Anything else that is no such file is looked for.
    FileStamp now;
    const bool stamped = !intent && e.kind == Kind::kMessageFile && e.stamp &&
                         fs_->StampOf(e.path, &now);
    if (!stamped && !fs_->Exists(e.path)) {
      return {UndoOutcome::kGone, {}, intent};
    }
    if (intent) return {UndoOutcome::kKept, texts_.undo_unconfirmed};
    PathUndo done = stamped                        ? UndoStamped(e, now)
                    : e.kind == Kind::kMessageFile ? UndoFile(e)
                                                   : UndoFolder(e);
    if (done.outcome == UndoOutcome::kRemoved) {
      removed_.insert(names_.Fold(e.path));
    }
    return done;
  }

 private:
  // A copy whose stamp `now` was just taken.
  PathUndo UndoStamped(const ManifestEntry& e, const FileStamp& now) {
    if (now != *e.stamp) {
      return {UndoOutcome::kKept, texts_.undo_file_changed};
    }
    return Removed(dry_run_ || fs_->RemoveFile(e.path, nullptr));
  }

  PathUndo UndoFile(const ManifestEntry& e) {
    bool unreadable = false;
    if (!FileAsRecorded(fs_, e, &unreadable)) {
      return {UndoOutcome::kKept, unreadable ? texts_.undo_file_unreadable
                                             : texts_.undo_file_changed};
    }
    return Removed(dry_run_ || fs_->RemoveFile(e.path, nullptr));
  }

  PathUndo UndoFolder(const ManifestEntry& e) {
    std::vector<DirEntry> held;
    if (!fs_->List(e.path + "\\*", &held)) {
      return {UndoOutcome::kKept, texts_.undo_remove_failed};
    }
    // A run killed half way may have left its pending mark and copies in
    // progress in a folder it made: they are its own, and go with it.
    std::vector<std::string> leftovers;
    for (const DirEntry& entry : held) {
      if (entry.name == "." || entry.name == "..") continue;
      if (removed_.count(names_.Fold(entry.path)) > 0) continue;
      const bool own = !entry.is_directory && !entry.is_special &&
                       (entry.name == PendingMarks::kFileName ||
                        IsCopyTemporaryName(entry.name, names_));
      if (!own) return {UndoOutcome::kKept, texts_.undo_not_empty};
      leftovers.push_back(entry.path);
    }
    if (dry_run_) return Removed(true);
    for (const std::string& path : leftovers) {
      if (!fs_->RemoveFile(path, nullptr)) return Removed(false);
    }
    return Removed(fs_->RemoveEmptyDir(e.path, nullptr));
  }

  PathUndo Removed(bool removed) const {
    if (!removed) return {UndoOutcome::kKept, texts_.undo_remove_failed};
    return {UndoOutcome::kRemoved, {}};
  }

  FileSystem* fs_;
  const NameOps& names_;
  const Texts& texts_;
  const bool dry_run_;
  // Folded paths of what this mailbox's undo removed (or would have).
  std::unordered_set<std::string> removed_;
};

}  // namespace

bool FileAsRecorded(FileSystem* fs, const ManifestEntry& e, bool* unreadable) {
  *unreadable = false;
  if (e.stamp) {
    // Anything but a regular file of exactly that stamp is not the copy
    // as the run left it.
    FileStamp now;
    return fs->StampOf(e.path, &now) && now == *e.stamp;
  }
  std::string bytes;
  if (!fs->ReadFile(e.path, &bytes, nullptr)) {
    *unreadable = true;
    return false;
  }
  return bytes.size() == e.size && Md5Hex(bytes) == e.md5;
}

std::vector<PathUndo> UndoPaths(
    const std::vector<const ManifestEntry*>& entries, FileSystem* fs,
    const NameOps& names, const Texts& texts, bool dry_run,
    const StopRequest* stop, int jobs, const std::function<void()>& handled) {
  std::vector<PathUndo> outcomes(entries.size());
  {
    // Each mailbox writes only its own entries' outcomes; the pool's end
    // (its threads joined) makes them visible here.
    std::vector<std::vector<size_t>> boxes = Mailboxes(entries, names);
    // No more threads than mailboxes.
    const size_t threads = std::min<size_t>(boxes.size(), std::max(1, jobs));
    WorkerPool pool(static_cast<int>(std::max<size_t>(threads, 1)));
    for (std::vector<size_t>& box : boxes) {
      pool.Submit([&, box = std::move(box)] {
        MailboxUndo undo(fs, names, texts, dry_run);
        for (size_t i : box) {
          outcomes[i] = stop != nullptr && stop->requested()
                            ? PathUndo{UndoOutcome::kStopped, {}}
                            : undo.Undo(*entries[i]);
          if (handled) handled();
        }
      });
    }
  }
  return outcomes;
}

std::string LastPathPart(const std::string& path, const NameOps& names) {
  const std::vector<size_t> separators = Separators(path, names);
  return separators.empty() ? path : path.substr(separators.back() + 1);
}

}  // namespace vm
