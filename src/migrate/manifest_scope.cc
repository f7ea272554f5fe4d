#include "migrate/manifest_scope.h"

#include <utility>

#include "migrate/texts.h"
#include "util/name_ops.h"

namespace vm {
namespace {

// Whether `rest` (what follows the store and its separator, every "/"
// already a backslash) is a plain relative path: parts split at
// backslashes (never at a double-byte character's second byte), none
// empty, "." or "..".
bool IsPlainBelow(const std::string& rest, const NameOps& names) {
  size_t at = 0;
  for (;;) {
    const size_t end = names.Find(rest, '\\', at);
    const std::string part = rest.substr(
        at, end == std::string::npos ? std::string::npos : end - at);
    if (part.empty() || part == "." || part == "..") {
      return false;
    }
    if (end == std::string::npos) return true;
    at = end + 1;
  }
}

// A path with every "/" written as "\\": both are separators wherever the
// undo runs, and manifests write one or the other. No byte of a
// double-byte character is a "/".
std::string Backslashed(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

bool IsPathEntry(const ManifestEntry& entry) {
  return entry.kind == ManifestEntry::Kind::kDirectory ||
         entry.kind == ManifestEntry::Kind::kMessageFile ||
         entry.kind == ManifestEntry::Kind::kHeldFile ||
         entry.kind == ManifestEntry::Kind::kRemovedDir;
}

}  // namespace

std::string RecordedStore(const RunManifest& manifest,
                          const std::string& target_dir,
                          const std::string& store, const NameOps& names) {
  const std::string prefix = target_dir + "\\";
  if (store.size() > prefix.size() &&
      names.EqualsIgnoringCase(store.substr(0, prefix.size()), prefix)) {
    return manifest.header.target_dir + store.substr(target_dir.size());
  }
  return store;
}

StoreScope::StoreScope(const std::string& run_store, std::string store,
                       const NameOps& names)
    : prefix_(Backslashed(run_store) + "\\"),
      store_(std::move(store)),
      names_(names) {}

bool StoreScope::Take(ManifestEntry* entry) const {
  const std::string path = Backslashed(entry->path);
  if (path.size() <= prefix_.size() ||
      path.compare(0, prefix_.size(), prefix_) != 0 ||
      !IsPlainBelow(path.substr(prefix_.size()), names_)) {
    return false;
  }
  entry->path = store_ + path.substr(prefix_.size() - 1);
  return true;
}

std::vector<UndoItem> ScopeManifest(RunManifest* manifest,
                                    const std::string& run_store,
                                    const std::string& store,
                                    const NameOps& names, const Texts& texts) {
  std::vector<UndoItem> outside;
  std::vector<ManifestEntry> kept;
  kept.reserve(manifest->entries.size());
  const StoreScope scope(run_store, store, names);
  for (ManifestEntry& entry : manifest->entries) {
    if (IsPathEntry(entry) && !scope.Take(&entry)) {
      outside.push_back({entry.kind, entry.path, UndoOutcome::kKept,
                         texts.undo_outside_target, false, ""});
      continue;
    }
    kept.push_back(std::move(entry));
  }
  manifest->entries = std::move(kept);
  return outside;
}

}  // namespace vm
