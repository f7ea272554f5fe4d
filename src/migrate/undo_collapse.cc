#include "migrate/undo_collapse.h"

#include <unordered_map>

#include "migrate/pending_marks.h"
#include "migrate/undo_files.h"
#include "util/name_ops.h"

namespace vm {
namespace {

using Kind = ManifestEntry::Kind;
using Step = ManifestEntry::Step;

// What a record is about: one path, account, domain or rewritten
// password; the last record of each counts.
std::string EntryKey(const ManifestEntry& e, const NameOps& names) {
  switch (e.kind) {
    case Kind::kDirectory:
    case Kind::kMessageFile:
    case Kind::kHeldFile:
    case Kind::kRemovedDir:
      return "p" + PathKey(e.path, names);
    case Kind::kAccount:
      return "a" + ItemKey(e, names);
    case Kind::kPassword:
      return "w" + ItemKey(e, names);
    case Kind::kDomain:
      break;
  }
  return "d" + ItemKey(e, names);
}

// A mirror's move or removal: put back by UndoHeld, not undone here.
bool IsMirrorRecord(const ManifestEntry& e) {
  return e.kind == Kind::kHeldFile || e.kind == Kind::kRemovedDir;
}

// A pending mark the run was about to make in a mailbox that was there:
// its bookkeeping, not something it added for the server.
bool IsMark(const ManifestEntry& e, const NameOps& names) {
  return e.kind == Kind::kMessageFile && e.step == Step::kIntent &&
         LastPathPart(e.path, names) == PendingMarks::kFileName;
}

}  // namespace

std::string ItemKey(const ManifestEntry& e, const NameOps& names) {
  return names.Fold(e.name) + '\0' + names.Fold(e.domain);
}

CollapsedManifest CollapseManifest(const RunManifest& manifest,
                                   const NameOps& names) {
  const auto& entries = manifest.entries;
  std::unordered_map<std::string, size_t> last;
  std::unordered_map<std::string, bool> saved;
  for (size_t i = 0; i < entries.size(); ++i) {
    const ManifestEntry& e = entries[i];
    if (IsMirrorRecord(e)) continue;
    const std::string key = EntryKey(e, names);
    if (e.step == Step::kSaved) {
      if (last.count(key) > 0) saved[key] = true;
      continue;
    }
    last[key] = i;
    saved[key] = e.step == Step::kMade;
  }
  CollapsedManifest out;
  std::vector<const ManifestEntry*> dirs;
  for (size_t i = entries.size(); i-- > 0;) {
    const ManifestEntry& e = entries[i];
    if (IsMirrorRecord(e)) continue;
    const std::string key = EntryKey(e, names);
    auto it = last.find(key);
    if (it == last.end() || it->second != i) continue;
    if (e.kind == Kind::kDirectory || e.kind == Kind::kMessageFile) {
      out.run_paths[key.substr(1)] = &e;
    }
    if (IsMark(e, names)) {
      out.marks.push_back(&e);
    } else if (e.kind == Kind::kMessageFile) {
      out.paths.push_back(&e);
    }
    if (e.kind == Kind::kDirectory && e.step != Step::kFound) {
      dirs.push_back(&e);
    }
    if (e.kind == Kind::kAccount) out.accounts.push_back({&e, saved[key]});
    if (e.kind == Kind::kDomain) out.domains.push_back({&e, saved[key]});
    if (e.kind == Kind::kPassword) out.passwords.push_back({&e, saved[key]});
  }
  out.paths.insert(out.paths.end(), dirs.begin(), dirs.end());
  return out;
}

}  // namespace vm
