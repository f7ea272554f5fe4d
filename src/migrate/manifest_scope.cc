#include "migrate/manifest_scope.h"

#include <utility>

#include "migrate/texts.h"
#include "util/name_ops.h"

namespace vm {
namespace {

// Whether `rest` (what follows the store and its separator) is a plain
// relative path: parts split at backslashes (never at a double-byte
// character's second byte), none empty, "." or "..", none holding "/"
// (a separator on every system the undo runs on).
bool IsPlainBelow(const std::string& rest, const NameOps& names) {
  size_t at = 0;
  for (;;) {
    const size_t end = names.Find(rest, '\\', at);
    const std::string part = rest.substr(
        at, end == std::string::npos ? std::string::npos : end - at);
    if (part.empty() || part == "." || part == ".." ||
        part.find('/') != std::string::npos) {
      return false;
    }
    if (end == std::string::npos) return true;
    at = end + 1;
  }
}

bool IsPathEntry(const ManifestEntry& entry) {
  return entry.kind == ManifestEntry::Kind::kDirectory ||
         entry.kind == ManifestEntry::Kind::kMessageFile;
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

std::vector<UndoItem> ScopeManifest(RunManifest* manifest,
                                    const std::string& run_store,
                                    const std::string& store,
                                    const NameOps& names, const Texts& texts) {
  std::vector<UndoItem> outside;
  std::vector<ManifestEntry> kept;
  kept.reserve(manifest->entries.size());
  const std::string prefix = run_store + "\\";
  for (ManifestEntry& entry : manifest->entries) {
    if (!IsPathEntry(entry)) {
      kept.push_back(std::move(entry));
      continue;
    }
    const bool below = entry.path.size() > prefix.size() &&
                       entry.path.compare(0, prefix.size(), prefix) == 0 &&
                       IsPlainBelow(entry.path.substr(prefix.size()), names);
    if (!below) {
      outside.push_back({entry.kind, entry.path, UndoOutcome::kKept,
                         texts.undo_outside_target});
      continue;
    }
    entry.path = store + entry.path.substr(run_store.size());
    kept.push_back(std::move(entry));
  }
  manifest->entries = std::move(kept);
  return outside;
}

}  // namespace vm
