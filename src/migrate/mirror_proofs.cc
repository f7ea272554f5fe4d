#include "migrate/mirror_proofs.h"

#include <algorithm>

#include "migrate/mailbox_use.h"
#include "migrate/undo_files.h"
#include "platform/file_system.h"

namespace vm {

void MirrorProofs::AddFile(std::string_view key, uint64_t size,
                           std::string_view md5,
                           std::optional<FileStamp> stamp) {
  Proof proof;
  proof.key_at = keys_.size();
  proof.key_size = key.size();
  proof.size = size;
  proof.has_md5 = md5.size() == proof.md5.size();
  if (proof.has_md5) std::copy(md5.begin(), md5.end(), proof.md5.begin());
  proof.stamp = stamp;
  keys_ += key;
  files_.push_back(proof);
}

void MirrorProofs::Seal() {
  if (order_.size() == files_.size()) return;
  order_.resize(files_.size());
  for (size_t i = 0; i < files_.size(); ++i) {
    order_[i] = static_cast<uint32_t>(i);
  }
  std::sort(order_.begin(), order_.end(), [this](uint32_t a, uint32_t b) {
    const int by_key = KeyOf(files_[a]).compare(KeyOf(files_[b]));
    return by_key != 0 ? by_key < 0 : a < b;
  });
}

bool MirrorProofs::Proves(FileSystem* fs, const std::string& path,
                          const Proof& proof) const {
  ManifestEntry e = MessageFileEntry(
      path, proof.size,
      proof.has_md5 ? std::string(proof.md5.begin(), proof.md5.end())
                    : std::string());
  e.stamp = proof.stamp;
  bool unreadable = false;
  return FileAsRecorded(fs, e, &unreadable);
}

bool MirrorProofs::FileUnchanged(FileSystem* fs,
                                 const std::string& path) const {
  const std::string key = PathKey(path, names_);
  auto it = std::lower_bound(order_.begin(), order_.end(), key,
                             [this](uint32_t at, const std::string& k) {
                               return KeyOf(files_[at]) < k;
                             });
  for (; it != order_.end() && KeyOf(files_[*it]) == key; ++it) {
    if (Proves(fs, path, files_[*it])) return true;
  }
  return false;
}

bool MirrorProofs::MadeDir(const std::string& path) const {
  return dirs_.count(PathKey(path, names_)) > 0;
}

}  // namespace vm
