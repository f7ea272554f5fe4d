#include "migrate/undo_held.h"

#include <algorithm>
#include <unordered_map>

#include "migrate/mailbox_use.h"
#include "migrate/texts.h"
#include "platform/file_system.h"
#include "util/ascii.h"
#include "util/name_ops.h"

namespace vm {
namespace {

using Kind = ManifestEntry::Kind;
using Step = ManifestEntry::Step;

// Whether `held` is a plain relative path (parts not empty, "." or "..")
// whose first part is a holding folder's name and which has a file part.
bool IsHeldPath(const std::string& held, const NameOps& names) {
  std::vector<std::string> parts;
  size_t at = 0;
  for (;;) {
    const size_t end = names.Find(held, '\\', at);
    parts.push_back(held.substr(
        at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  for (const std::string& part : parts) {
    if (part.empty() || part == "." || part == ".." ||
        part.find('/') != std::string::npos) {
      return false;
    }
  }
  const std::string& first = parts.front();
  return parts.size() >= 2 && first.size() > 5 &&
         EqualsIgnoringAsciiCase(
             std::string_view(first).substr(first.size() - 5), ".held");
}

UndoItem HeldItem(Kind kind, const std::string& shown, UndoOutcome outcome,
                  const std::string& reason = std::string()) {
  return {kind, shown, outcome, reason, false, ""};
}

// Puts one file back; `held` is its full holding path.
UndoItem PutBack(FileSystem* fs, const Texts& texts, const ManifestEntry& e,
                 const std::string& held, bool dry_run) {
  const std::string shown = fs->DisplayPath(e.path);
  const bool in_place = fs->Exists(e.path);
  const bool in_holding = fs->Exists(held);
  if (!in_holding) {
    // Moved never (a kill before the rename) or put back already; a file
    // neither here nor there was taken from the holding folder.
    return in_place ? HeldItem(Kind::kHeldFile, shown, UndoOutcome::kGone)
                    : HeldItem(Kind::kHeldFile, shown, UndoOutcome::kKept,
                               texts.undo_held_missing);
  }
  if (in_place) {
    return HeldItem(Kind::kHeldFile, shown, UndoOutcome::kKept,
                    texts.undo_place_taken);
  }
  if (dry_run) return HeldItem(Kind::kHeldFile, shown, UndoOutcome::kRemoved);
  switch (fs->RenameNew(held, e.path, nullptr)) {
    case PublishResult::kPublished:
      return HeldItem(Kind::kHeldFile, shown, UndoOutcome::kRemoved);
    case PublishResult::kTargetExists:
      return HeldItem(Kind::kHeldFile, shown, UndoOutcome::kKept,
                      texts.undo_place_taken);
    case PublishResult::kFailed:
      break;
  }
  return HeldItem(Kind::kHeldFile, shown, UndoOutcome::kKept,
                  texts.undo_put_back_failed);
}

// Removes the holding folders above `held` that are empty, deepest first,
// up to and including the pass's holding folder.
void RemoveEmptyHolding(FileSystem* fs, const NameOps& names,
                        const std::string& runs_dir, const std::string& held) {
  std::vector<size_t> cuts;
  for (size_t at = names.Find(held, '\\'); at != std::string::npos;
       at = names.Find(held, '\\', at + 1)) {
    cuts.push_back(at);
  }
  for (size_t i = cuts.size(); i-- > 0;) {
    if (!fs->RemoveEmptyDir(runs_dir + "\\" + held.substr(0, cuts[i]),
                            nullptr)) {
      return;
    }
  }
}

}  // namespace

std::vector<UndoItem> UndoHeld(const std::vector<ManifestEntry>& entries,
                               FileSystem* fs, const NameOps& names,
                               const Texts& texts, const std::string& runs_dir,
                               bool dry_run) {
  // Each path by its last record; folders before files, in record order.
  std::unordered_map<std::string, size_t> last;
  for (size_t i = 0; i < entries.size(); ++i) {
    const ManifestEntry& e = entries[i];
    if (e.kind == Kind::kHeldFile || e.kind == Kind::kRemovedDir) {
      last[PathKey(e.path, names)] = i;
    }
  }
  std::vector<UndoItem> items;
  for (size_t i = 0; i < entries.size(); ++i) {
    const ManifestEntry& e = entries[i];
    if (e.kind != Kind::kRemovedDir || last[PathKey(e.path, names)] != i) {
      continue;
    }
    if (fs->Exists(e.path)) continue;  // never removed, or made again
    const bool made =
        dry_run || fs->MakeDir(e.path, nullptr) != DirMade::kFailed;
    items.push_back(
        HeldItem(Kind::kRemovedDir, fs->DisplayPath(e.path),
                 made ? UndoOutcome::kRemoved : UndoOutcome::kKept,
                 made ? std::string() : texts.undo_put_back_failed));
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    const ManifestEntry& e = entries[i];
    if (e.kind != Kind::kHeldFile || last[PathKey(e.path, names)] != i) {
      continue;
    }
    if (!IsHeldPath(e.held, names)) {
      items.push_back(HeldItem(Kind::kHeldFile, fs->DisplayPath(e.path),
                               UndoOutcome::kKept, texts.undo_held_outside));
      continue;
    }
    UndoItem item = PutBack(fs, texts, e, runs_dir + "\\" + e.held, dry_run);
    // An intent still in place was never carried out: nothing to say.
    if (e.step == Step::kIntent && item.outcome == UndoOutcome::kGone) {
      continue;
    }
    items.push_back(std::move(item));
    if (!dry_run) RemoveEmptyHolding(fs, names, runs_dir, e.held);
  }
  return items;
}

}  // namespace vm
