#include "migrate/mirror_proofs.h"

#include <utility>

#include "migrate/mailbox_use.h"
#include "migrate/manifest_scope.h"
#include "migrate/texts.h"
#include "migrate/undo_files.h"
#include "platform/file_system.h"

namespace vm {

MirrorProofs::MirrorProofs(NameOps names, std::string target_dir,
                           std::string store)
    : names_(std::move(names)),
      target_dir_(std::move(target_dir)),
      store_(std::move(store)) {}

int MirrorProofs::Load(FileSystem* fs, const std::string& runs_dir,
                       const FileId& data_folder) {
  files_.clear();
  dirs_.clear();
  std::vector<DirEntry> entries;
  fs->List(runs_dir + "\\*.manifest", &entries);
  int taken = 0;
  for (const DirEntry& entry : entries) {
    if (entry.is_directory || entry.is_special) continue;
    std::string text;
    if (fs->ReadFile(entry.path, &text, nullptr) && Add(text, data_folder)) {
      ++taken;
    }
  }
  return taken;
}

bool MirrorProofs::Add(std::string_view text, const FileId& data_folder) {
  RunManifest manifest;
  int bad_line = 0;
  if (ReadManifest(text, &manifest, &bad_line) != ManifestStatus::kRead ||
      !(manifest.header.data_folder == data_folder)) {
    return false;
  }
  // Only the paths beneath the store, given this run's spelling of it.
  const Texts unused_texts;
  ScopeManifest(&manifest, RecordedStore(manifest, target_dir_, store_, names_),
                store_, names_, unused_texts);
  for (ManifestEntry& e : manifest.entries) {
    if (e.step != ManifestEntry::Step::kMade) continue;
    if (e.kind == ManifestEntry::Kind::kDirectory) {
      dirs_.insert(PathKey(e.path, names_));
    } else if (e.kind == ManifestEntry::Kind::kMessageFile) {
      files_[PathKey(e.path, names_)].push_back(
          {e.size, std::move(e.md5), e.stamp});
    }
  }
  return true;
}

bool MirrorProofs::FileUnchanged(FileSystem* fs,
                                 const std::string& path) const {
  auto it = files_.find(PathKey(path, names_));
  if (it == files_.end()) return false;
  for (const Proof& proof : it->second) {
    ManifestEntry e = MessageFileEntry(path, proof.size, proof.md5);
    e.stamp = proof.stamp;
    bool unreadable = false;
    if (FileAsRecorded(fs, e, &unreadable)) return true;
  }
  return false;
}

bool MirrorProofs::MadeDir(const std::string& path) const {
  return dirs_.count(PathKey(path, names_)) > 0;
}

}  // namespace vm
